// tarvikon.rc: field-by-field reading with its fallbacks, values the
// machine cannot run with, and saving the settings in effect.
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "start/config.h"
#include "files_support.h"

namespace {

std::string le(uint32_t value, unsigned size) {
    std::string s;
    for (unsigned i = 0; i < size; i++) s += char(uint8_t(value >> (8 * i)));
    return s;
}

std::string config_file(uint32_t rate, uint32_t expansion, uint32_t timing, uint16_t delay, uint8_t lines) {
    return le(rate, 4) + le(expansion, 4) + le(timing, 4) + le(delay, 2) + le(lines, 1);
}

const std::string CORRUPTED_RATE = "\nCorrupted tarvikon.rc, using defaults for frame rate...";
const std::string CORRUPTED_EXPANSION = "\nCorrupted tarvikon.rc, using defaults for memory expansion...";
const std::string CORRUPTED_TIMING = "\nCorrupted tarvikon.rc, using defaults for video timing...";
const std::string CORRUPTED_DELAY = "\nCorrupted tarvikon.rc, using defaults for delay...";
const std::string CORRUPTED_LINES = "\nCorrupted tarvikon.rc, using defaults for skipped lines...";

class Config : public testing::Test {
protected:
    TempDir dir;
    InDir in{dir.path};

    void SetUp() override {
        new_machine();
        // Settings that a successful read must overwrite.
        interrupt = 5;
        memexp = 3;
        vid_time = 1;
        delay_loop = 77;
        overscan = 9;
    }
    std::string read() { return capture_stdout(read_config); }
    void expect_settings(uint32_t rate, uint32_t expansion, uint8_t timing, uint16_t delay, uint8_t lines) {
        EXPECT_EQ(interrupt, rate);
        EXPECT_EQ(memexp, expansion);
        EXPECT_EQ(vid_time, timing);
        EXPECT_EQ(delay_loop, delay);
        EXPECT_EQ(overscan, lines);
        // and the copies taken after reading
        EXPECT_EQ(intdef, uint8_t(rate));
        EXPECT_EQ(memdef, uint8_t(expansion));
        EXPECT_EQ(vid_new, timing);
        EXPECT_EQ(overscan_set, lines);
    }
};

TEST_F(Config, MissingFileGivesDefaults) {
    EXPECT_EQ(read(), "");
    expect_settings(2, 0, 0, 0, 28);
    EXPECT_EQ(config, 1);

    verbose = 1;
    config = 0;
    EXPECT_EQ(read(),
              "Reading configuration from tarvikon.rc...\nCan't find configuration, using defaults, please save "
              "config...OK\n");

    // A directory of that name is no configuration either.
    mkdir("tarvikon.rc", 0755);
    verbose = 0;
    config = 0;
    EXPECT_EQ(read(), "");
    EXPECT_EQ(config, 1);
}

TEST_F(Config, ShortFilesFallBackFieldByField) {
    write_file("tarvikon.rc", "");
    EXPECT_EQ(read(), CORRUPTED_RATE + CORRUPTED_EXPANSION + CORRUPTED_TIMING + CORRUPTED_DELAY + CORRUPTED_LINES);
    expect_settings(2, 0, 0, 0, 28);
    EXPECT_EQ(config, 1);

    // 9 bytes: rate and expansion complete, one byte of the timing.
    write_file("tarvikon.rc", config_file(4, 2, 1, 300, 9).substr(0, 9));
    SetUp();
    verbose = 1;
    EXPECT_EQ(read(), "Reading configuration from tarvikon.rc..." + CORRUPTED_TIMING + CORRUPTED_DELAY +
                          CORRUPTED_LINES + "OK\n");
    expect_settings(4, 2, 0, 0, 28);
    EXPECT_EQ(config, 1);

    // 14 bytes: only the skipped lines are missing.
    write_file("tarvikon.rc", config_file(3, 4, 1, 300, 9).substr(0, 14));
    SetUp();
    EXPECT_EQ(read(), CORRUPTED_LINES);
    expect_settings(3, 4, 1, 300, 28);
}

TEST_F(Config, CompleteFileIsTakenAsItIs) {
    write_file("tarvikon.rc", config_file(6, 1, 1, 500, 9) + "trailing bytes are never read");
    config = 0;
    EXPECT_EQ(read(), "");
    expect_settings(6, 1, 1, 500, 9);
    EXPECT_EQ(config, 0);

    // A frame rate above 6 silently becomes 2; only the timing's low byte counts.
    write_file("tarvikon.rc", config_file(7, 0, 0x100, 0, 28));
    EXPECT_EQ(read(), "");
    expect_settings(2, 0, 0, 0, 28);
    EXPECT_EQ(config, 0);

    // Values no dialog produces but the machine runs with stay.
    write_file("tarvikon.rc", config_file(1, 9, 0, 4000, 28));
    EXPECT_EQ(read(), "");
    expect_settings(1, 9, 0, 4000, 28);
    EXPECT_EQ(config, 0);
}

TEST_F(Config, ValuesTheMachineCannotRunWithAreReplaced) {
    struct Case {
        std::string file;
        std::string text;
        uint32_t rate;
        uint8_t timing, lines;
    } cases[] = {
        {config_file(0, 0, 0, 0, 28), "\nInvalid frame rate in tarvikon.rc, using 2...", 2, 0, 28},
        {config_file(uint32_t(-3), 0, 1, 0, 9), "\nInvalid frame rate in tarvikon.rc, using 2...", 2, 1, 9},
        {config_file(3, 0, 2, 0, 28), "\nInvalid video timing in tarvikon.rc, using NTSC...", 3, 0, 28},
        {config_file(3, 0, 0xFF, 0, 9), "\nInvalid video timing in tarvikon.rc, using NTSC...", 3, 0, 9},
        {config_file(3, 0, 1, 0, 0), "\nInvalid skipped lines in tarvikon.rc, using 28...", 3, 1, 28},
        {config_file(3, 0, 1, 0, 255), "\nInvalid skipped lines in tarvikon.rc, using 28...", 3, 1, 28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        write_file("tarvikon.rc", c.file);
        SetUp();
        EXPECT_EQ(read(), c.text);  // in every mode
        expect_settings(c.rate, 0, c.timing, 0, c.lines);
        EXPECT_EQ(config, 1);
    }
}

TEST_F(Config, NoCfgUsesDefaultsWithoutOpeningTheFile) {
    write_file("tarvikon.rc", config_file(4, 3, 1, 100, 9));
    config = 1;
    EXPECT_EQ(read(), "Using defaults...");
    expect_settings(2, 0, 0, 0, 28);
    EXPECT_EQ(config, 1);

    config = 1;
    verbose = 1;
    EXPECT_EQ(read(), "Using defaults...OK\n");
}

TEST_F(Config, SavedSettingsReadBackUnchanged) {
    // A PAL machine with 16 KB in effect; the choices waiting for a reset
    // (memexp, overscan_set) are not what is saved.
    interrupt = 5;
    memdef = EXP_16K;
    memexp = EXP_24K;
    set_video_constants(1);
    delay_loop = 321;
    overscan = 9;
    overscan_set = 28;
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(save_config(), 0); }), "");
    EXPECT_EQ(read_file("tarvikon.rc"), config_file(5, 3, 1, 321, 9));

    interrupt = 1;
    memexp = 0;
    vid_time = 0;
    delay_loop = 0;
    overscan = 28;
    config = 0;
    EXPECT_EQ(read(), "");
    expect_settings(5, 3, 1, 321, 9);
    EXPECT_EQ(config, 0);

    // An NTSC machine saves timing 0.
    set_video_constants(0);
    ASSERT_EQ(save_config(), 0);
    read();
    EXPECT_EQ(vid_time, 0);
    EXPECT_EQ(config, 0);
}

TEST_F(Config, FailedSavesReportMinusOne) {
    mkdir("tarvikon.rc", 0755);
    EXPECT_EQ(save_config(), -1);
    rmdir("tarvikon.rc");

    // A FIFO nobody reads must not keep the program waiting.
    mkfifo("tarvikon.rc", 0644);
    EXPECT_EQ(save_config(), -1);
    unlink("tarvikon.rc");

    // A full device takes the open but not the data.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full not available";
    ASSERT_EQ(symlink("/dev/full", "tarvikon.rc"), 0);
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(save_config(), -1); }), "");
}

}  // namespace
