// Helpers shared by the fuzz targets: the input read as fields, a machine in
// a known state, and invariant checks that stop the run with a report.
//
// Every target is built twice: as a libFuzzer binary (build-fuzz) and as a
// replay binary that runs the seed corpus and the regression inputs as an
// ordinary CTest test, so a fault found once stays fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The fuzz input consumed field by field; past its end every field reads 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint16_t word() {
        uint16_t low = byte();
        return uint16_t(low | byte() << 8);
    }
    uint32_t dword() {
        uint32_t low = word();
        return low | uint32_t(word()) << 16;
    }
    size_t left() const { return size - pos; }
    const uint8_t* rest() const { return data + pos; }
};

// Name of the input being replayed (replay binary only), for the report.
extern const char* fuzz_current_input;

// Reports a broken invariant on stderr and aborts, which libFuzzer records as
// a crash and the replay test as a failure.
[[noreturn]] void fuzz_fail(const char* file, int line, const char* what);
// The same with a formatted detail (an address, a value).
[[noreturn]] void fuzz_failf(const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
#define FUZZ_CHECK_AT(cond, ...)                                      \
    do {                                                              \
        if (!(cond)) fuzz_failf(__FILE__, __LINE__, __VA_ARGS__);     \
    } while (0)
#define FUZZ_CHECK(cond)                                      \
    do {                                                      \
        if (!(cond)) fuzz_fail(__FILE__, __LINE__, #cond);    \
    } while (0)

// Once per process: standard output to /dev/null, `memory` as an exact 64 KB
// heap block, the frame image as an exact block of the size the renderer may
// write (so that AddressSanitizer sees any access beyond either), and a
// private empty directory.
void fuzz_setup_once();
const std::string& fuzz_dir();

// While it lives, the working directory is the private one (the emulator
// opens tarvikon.rc and roms/ relative to it); libFuzzer's own corpus and
// artifact paths need the real one back outside the target call.
struct InFuzzDir {
    int previous;
    InFuzzDir();
    ~InFuzzDir();
};

// A fresh machine as start-up leaves it before the ROMs: every block RAM,
// quiet settings (no sound, not verbose, no joystick), the given timing.
void fuzz_new_machine(uint8_t timing);

// Fills the whole address space with a pseudo-random pattern, so that a
// loader that writes a byte equal to the old contents is still noticed.
void fuzz_fill_memory(uint32_t seed);

// Sixteen block states 0..2 taken from the input.
void fuzz_block_states(FuzzInput& in, uint8_t states[16]);

// File contents of a chosen length: a selector byte picks one of `lengths`
// (the sizes the loaders treat specially, and their neighbours) or the
// input's own remaining length; the bytes are the rest of the input,
// repeated to that length.
std::vector<uint8_t> fuzz_file_contents(FuzzInput& in, const std::vector<size_t>& lengths);

// Writes a file, replacing whatever was at the path (a directory included).
void fuzz_write_file(const std::string& path, const std::vector<uint8_t>& bytes);
// Removes a file or an empty directory at the path, if any.
void fuzz_remove(const std::string& path);

// True when the working directory holds nothing but `name` (or nothing):
// no temporary or backup file was left behind.
bool fuzz_only_file_here(const std::string& name);

// The first address in [begin, end) where two images differ, or -1.
long fuzz_first_difference(const uint8_t* a, const uint8_t* b, size_t begin, size_t end);
