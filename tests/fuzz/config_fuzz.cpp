// Fuzz target: reading tarvikon.rc of any length and contents (or none, or
// a directory or FIFO in its place, or with "-nocfg"), then saving the
// settings and reading them back.
//
// Input: one byte of mode (bit 0 "-nocfg", bits 1-2 what tarvikon.rc is),
// then the file's bytes.
//
// Checked: the reader runs before the address space exists and must not
// touch it (`memory` is null meanwhile); every setting is the file's value,
// its safe replacement or its default exactly as the field rules say, and
// `config` is set exactly when the file was not used as it is; the second
// variables are copies. Saving writes the 15 bytes of the settings in
// effect, and reading them back gives the same settings with `config` clear;
// a save into a FIFO that nobody reads, or over a directory, fails at once
// and leaves it as it was; no save leaves another file behind.
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "start/config.h"
#include "fuzz_support.h"

namespace {

struct Settings {
    uint32_t interrupt, memexp;
    uint8_t vid_time;
    uint16_t delay;
    uint8_t overscan, config;
};

Settings defaults(uint8_t config_flag) { return {2, 0, 0, 0, 28, config_flag}; }

uint32_t le(const std::vector<uint8_t>& b, size_t at, unsigned size) {
    uint32_t v = 0;
    for (unsigned i = 0; i < size; i++) v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}

// The field rules: a field the file does not hold completely takes its
// default and marks config; a frame rate above 6 is silently 2; a frame
// rate of 0 or below, a timing other than NTSC/PAL and skipped lines other
// than 9 or 28 cannot run and are replaced, marking config.
Settings expected_from(const std::vector<uint8_t>& b) {
    Settings s = defaults(0);
    size_t n = b.size();
    if (n >= 4) {
        int32_t rate = int32_t(le(b, 0, 4));
        if (rate > 6) rate = 2;
        if (rate <= 0) rate = 2, s.config = 1;
        s.interrupt = uint32_t(rate);
    } else {
        s.config = 1;
    }
    if (n >= 8) s.memexp = le(b, 4, 4); else s.config = 1;
    // "All expansions" is no expansion to an older build, and a byte after the fields to this one.
    if (n >= 16 && s.memexp == EXP_NONE && b[15] == EXP_ALL) s.memexp = EXP_ALL;
    if (n >= 12) {
        s.vid_time = uint8_t(b[8]);
        if (s.vid_time > 1) s.vid_time = 0, s.config = 1;
    } else {
        s.config = 1;
    }
    if (n >= 14) s.delay = uint16_t(le(b, 12, 2)); else s.config = 1;
    if (n >= 15) {
        s.overscan = b[14];
        if (s.overscan != 9 && s.overscan != 28) s.overscan = 28, s.config = 1;
    } else {
        s.config = 1;
    }
    return s;
}

void expect_settings(const Settings& s, const char* after) {
    FUZZ_CHECK_AT(interrupt == s.interrupt, "%s: interrupt %u, expected %u", after, interrupt, s.interrupt);
    FUZZ_CHECK_AT(memexp == s.memexp, "%s: memexp %u, expected %u", after, memexp, s.memexp);
    FUZZ_CHECK_AT(vid_time == s.vid_time, "%s: vid_time %u, expected %u", after, vid_time, s.vid_time);
    FUZZ_CHECK_AT(delay_loop == s.delay, "%s: delay %u, expected %u", after, delay_loop, s.delay);
    FUZZ_CHECK_AT(overscan == s.overscan, "%s: overscan %u, expected %u", after, overscan, s.overscan);
    FUZZ_CHECK_AT(config == s.config, "%s: config %u, expected %u", after, config, s.config);
    FUZZ_CHECK(memdef == uint8_t(memexp));
    FUZZ_CHECK(intdef == uint8_t(interrupt));
    FUZZ_CHECK(vid_new == vid_time);
    FUZZ_CHECK(overscan_set == overscan);
}

// Reads with the address space not yet allocated, as at start-up.
void read_without_memory() {
    uint8_t* saved = memory;
    memory = nullptr;
    read_config();
    memory = saved;
}

// Settings that differ from every default and from the file, so that a
// reader that leaves a variable alone is noticed.
void scramble() {
    interrupt = 5;
    memexp = 3;
    vid_time = 1;
    delay_loop = 77;
    overscan = 9;
    memdef = 4;
    intdef = 4;
    vid_new = 1;
    overscan_set = 9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    InFuzzDir in_dir;
    FuzzInput in{data, size};
    uint8_t mode = in.byte();
    std::vector<uint8_t> bytes(in.rest(), in.rest() + in.left());
    verbose = mode >> 7;

    const char* file = "tarvikon.rc";
    fuzz_remove(file);
    unsigned kind = (mode >> 1) & 3;
    switch (kind) {
    case 0: case 1: fuzz_write_file(file, bytes); break;
    case 2: break;                                // missing
    case 3: if (mode & 8) mkdir(file, 0755); else mkfifo(file, 0644); break;
    }
    bool nocfg = mode & 1;
    bool regular = kind < 2;

    scramble();
    config = nocfg ? 1 : 0;
    read_without_memory();
    Settings want = nocfg || !regular ? defaults(1) : expected_from(bytes);
    expect_settings(want, "read_config");

    // Save what is in effect, then read it back.
    set_video_constants(vid_time);
    int saved = save_config();
    if (kind == 3) {
        // A directory cannot be replaced, and a FIFO without a reader must
        // not keep the program waiting: both are failures.
        FUZZ_CHECK_AT(saved == -1, "save_config over a %s returned %d", (mode & 8) ? "directory" : "FIFO", saved);
        struct stat st;
        FUZZ_CHECK(lstat(file, &st) == 0 && ((mode & 8) ? S_ISDIR(st.st_mode) : S_ISFIFO(st.st_mode)));
        FUZZ_CHECK_AT(fuzz_only_file_here(file), "the failed save left a file behind");
        fuzz_remove(file);
        return 0;
    }
    FUZZ_CHECK_AT(saved == 0, "save_config returned %d", saved);
    struct stat st;
    FUZZ_CHECK(stat(file, &st) == 0 && st.st_size == (memdef == EXP_ALL ? 16 : 15));  // "all" adds its byte
    FUZZ_CHECK_AT(fuzz_only_file_here(file), "the save left another file behind");

    Settings again = want;
    again.memexp = uint8_t(want.memexp);  // saved as the expansion in effect, one byte wide
    again.config = 0;
    scramble();
    config = 0;
    read_without_memory();
    expect_settings(again, "reading the saved file");
    fuzz_remove(file);
    return 0;
}
