#include "pacing.h"

#include <cerrno>
#include <ctime>

#include "host.h"
#include "tarvikon.h"
#include "vic.h"

uint8_t warp_speed = 0;
uint8_t device_warp = 0;

namespace {

constexpr int64_t NS_PER_SECOND = 1000000000;

Pacer program_pacer;

}  // namespace

FrameRate frame_rate(uint32_t cycles_per_line, uint32_t last_line) {
    uint32_t clock = cycles_per_line == PAL_SCANLINE ? PAL_CLOCK_HZ : NTSC_CLOCK_HZ;
    return {cycles_per_line * (last_line + 1), clock};
}

int64_t frames_ns(int64_t frames, FrameRate rate) {
    if (rate.clock_hz == 0) return 0;
    // 128 bits: hours of frames times 10^9 overflow 64.
    __int128 cycles = __int128(frames) * rate.cycles_per_frame;
    return int64_t(cycles * NS_PER_SECOND / rate.clock_hz);
}

int64_t next_deadline(Pacer& pacer, FrameRate rate, int64_t now_ns, bool warp) {
    if (warp) {
        pacer.running = false;
        return now_ns;
    }
    if (!pacer.running) {
        pacer = {true, now_ns, 0, rate};
    } else if (!(rate == pacer.rate)) {
        // The new standard counts from the last deadline of the old one.
        pacer.base_ns += frames_ns(pacer.frames, pacer.rate);
        pacer.frames = 0;
        pacer.rate = rate;
    }
    pacer.frames++;
    int64_t deadline = pacer.base_ns + frames_ns(pacer.frames, rate);
    if (now_ns - deadline > frames_ns(STALL_FRAMES, rate)) {
        pacer = {true, now_ns, 0, rate};
        return now_ns;
    }
    return deadline;
}

int64_t monotonic_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * NS_PER_SECOND + t.tv_nsec;
}

void sleep_until_ns(int64_t deadline_ns) {
    if (deadline_ns <= 0) return;
    timespec t{time_t(deadline_ns / NS_PER_SECOND), long(deadline_ns % NS_PER_SECOND)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

int64_t pace_frame() {
    // Interlaced fields are one or two lines longer than a frame; they alternate,
    // so pacing each by the next one's length keeps the sum exact.
    FrameRate rate = frame_rate(scanline, last_line + field_extra);
    int64_t deadline = next_deadline(program_pacer, rate, monotonic_ns(), warp_speed || device_warp);
    wait_until(deadline);
    int64_t late = monotonic_ns() - deadline;
    return late > 0 ? late : 0;
}
