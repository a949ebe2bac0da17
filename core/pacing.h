// Real-time pacing of the main loop: after every emulated frame the program
// waits until that frame's absolute deadline on the monotonic clock, so the
// machine runs at the rate of the real VIC 20 of its video standard. Warp
// speed turns the waiting off.
//
// The deadline arithmetic is pure (Pacer, next_deadline) so that a standard
// switch, a stall and warp toggling can be checked without a clock.
#pragma once

#include <cstdint>

constexpr uint32_t PAL_CLOCK_HZ = 1108405;
constexpr uint32_t NTSC_CLOCK_HZ = 1022727;

// A frame of cycles_per_frame processor cycles at clock_hz.
struct FrameRate {
    uint32_t cycles_per_frame = 0;
    uint32_t clock_hz = 0;
    bool operator==(const FrameRate&) const = default;
};

// The frame rate of a raster timing: the line length picks the standard's clock.
FrameRate frame_rate(uint32_t cycles_per_line, uint32_t last_line);

// Nanoseconds that `frames` frames take at a rate.
int64_t frames_ns(int64_t frames, FrameRate rate);

// A frame more than this late makes the pacer start afresh from now instead
// of running unpaced until it has caught up.
constexpr int STALL_FRAMES = 4;

struct Pacer {
    bool running = false;  // false before the first frame and while warping
    int64_t base_ns = 0;   // when frame 0 of this run ended
    int64_t frames = 0;    // frames ended since base_ns
    FrameRate rate;
};

// Called at the end of every frame: the absolute time on the monotonic clock
// at which the next frame may start (now_ns or earlier means at once).
int64_t next_deadline(Pacer& pacer, FrameRate rate, int64_t now_ns, bool warp);

// ---- the program's pacing ------------------------------------------------------------

extern uint8_t warp_speed;   // 1: run unpaced, as fast as the host allows
extern uint8_t device_warp;  // 1 while a device asks for warp (a tape being read)

int64_t monotonic_ns();
void sleep_until_ns(int64_t deadline_ns);  // without spinning; at once when past

// Ends one frame of the main loop: waits (handling window-system events)
// until the frame's deadline. Returns how late it returned, in nanoseconds.
int64_t pace_frame();
