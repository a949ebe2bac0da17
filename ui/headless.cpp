// Headless host for tests and benchmarks: the frame image is plain memory,
// every colour's pixel value is its colour code, events and dialogs are
// recorded instead of shown.
#include "headless.h"

#include <vector>

#include "../core/host.h"
#include "../core/pacing.h"
#include "../core/vic.h"

namespace {
std::vector<uint8_t> frame_buffer(FRAME_ALLOC_BYTES);
}

uint8_t* frame_image = frame_buffer.data();
HeadlessCounters headless;

void host_init(int*, char**) {}

void start_X_client() {
    for (unsigned code = 0; code < VIC_COLOR_COUNT; code++) {
        vic_colors[code].pixel = code;
        vic_colors[code].double_pixel = code << 8 | code;
    }
    bordpixel = vic_colors[COLOR_BLACK].double_pixel;
}

void close_X_client() { headless.x_closed++; }
void put_frame() { headless.frames_put++; }
void poll_event() {
    headless.events_polled++;
    if (headless.on_poll) headless.on_poll();
}
void wait_until(int64_t deadline_ns) { sleep_until_ns(deadline_ns); }
void resize_main_window(unsigned cycles_per_line, unsigned new_overscan) {
    headless.resizes++;
    headless.last_resize_cycles = cycles_per_line;
    headless.last_resize_overscan = new_overscan;
}
void show_halt_dialog() { headless.halt_dialogs++; }
void show_wrongmemory_dialog(int expansion) {
    headless.wrongmemory_dialogs++;
    headless.last_wrongmemory = expansion;
}
