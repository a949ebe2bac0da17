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
#define REQUIRE_ROMS()                                                                              \
    do {                                                                                            \
        if (!roms_available())                                                                      \
            GTEST_SKIP() << "VIC 20 ROM images not found in " << shared_path("roms")               \
                         << " (set TARVIKON_SHARED to the directory that holds roms/)";            \
    } while (0)

// A fresh address space as start-up leaves it before the ROMs are loaded:
// 64 KB allocated, $0000-$8FFF and $A000-$BFFF filled with $FF, the rest 0,
// every block RAM, quiet settings (no sound, not verbose), PAL timing. Also
// wires the chips and installs the register handlers.
void new_machine(uint8_t timing = 1);

// Runs fn and returns what it printed on standard output.
std::string capture_stdout(const std::function<void()>& fn);

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
