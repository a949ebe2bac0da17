// Input record and playback: a session of the real ROMs with keys, joystick
// and paddles coming from the host at random frames is recorded, then
// played back from the same cold start while the host sends other input;
// every frame of the two runs must be the same, and differ from a run
// without the input.
#include <cstring>
#include <random>

#include "core/memory.h"
#include "core/replay.h"
#include "core/snapshot.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "files/fileio.h"
#include "files_support.h"
#include "support.h"
#include "ui/headless.h"

namespace {

constexpr unsigned FRAMES = 400;

// The host as a person at the keyboard: now and then a key of the matrix
// goes down or up, a joystick line changes, a paddle moves.
void host_input(std::mt19937& random) {
    const unsigned what = random() % 16;
    if (what < 3) {
        const unsigned row = random() % 8, col = random() % 8;
        if (row == 3 && col == 0) return;  // RUN/STOP would end the session early
        const bool press = keyrow[7 - col] & (1u << row);
        keyrow[7 - col] ^= uint8_t(1u << row);
        keycol[row] ^= uint8_t(1u << col);
        keycount += press ? 1 : -1;
    } else if (what == 3) {
        joystick2 ^= uint16_t(4u << (random() % 4));
    } else if (what == 4) {
        memory[VIC_BASE + VIC_PADDLE_X] = uint8_t(random());
    }
}

std::vector<std::vector<uint8_t>> session(unsigned seed, bool (*start)(), bool with_input = true) {
    start_real_machine(1);
    frame_count = 0;
    vic_drawn = {};
    std::memset(frame_image, 0, FRAME_ALLOC_BYTES);
    interrupt = intdef = 1;
    std::mt19937 random(seed);
    if (!start()) return {};
    std::vector<std::vector<uint8_t>> frames;
    for (unsigned f = 0; f < FRAMES; f++) {
        if (f == 150 && with_input) headless.on_poll = [&] { host_input(random); };  // at READY
        run_frame();
        frames.push_back(save_machine_state(true));
    }
    headless.on_poll = nullptr;
    stop_replay();
    return frames;
}

TempDir dir;
bool record() { return start_recording(dir.file("input.rec").c_str()); }
bool play() { return start_playback(dir.file("input.rec").c_str()); }
bool nothing() { return true; }

TEST(Replay, APlayedBackSessionGivesTheRecordedFrames) {
    REQUIRE_ROMS();
    std::vector<std::vector<uint8_t>> recorded, played;
    EXPECT_EQ(capture_stdout([&] { recorded = session(1, record); }),
              "Recording input to " + dir.file("input.rec") + "...OK\n");
    EXPECT_EQ(capture_stdout([&] { played = session(2, play); }),
              "Playing back input from " + dir.file("input.rec") + "...OK\n");
    ASSERT_EQ(recorded.size(), FRAMES);
    ASSERT_EQ(played.size(), FRAMES);
    for (unsigned f = 0; f < FRAMES; f++) ASSERT_TRUE(recorded[f] == played[f]) << "frame " << f;
    EXPECT_GT(read_file(dir.file("input.rec")).size(), 10u + 36u * 50u) << "many changes recorded";
    EXPECT_FALSE(session(1, nothing, false).back() == recorded.back()) << "the input changed what the machine did";

    write_file(dir.file("other.rec"), "TVKINPUT\x01");
    EXPECT_EQ(capture_stdout([&] { start_playback(dir.file("other.rec").c_str()); }),
              "Playing back input from " + dir.file("other.rec") + "...failed: not an input recording\n");
}

}  // namespace
