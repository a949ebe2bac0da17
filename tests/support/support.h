// Shared helpers for the tests: where the ROM images live, a fresh machine,
// and standard output captured as a string.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Path below the shared material (roms/, testdata/). TARVIKON_SHARED in the
// environment overrides the location configured at build time.
std::string shared_path(const std::string& relative);

// True when all four VIC 20 ROM images are present.
bool roms_available();

// What a test does when something it needs (ROM images, a test image, Xvfb,
// a sound server) is missing: skips with the reason, or fails when
// TARVIKON_REQUIRE_ALL=1 is set, as CI does. In a helper, the caller must
// return afterwards; SKIP_OR_FAIL returns from the test itself.
bool require_all();
void skip_or_fail(const std::string& reason);
#define SKIP_OR_FAIL(reason)  \
    do {                      \
        skip_or_fail(reason); \
        return;               \
    } while (0)

#define REQUIRE_ROMS()                                                                                  \
    do {                                                                                                \
        if (!roms_available())                                                                          \
            SKIP_OR_FAIL("VIC 20 ROM images not found in " + shared_path("roms") +                     \
                         " (set TARVIKON_SHARED to the directory that holds roms/)");                   \
    } while (0)

// A fresh address space as start-up leaves it before the ROMs are loaded:
// 64 KB allocated, $0000-$8FFF and $A000-$BFFF filled with $FF, the rest 0,
// every block RAM, quiet settings (no sound, not verbose), PAL timing. Also
// wires the chips and installs the register handlers.
void new_machine(uint8_t timing = 1);

// Runs fn and returns what it printed on standard output.
std::string capture_stdout(const std::function<void()>& fn);

// Forks; the child runs `before`, then SIGTERM arrives and the frame ends
// (the frame calls run). True when the signal ended the child.
bool sigterm_ends_the_frame(const std::function<void()>& before);

// A temporary directory, removed with everything in it when the object goes.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Writes bytes to a file (creating or truncating it).
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// A 6502 test program assembled from tests/asm, put at $0200 with PC there;
// false when it was not built.
bool load_test_program(const std::string& name);

// The same for a program whose word at $0203 is its interrupt handler: a
// JMP to it is put at the kernal's IRQ entry.
bool load_test_program_with_handler(const std::string& name);

// Runs a loaded program's set-up, with the machine's interrupts on, up to
// the BRK that ends it, and points PC at its main part ($0203).
void run_test_program_set_up();

// A new machine of `timing` (0 NTSC, 1 PAL) with the program built for its
// line length, NAME_65 or NAME_71, loaded and its set-up run; false when
// it was not built.
bool start_line_timed_program(const std::string& name, uint8_t timing);
