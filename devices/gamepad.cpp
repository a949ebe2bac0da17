#include "gamepad.h"

#include <libevdev/libevdev.h>
#include <sys/inotify.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "../core/hooks.h"

namespace {

// Buttons that fire: the joystick buttons, the face, shoulder and trigger
// buttons of a pad (not select, start, mode or the sticks' own buttons).
constexpr unsigned FIRST_FIRE = BTN_TRIGGER, LAST_FIRE = BTN_TR2;

struct DpadButton {
    unsigned code;
    uint8_t line;
};
constexpr DpadButton DPAD_BUTTONS[] = {
    {BTN_DPAD_UP, PAD_UP}, {BTN_DPAD_DOWN, PAD_DOWN}, {BTN_DPAD_LEFT, PAD_LEFT}, {BTN_DPAD_RIGHT, PAD_RIGHT}};

// A direction of the stick counts beyond half way from the centre to the end.
uint8_t stick_lines(int32_t value, int32_t min, int32_t max, uint8_t low, uint8_t high) {
    const int64_t centre = (int64_t(min) + max) / 2, reach = (int64_t(max) - min) / 4;
    if (reach <= 0) return 0;
    return value < centre - reach ? low : value > centre + reach ? high : 0;
}

}  // namespace

PadState new_pad_state(const PadAxes& axes) {
    PadState pad;
    pad.axes = axes;
    pad.x = int32_t((int64_t(axes.min_x) + axes.max_x) / 2);
    pad.y = int32_t((int64_t(axes.min_y) + axes.max_y) / 2);
    return pad;
}

void apply_pad_event(PadState& pad, const input_event& e) {
    if (e.type == EV_SYN) {
        // After a drop the state is unknown until a report: let go of all.
        if (e.code == SYN_DROPPED) {
            pad = new_pad_state(pad.axes);
            pad.dropped = true;
        }
        if (e.code == SYN_REPORT) pad.dropped = false;
        return;
    }
    if (pad.dropped) return;
    if (e.type == EV_ABS) {
        switch (e.code) {
        case ABS_X: pad.x = e.value; break;
        case ABS_Y: pad.y = e.value; break;
        case ABS_HAT0X: pad.hat_x = e.value; break;
        case ABS_HAT0Y: pad.hat_y = e.value; break;
        default: break;
        }
    } else if (e.type == EV_KEY) {
        const bool down = e.value != 0;  // 2 is auto-repeat
        if (e.code >= FIRST_FIRE && e.code <= LAST_FIRE) {
            const uint64_t bit = uint64_t(1) << (e.code - FIRST_FIRE);
            pad.fire_buttons = down ? pad.fire_buttons | bit : pad.fire_buttons & ~bit;
        }
        for (const DpadButton& b : DPAD_BUTTONS)
            if (e.code == b.code) pad.dpad_buttons = uint8_t(down ? pad.dpad_buttons | b.line : pad.dpad_buttons & ~b.line);
    }
}

uint8_t pad_lines(const PadState& pad) {
    uint8_t lines = pad.dpad_buttons;
    lines |= stick_lines(pad.x, pad.axes.min_x, pad.axes.max_x, PAD_LEFT, PAD_RIGHT);
    lines |= stick_lines(pad.y, pad.axes.min_y, pad.axes.max_y, PAD_UP, PAD_DOWN);
    lines |= pad.hat_x < 0 ? PAD_LEFT : pad.hat_x > 0 ? PAD_RIGHT : 0;
    lines |= pad.hat_y < 0 ? PAD_UP : pad.hat_y > 0 ? PAD_DOWN : 0;
    if (pad.fire_buttons) lines |= PAD_FIRE;
    return lines;
}

// ---- the pads of the host -----------------------------------------------------------

namespace {

bool probe_with_libevdev(int fd, PadAxes* axes) {
    libevdev* dev = nullptr;
    if (libevdev_new_from_fd(fd, &dev) != 0) return false;
    const bool buttons = libevdev_has_event_code(dev, EV_KEY, BTN_GAMEPAD) ||
                         libevdev_has_event_code(dev, EV_KEY, BTN_JOYSTICK);
    const bool directions = libevdev_has_event_code(dev, EV_ABS, ABS_X) ||
                            libevdev_has_event_code(dev, EV_ABS, ABS_HAT0X) ||
                            libevdev_has_event_code(dev, EV_KEY, BTN_DPAD_UP);
    if (const input_absinfo* x = libevdev_get_abs_info(dev, ABS_X)) axes->min_x = x->minimum, axes->max_x = x->maximum;
    if (const input_absinfo* y = libevdev_get_abs_info(dev, ABS_Y)) axes->min_y = y->minimum, axes->max_y = y->maximum;
    libevdev_free(dev);
    return buttons && directions;
}

struct Pad {
    std::string name;  // in the folder
    int fd;
    PadState state;
    uint8_t partial[sizeof(input_event)];  // a record split across reads
    size_t partial_bytes = 0;
};

std::vector<Pad> pads;
int watch_fd = -1;
bool enabled = true;
uint8_t shown = 0;  // the lines last sent to the output

bool is_event_device(const char* name) { return std::strncmp(name, "event", 5) == 0; }

Pad* find_pad(const std::string& name) {
    for (Pad& p : pads)
        if (p.name == name) return &p;
    return nullptr;
}

// A new device in the folder: kept when it is a pad. One that may not be
// opened yet (its permissions come a moment later) is tried again then.
void try_open(const char* name) {
    if (!is_event_device(name) || find_pad(name)) return;
    const std::string path = std::string(gamepad_folder) + "/" + name;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) return;
    PadAxes axes;
    if (!probe_gamepad(fd, &axes)) {
        close(fd);
        return;
    }
    pads.push_back({name, fd, new_pad_state(axes), {}, 0});
    printf("Gamepad connected: %s\n", path.c_str());
    fflush(stdout);
}

void forget(size_t i) {
    printf("Gamepad disconnected: %s/%s\n", gamepad_folder, pads[i].name.c_str());
    fflush(stdout);
    close(pads[i].fd);
    pads.erase(pads.begin() + long(i));
}

// Reads what a pad sent; false when it is gone (unplugged: ENODEV, or the
// end of a file).
bool read_pad(Pad& pad) {
    for (;;) {
        uint8_t bytes[64 * sizeof(input_event)];
        std::memcpy(bytes, pad.partial, pad.partial_bytes);
        const ssize_t n = read(pad.fd, bytes + pad.partial_bytes, sizeof bytes - pad.partial_bytes);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        const size_t have = pad.partial_bytes + size_t(n);
        size_t at = 0;
        for (; at + sizeof(input_event) <= have; at += sizeof(input_event)) {
            input_event e;
            std::memcpy(&e, bytes + at, sizeof e);
            apply_pad_event(pad.state, e);
        }
        pad.partial_bytes = have - at;
        std::memcpy(pad.partial, bytes + at, pad.partial_bytes);
    }
}

void watch_folder() {
    char events[4096] __attribute__((aligned(alignof(inotify_event))));
    for (;;) {
        const ssize_t n = read(watch_fd, events, sizeof events);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            if (e->len && (e->mask & (IN_CREATE | IN_ATTRIB | IN_MOVED_TO))) try_open(e->name);
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
}

void show_lines() {
    uint8_t lines = 0;
    if (enabled)
        for (const Pad& p : pads) lines |= pad_lines(p.state);
    if (lines != shown && gamepad_output) gamepad_output(lines, shown);
    shown = lines;
}

}  // namespace

const char* gamepad_folder = "/dev/input";
bool (*probe_gamepad)(int fd, PadAxes* axes) = probe_with_libevdev;
void (*gamepad_output)(uint8_t lines, uint8_t before) = nullptr;

void start_gamepads() {
    stop_gamepads();
    watch_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_fd != -1 && inotify_add_watch(watch_fd, gamepad_folder, IN_CREATE | IN_ATTRIB | IN_MOVED_TO) == -1) {
        close(watch_fd);
        watch_fd = -1;
    }
    if (DIR* dir = opendir(gamepad_folder)) {
        while (const dirent* d = readdir(dir)) try_open(d->d_name);
        closedir(dir);
    }
    add_frame_call(poll_gamepads);
}

void poll_gamepads() {
    if (watch_fd != -1) watch_folder();
    for (size_t i = pads.size(); i-- > 0;)
        if (!read_pad(pads[i])) forget(i);
    show_lines();
}

void stop_gamepads() {
    while (!pads.empty()) forget(pads.size() - 1);
    if (watch_fd != -1) close(watch_fd);
    watch_fd = -1;
    show_lines();
}

void set_gamepads_enabled(bool on) {
    enabled = on;
    show_lines();
}

bool gamepads_enabled() { return enabled; }

unsigned gamepad_count() { return unsigned(pads.size()); }
