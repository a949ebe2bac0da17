// The test runner's checks: the exit address through a monitor watchpoint,
// the cycle limit and the expected text at the end of each frame.
#include "test_runner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>

#include "../core/hooks.h"
#include "../core/memory.h"
#include "../core/host.h"
#include "../core/pacing.h"
#include "../core/screen_text.h"
#include "../core/tarvikon.h"
#include "../devices/autostart.h"
#include "../files/png.h"
#include "commands.h"
#include "debug.h"

namespace {

uint64_t limit_cycles = 0;  // 0: none
std::string type_text, expect_text, screenshot_path;
bool exit_address_set = false, print_screen_text = false;
uint16_t exit_address = 0;

bool parse_number(const char* value, uint64_t& out) {
    char* end = nullptr;
    out = std::strtoull(value, &end, 0);
    return end != value && *end == 0;
}

// The end of a run: what was asked for at exit, then the shut-down.
[[noreturn]] void finish(int status) {
    if (print_screen_text) fputs(screen_text().c_str(), stdout);
    if (!screenshot_path.empty()) {
        std::string error;
        if (!write_png(screenshot_path, capture_picture(1), error))
            printf("Cannot write %s: %s\n", screenshot_path.c_str(), error.c_str());
    }
    shut_down_tarvikon();
    exit(status);
}

void exit_write(uint8_t value) { finish(value); }

void limit_reached() {
    printf("Cycle limit of %llu reached\n", (unsigned long long)limit_cycles);
    finish(1);
}

// The limit is exact: the last two frames before it run in checked steps.
void arm_limit() {
    if (limit_cycles && machine_cycle() + 2 * scanline * (last_line + 1) >= limit_cycles)
        call_at_cycle_limit(limit_cycles, limit_reached);
}

// The screen is decoded again only when its codes or the VIC's layout and
// character set changed: 2 KB from the matrix's start hold the largest one.
bool screen_changed() {
    static uint8_t last[2048 + 4];
    uint8_t now[sizeof last] = {};
    const size_t n = std::min<size_t>(2048, MEMORY_SIZE - vidpoint);
    std::memcpy(now, memory + vidpoint, n);
    for (unsigned i = 0; i < 4; i++) now[2048 + i] = memory[VIC_BASE + VIC_COLUMNS + i];
    if (std::memcmp(now, last, sizeof now) == 0) return false;
    std::memcpy(last, now, sizeof now);
    return true;
}

void check_frame() {
    if (!expect_text.empty() && screen_changed() && screen_text().find(expect_text) != std::string::npos) finish(0);
    arm_limit();
}

// "\n" as two characters, or a real line end, is Return.
void queue_typing(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); i++) {
        const bool escaped = text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n';
        if (escaped || text[i] == '\n') {
            autostart_queue_line(line);
            line.clear();
            i += escaped;
        } else {
            line += char(text[i] >= 'a' && text[i] <= 'z' ? text[i] - 32 : text[i]);
        }
    }
    if (!line.empty()) autostart_queue_keys(line);
}

}  // namespace

void set_headless() {
    no_display = 1;
    soundon = 0;
    warp_speed = 1;
}

void set_limit_cycles(const char* value) {
    if (!parse_number(value, limit_cycles) || limit_cycles == 0) {
        printf("-limitcycles needs a number of cycles, not %s\n", value);
        limit_cycles = 0;
    }
}

void set_type_text(const char* value) { type_text += value; }

void set_exit_address(const char* value) {
    const std::optional<uint16_t> addr = parse_value(value);
    if (!addr) {
        printf("-exitaddress needs an address from $0000 to $FFFF, not %s\n", value);
        return;
    }
    exit_address = *addr;
    exit_address_set = true;
}

void set_screenshot(const char* value) { screenshot_path = value; }
void set_screen_text() { print_screen_text = true; }
void set_expect(const char* value) { expect_text = value; }

void start_test_runner() {
    if (no_display) {
        // Frames are drawn only for a screenshot; otherwise the frame
        // counter draws one in 256 as it wraps, which costs nothing.
        interrupt = screenshot_path.empty() ? 0 : 1;
        intdef = uint8_t(interrupt);
    }
    if (!type_text.empty()) queue_typing(type_text);
    if (exit_address_set) add_point(POINT_WRITE, exit_address, exit_address, Condition{}, exit_write);
    if (limit_cycles || !expect_text.empty()) add_frame_call(check_frame);
    arm_limit();
}
