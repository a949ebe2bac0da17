// Gamepads as the program finds and reads them: a folder of its own stands in
// for /dev/input, named pipes for the event devices (a recorded stream of
// input_event records), so that pads are plugged in and pulled out while the
// reader runs. Only the question "is this a pad" is answered by the test.
#include "devices/gamepad.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support.h"

namespace {

uint8_t lines_now = 0;
std::vector<uint8_t> changes;
void record_lines(uint8_t lines, uint8_t) { changes.push_back(lines_now = lines); }

// Every pipe is a pad with a stick from 0 to 255, except those named here.
std::string not_a_pad;
bool fake_probe(int fd, PadAxes* axes) {
    struct stat st, other;
    if (!not_a_pad.empty() && fstat(fd, &st) == 0 && stat(not_a_pad.c_str(), &other) == 0 && st.st_ino == other.st_ino)
        return false;
    *axes = {0, 255, 0, 255};
    return true;
}

struct Gamepads : testing::Test {
    TempDir folder;
    void SetUp() override {
        gamepad_folder = folder.path.c_str();
        probe_gamepad = fake_probe;
        gamepad_output = record_lines;
        set_gamepads_enabled(true);
        lines_now = 0;
        changes.clear();
    }
    void TearDown() override {
        stop_gamepads();
        gamepad_output = nullptr;
    }
    // A pad appears under its name at once and whole, as udev makes them;
    // the test holds the writing end.
    int plug(const std::string& name) {
        const std::string part = folder.file("." + name);
        EXPECT_EQ(mkfifo(part.c_str(), 0600), 0);
        const int fd = open(part.c_str(), O_RDWR);
        EXPECT_EQ(rename(part.c_str(), folder.file(name).c_str()), 0);
        return fd;
    }
    static void send(int fd, const std::vector<input_event>& events) {
        for (const input_event& e : events) ASSERT_EQ(write(fd, &e, sizeof e), ssize_t(sizeof e));
    }
};

input_event ev(uint16_t type, uint16_t code, int32_t value) {
    input_event e{};
    e.type = type, e.code = code, e.value = value;
    return e;
}
const input_event REPORT = ev(EV_SYN, SYN_REPORT, 0);

TEST(PadReader, DpadStickAndButtonsGiveTheLines) {
    struct Case {
        std::vector<input_event> events;
        uint8_t lines;
    };
    const Case cases[] = {
        {{ev(EV_ABS, ABS_HAT0Y, -1), ev(EV_ABS, ABS_HAT0X, 1)}, PAD_UP | PAD_RIGHT},
        {{ev(EV_ABS, ABS_X, 20), ev(EV_ABS, ABS_Y, 250)}, PAD_LEFT | PAD_DOWN},
        {{ev(EV_ABS, ABS_X, 90), ev(EV_ABS, ABS_Y, 170)}, 0},  // within half way of the centre
        {{ev(EV_KEY, BTN_DPAD_DOWN, 1), ev(EV_KEY, BTN_DPAD_LEFT, 1), ev(EV_KEY, BTN_DPAD_LEFT, 0)}, PAD_DOWN},
        {{ev(EV_KEY, BTN_SOUTH, 1)}, PAD_FIRE},
        {{ev(EV_KEY, BTN_TRIGGER, 1), ev(EV_KEY, BTN_TR2, 2)}, PAD_FIRE},
        {{ev(EV_KEY, BTN_START, 1), ev(EV_KEY, BTN_SELECT, 1), ev(EV_KEY, BTN_THUMBL, 1)}, 0},
        {{ev(EV_KEY, BTN_EAST, 1), ev(EV_ABS, ABS_HAT0Y, 1), ev(EV_SYN, SYN_DROPPED, 0), ev(EV_KEY, BTN_WEST, 1)}, 0},
    };
    for (const Case& c : cases) {
        PadState pad = new_pad_state({0, 255, 0, 255});
        for (const input_event& e : c.events) apply_pad_event(pad, e);
        EXPECT_EQ(pad_lines(pad), c.lines) << &c - cases;
    }
}

TEST_F(Gamepads, PadsPluggedInWhileRunningDriveTheLinesAndOnePulledOutLetsGo) {
    const int first = plug("event3");
    testing::internal::CaptureStdout();
    start_gamepads();
    EXPECT_EQ(gamepad_count(), 1u);
    send(first, {ev(EV_ABS, ABS_Y, 0), ev(EV_KEY, BTN_SOUTH, 1), REPORT});
    poll_gamepads();
    EXPECT_EQ(lines_now, PAD_UP | PAD_FIRE);

    // A second pad and a device that is no pad, while the first is held.
    not_a_pad = folder.file("event7");
    const int mouse = plug("event7");
    const int second = plug("event9");
    send(second, {ev(EV_ABS, ABS_HAT0X, -1), REPORT});
    // A record split across two reads.
    const input_event right = ev(EV_ABS, ABS_HAT0X, 1);
    poll_gamepads();
    EXPECT_EQ(gamepad_count(), 2u);
    EXPECT_EQ(lines_now, PAD_UP | PAD_FIRE | PAD_LEFT);
    ASSERT_EQ(write(second, &right, 10), 10);
    poll_gamepads();
    ASSERT_EQ(write(second, reinterpret_cast<const char*>(&right) + 10, sizeof right - 10), ssize_t(sizeof right - 10));
    poll_gamepads();
    EXPECT_EQ(lines_now, PAD_UP | PAD_FIRE | PAD_RIGHT);

    // The first pad pulled out: what it held is let go, the second's stays.
    close(first);
    poll_gamepads();
    EXPECT_EQ(gamepad_count(), 1u);
    EXPECT_EQ(lines_now, PAD_RIGHT);
    // Keys only: the pads' lines go; back to pads, they come again.
    set_gamepads_enabled(false);
    send(second, {ev(EV_ABS, ABS_HAT0Y, 1), REPORT});
    poll_gamepads();
    EXPECT_EQ(lines_now, 0);
    set_gamepads_enabled(true);
    EXPECT_EQ(lines_now, PAD_RIGHT | PAD_DOWN);
    const std::vector<uint8_t> expected{PAD_UP | PAD_FIRE, PAD_UP | PAD_FIRE | PAD_LEFT, PAD_UP | PAD_FIRE | PAD_RIGHT,
                                        PAD_RIGHT, 0, PAD_RIGHT | PAD_DOWN};
    EXPECT_EQ(changes, expected);
    close(second);
    poll_gamepads();
    EXPECT_EQ(lines_now, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Gamepad connected: " + folder.file("event3") + "\nGamepad connected: " + folder.file("event9") +
                  "\nGamepad disconnected: " + folder.file("event3") + "\nGamepad disconnected: " +
                  folder.file("event9") + "\n");
    close(mouse);
}

}  // namespace
