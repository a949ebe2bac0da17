// What the headless host recorded, for tests and benchmarks.
#pragma once

#include <cstdint>
#include <functional>

struct HeadlessCounters {
    unsigned frames_put = 0;
    unsigned events_polled = 0;
    unsigned resizes = 0;
    unsigned last_resize_cycles = 0;
    unsigned last_resize_overscan = 0;
    unsigned halt_dialogs = 0;
    unsigned wrongmemory_dialogs = 0;
    int last_wrongmemory = -1;
    unsigned x_closed = 0;
    std::function<void()> on_poll;  // runs inside each event poll, like a callback
};
extern HeadlessCounters headless;
