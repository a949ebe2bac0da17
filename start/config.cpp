// The configuration file tarvikon.rc: five little-endian fields, 15 bytes.
//
//   offset 0  4 bytes  frame rate (one frame drawn out of N)
//   offset 4  4 bytes  memory expansion in effect
//   offset 8  4 bytes  video timing, 0 NTSC or 1 PAL (only the low byte is read)
//   offset 12 2 bytes  delay after every instruction
//   offset 14 1 byte   skipped lines at the top (9 or 28)
//   offset 15 1 byte   only for "all expansions": EXP_ALL, while offset 4
//                      holds 0, so that an older build starts unexpanded
#include <cstdio>
#include <unistd.h>

#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "config.h"
#include "../files/fileio.h"
#include "../files/fileutil.h"

namespace {

constexpr const char* CONFIG_FILE = "tarvikon.rc";

constexpr uint32_t DEFAULT_INTERRUPT = 2;
constexpr uint32_t DEFAULT_MEMEXP = EXP_NONE;
constexpr uint8_t DEFAULT_VID_TIME = 0;
constexpr uint16_t DEFAULT_DELAY = 0;
constexpr uint8_t DEFAULT_OVERSCAN = 28;
constexpr int32_t MAX_INTERRUPT = 6;

void set_defaults() {
    interrupt = DEFAULT_INTERRUPT;
    memexp = DEFAULT_MEMEXP;
    vid_time = DEFAULT_VID_TIME;
    delay_loop = DEFAULT_DELAY;
    overscan = DEFAULT_OVERSCAN;
}

bool file_ended = false;  // a field was cut short: the later ones are defaults

// Reads one field of `size` bytes as a little-endian number. When the file
// ends before it, says so, marks the settings as not the file's and gives
// the field's default.
uint32_t read_field(int fd, unsigned size, const char* corrupted, uint32_t fallback) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (read_up_to(fd, bytes, size) != ssize_t(size)) {
        file_ended = true;
        fputs(corrupted, stdout);
        config = 1;
        return fallback;
    }
    return uint32_t(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24);
}

// A value that no dialog can produce and that the machine cannot run with
// falls back to a safe one, said in every mode.
void replace_invalid(const char* text) {
    fputs(text, stdout);
    config = 1;
}

// The defaults pass every check below, so a field that fell back to its
// default is never reported twice.
void read_fields(int fd) {
    file_ended = false;
    int32_t rate = int32_t(read_field(fd, 4, "\nCorrupted tarvikon.rc, using defaults for frame rate...",
                                      DEFAULT_INTERRUPT));
    if (rate > MAX_INTERRUPT) rate = DEFAULT_INTERRUPT;
    // No frame would ever be drawn (or only one in 256).
    if (rate <= 0) {
        replace_invalid("\nInvalid frame rate in tarvikon.rc, using 2...");
        rate = DEFAULT_INTERRUPT;
    }
    interrupt = uint32_t(rate);

    memexp = read_field(fd, 4, "\nCorrupted tarvikon.rc, using defaults for memory expansion...", DEFAULT_MEMEXP);
    expansion_chosen = !file_ended;

    vid_time =
        uint8_t(read_field(fd, 4, "\nCorrupted tarvikon.rc, using defaults for video timing...", DEFAULT_VID_TIME));
    // Any other timing would leave the raster without line length and count.
    if (vid_time > 1) {
        replace_invalid("\nInvalid video timing in tarvikon.rc, using NTSC...");
        vid_time = DEFAULT_VID_TIME;
    }

    delay_loop = uint16_t(read_field(fd, 2, "\nCorrupted tarvikon.rc, using defaults for delay...", DEFAULT_DELAY));

    overscan =
        uint8_t(read_field(fd, 1, "\nCorrupted tarvikon.rc, using defaults for skipped lines...", DEFAULT_OVERSCAN));
    // The window height follows from it; other values give no sane window.
    if (overscan != 9 && overscan != 28) {
        replace_invalid("\nInvalid skipped lines in tarvikon.rc, using 28...");
        overscan = DEFAULT_OVERSCAN;
    }
    uint8_t layout;
    if (memexp == EXP_NONE && read_up_to(fd, &layout, 1) == 1 && layout == EXP_ALL) memexp = EXP_ALL;
}

void put_le(uint8_t* dest, uint32_t value, unsigned size) {
    for (unsigned i = 0; i < size; i++) dest[i] = uint8_t(value >> (8 * i));
}

}  // namespace

bool expansion_chosen = false;

void read_config() {
    expansion_chosen = false;
    if (config == 1) {
        fputs("Using defaults...", stdout);
        set_defaults();
    } else {
        say_verbose("Reading configuration from tarvikon.rc...");
        int fd = open_regular(CONFIG_FILE);
        if (fd == -1) {
            set_defaults();
            config = 1;
            say_verbose("\nCan't find configuration, using defaults, please save config...");
        } else {
            read_fields(fd);
            close(fd);
        }
    }
    memdef = uint8_t(memexp);
    intdef = uint8_t(interrupt);
    vid_new = vid_time;
    overscan_set = overscan;
    say_verbose("OK\n");
}

int save_config() {
    uint8_t bytes[16];
    const bool all = memdef == EXP_ALL;
    put_le(bytes + 0, interrupt, 4);
    put_le(bytes + 4, all ? uint32_t(EXP_NONE) : memdef, 4);
    put_le(bytes + 8, scanline == NTSC_SCANLINE ? 0 : 1, 4);
    put_le(bytes + 12, delay_loop, 2);
    put_le(bytes + 14, overscan, 1);
    put_le(bytes + 15, EXP_ALL, 1);
    return replace_file(CONFIG_FILE, {{bytes, all ? 16u : 15u}});
}
