// The datasette through the real kernal and BASIC, with both kernals: SAVE
// with RECORD held, then LOAD and VERIFY back, at once and in real time.
#include <vector>

#include "basic_session.h"
#include "core/pacing.h"
#include "core/via.h"
#include "ui/headless.h"
#include "devices/datasette.h"
#include "devices/kernal_tape.h"
#include "devices/tap.h"
#include "tape_image.h"

namespace {

// The program's bytes without their load address, as a tape file holds them.
const std::vector<uint8_t> PROGRAM(PRINT_42_PROGRAM.begin() + 2, PRINT_42_PROGRAM.end());

// Two programs that print their number, the first for the unexpanded
// machine, the second at $1201 with a zero byte at $1200 (taken as 8 KB RAM).
const std::vector<TapeFile> TWO_FILES = [] {
    std::vector<uint8_t> one = PROGRAM, two = PROGRAM;
    two[0] = 0x0a, two[1] = 0x12, two[7] = '3';
    return std::vector<TapeFile>{{1, 0x1001, uint16_t(0x1001 + one.size()), "FIRST", one},
                                 {3, 0x1001, uint16_t(0x1001 + two.size()), "SECOND", two}};
}();

class TapeRom : public BasicSession {
protected:
    TempDir dir;

    void SetUp() override {
        REQUIRE_ROMS();
        ASSERT_NO_FATAL_FAILURE(boot());
        max_frames = 3000;  // a minute of tape
    }
    void TearDown() override {
        capture_stdout(tape_eject);
        tape_instant_load = true;
    }
    // The image in the deck, PLAY held, the screen clear.
    void insert(const std::string& name, const std::vector<uint8_t>& bytes) {
        write_file(dir.file(name), std::string(bytes.begin(), bytes.end()));
        capture_stdout([&] { ASSERT_TRUE(tape_attach(dir.file(name))); });
        play_from_start();
    }
    void play_from_start() {
        tape_rewind();
        tape_play();
        clear_screen();
    }
};

TEST_P(TapeRom, SaveThenLoadAndVerifyAtOnceAndInRealTime) {
    const std::string path = dir.file("new.tap");
    capture_stdout([&] { ASSERT_TRUE(tape_attach(path)); });
    tape_record();
    type("10 PRINT 42\r");
    shows(enter("SAVE \"HELLO\""), {"SAVING HELLO"});
    tape_stop();
    const std::string end_of_file = tape_status();  // "Tape 0nn STOP"

    // The kernal's two blocks, each with its repeat, are in the file.
    TapImage image;
    ASSERT_TRUE(tap_parse(bytes_of(read_file(path)), image));
    std::vector<uint8_t> header, data;
    size_t pos = 0;
    ASSERT_TRUE(kernal_tape_block(image, pos, header));
    ASSERT_TRUE(kernal_tape_block(image, pos, data));
    ASSERT_EQ(header.size(), 192u);
    EXPECT_EQ(std::string(header.begin() + 5, header.begin() + 11), "HELLO ");
    EXPECT_EQ(data, PROGRAM);

    for (bool instant : {true, false}) {
        tape_instant_load = instant;
        enter("NEW");
        tape_rewind();
        clear_screen();
        type("LOAD\r");
        shows(screen(), {"PRESS PLAY ON TAPE"});
        tape_play();
        const uint32_t start = frame_count;
        bool warped = false;  // in real time, while the kernal reads
        while (!instant && !warped && frame_count - start < 300) {
            run_frame();
            warped = device_warp;
        }
        EXPECT_EQ(warped, !instant);
        ASSERT_TRUE(run_until_ready(1));
        EXPECT_FALSE(device_warp);
        // At once: a few frames; in real time about 20 s of tape for the two blocks.
        EXPECT_TRUE(instant ? frame_count - start < 50 : frame_count - start > 500) << frame_count - start;
        shows(screen(), {"SEARCHING", "FOUND HELLO", "LOADING"});
        shows(enter("LIST"), {"10 PRINT 42"});
        EXPECT_EQ(tape_status().substr(0, 9), end_of_file.substr(0, 9)) << instant;
    }
    play_from_start();
    shows(enter("VERIFY \"HELLO\""), {"SEARCHING FOR HELLO", "VERIFYING", "OK"});
    type("10 PRINT 43\r");
    play_from_start();
    enter("VERIFY");
    shows(screen(), {"?VERIFY ERROR"});
}

TEST_P(TapeRom, T64AndKernalTapServeFilesByNameOrInTurn) {
    for (const char* name : {"two.t64", "two.tap"}) {
        SCOPED_TRACE(name);
        const bool t64 = std::string(name).ends_with("t64");
        insert(name, t64 ? t64_of(TWO_FILES) : kernal_tap(TWO_FILES));
        shows(enter("LOAD \"SECOND\""), {"SEARCHING FOR SECOND", "FOUND FIRST", "FOUND SECOND", "LOADING"});
        shows(enter("LIST"), {"10 PRINT 43"});
        play_from_start();
        enter("LOAD");
        shows(screen(), {"FOUND FIRST", "LOADING"});
        shows(enter("LIST"), {"10 PRINT 42"});
        EXPECT_EQ(tape_status(), t64 ? "Tape 001 PLAY" : "Tape 004 PLAY");
    }
}

TEST_P(TapeRom, DamagedImagesFailAsABadTapeDoes) {
    const std::vector<uint8_t> tap = kernal_tap(TWO_FILES), t64 = t64_of(TWO_FILES);
    std::vector<uint8_t> noise = tap_file(TapImage{1, std::vector<uint8_t>(30000)});
    for (size_t i = 20; i < noise.size(); i++) noise[i] = uint8_t(i * 37 % 251 + 1);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* shows;  // nothing: still searching until RUN/STOP
    } cases[] = {
        {"cut.tap", {tap.begin(), tap.begin() + 20 + 9664 + 1000}, nullptr},  // in the first data block
        {"noise.tap", noise, nullptr},
        {"cut.t64", {t64.begin(), t64.begin() + 64 + 2 * 32 + 5}, "?LOAD ERROR"},
        {"empty.t64", {t64.begin(), t64.begin() + 64}, nullptr},
    };
    const unsigned halts = headless.halt_dialogs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        insert(c.name, c.bytes);
        type("LOAD\r");
        if (c.shows) {
            ASSERT_TRUE(run_until_ready(1));
            shows(screen(), {c.shows});
            continue;
        }
        max_frames = 1500;
        EXPECT_FALSE(run_until_ready(1)) << screen();
        // RUN/STOP (column 3, row 0 of the matrix) held for a few frames.
        keyrow[7 - 3] &= uint8_t(~0x01);
        keycol[0] &= uint8_t(~0x08);
        keycount = 1;
        for (unsigned i = 0; i < 10; i++) run_frame();
        keyrow[7 - 3] = keycol[0] = 0xFF;
        keycount = 0;
        max_frames = 3000;
        EXPECT_TRUE(run_until_ready(1)) << screen();
    }
    EXPECT_EQ(headless.halt_dialogs, halts);
}

INSTANTIATE_TEST_SUITE_P(Kernals, TapeRom, testing::Values(uint8_t(0), uint8_t(1)), kernal_name);

}  // namespace
