// Frame deadlines of the real-time pacing: absolute from the start, across a
// change of video standard, after a stall and around warp speed.
#include "core/pacing.h"
#include "core/tarvikon.h"
#include "support.h"

namespace {

const FrameRate PAL = frame_rate(PAL_SCANLINE, PAL_LAST_LINE);
const FrameRate NTSC = frame_rate(NTSC_SCANLINE, NTSC_LAST_LINE);
constexpr int64_t START = 5'000'000'000;

// Frame n's deadline worked out on its own: n * cycles / clock seconds.
int64_t expected_ns(int64_t frames, int64_t cycles, int64_t clock) { return frames * cycles * 1'000'000'000 / clock; }

TEST(Pacing, FramePeriodsFollowTheStandardsTiming) {
    EXPECT_EQ(PAL.cycles_per_frame, 71u * 312u);
    EXPECT_EQ(PAL.clock_hz, 1108405u);
    EXPECT_EQ(NTSC.cycles_per_frame, 65u * 261u);
    EXPECT_EQ(NTSC.clock_hz, 1022727u);
    EXPECT_EQ(frames_ns(1, PAL), 19'985'474);
    EXPECT_EQ(frames_ns(1, NTSC), 16'588'004);
    // Ten hours of frames do not overflow.
    EXPECT_EQ(frames_ns(50 * 3600 * 10, PAL) / 1'000'000'000, 35973);
}

TEST(Pacing, DeadlinesAreAbsoluteSoRoundingNeverAddsUp) {
    Pacer p;
    int64_t now = START;
    EXPECT_EQ(next_deadline(p, PAL, now, false), START + frames_ns(1, PAL));
    // On time every frame (the wait ends a little after each deadline).
    int64_t deadline = 0;
    for (int n = 2; n <= 90000; n++) {
        deadline = next_deadline(p, PAL, now, false);
        now = deadline + 300'000;
    }
    EXPECT_EQ(deadline, START + expected_ns(90000, 22152, 1108405));
    // A frame two periods late is caught up: the deadlines stay where they were.
    now = deadline + 2 * frames_ns(1, PAL) + 1000;
    EXPECT_EQ(next_deadline(p, PAL, now, false), START + expected_ns(90001, 22152, 1108405));
}

TEST(Pacing, StandardSwitchTakesTheNewPeriodFromTheLastDeadline) {
    Pacer p;
    int64_t now = START, deadline = 0;
    for (int n = 1; n <= 10; n++) deadline = next_deadline(p, PAL, now, false), now = deadline;
    EXPECT_EQ(deadline, START + expected_ns(10, 22152, 1108405));
    int64_t pal_end = deadline;
    for (int n = 1; n <= 600; n++) deadline = next_deadline(p, NTSC, now, false), now = deadline;
    EXPECT_EQ(deadline, pal_end + expected_ns(600, 16965, 1022727));
    // And back.
    deadline = next_deadline(p, PAL, now, false);
    EXPECT_EQ(deadline, now + frames_ns(1, PAL));
}

TEST(Pacing, StallStartsAfreshInsteadOfRacing) {
    Pacer p;
    int64_t now = START;
    for (int n = 1; n <= 50; n++) now = next_deadline(p, PAL, now, false);
    // Suspended for three seconds: no wait now, and the next frame is one
    // period later, not 150 frames at full speed.
    now += 3'000'000'000;
    EXPECT_EQ(next_deadline(p, PAL, now, false), now);
    EXPECT_EQ(next_deadline(p, PAL, now + 1000, false), now + frames_ns(1, PAL));
    // Just within the limit still catches up.
    Pacer q;
    next_deadline(q, PAL, START, false);
    int64_t second = START + frames_ns(2, PAL);
    EXPECT_EQ(next_deadline(q, PAL, second + frames_ns(STALL_FRAMES, PAL) - 10, false), second);
}

TEST(Pacing, WarpNeverWaitsAndRealTimeResumesFromTheEndOfWarp) {
    Pacer p;
    int64_t now = START;
    for (int n = 1; n <= 5; n++) now = next_deadline(p, PAL, now, false);
    for (int n = 0; n < 1000; n++) {
        now += 100'000;  // warp frames take a tenth of a millisecond
        EXPECT_EQ(next_deadline(p, PAL, now, true), now);
    }
    EXPECT_EQ(next_deadline(p, PAL, now, false), now + frames_ns(1, PAL));
    EXPECT_EQ(next_deadline(p, PAL, now, false), now + frames_ns(2, PAL));
}

}  // namespace
