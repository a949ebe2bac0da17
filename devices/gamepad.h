// Gamepads through the kernel's event interface: every pad in /dev/input
// drives the joystick, its d-pad and left stick the directions, its face
// buttons, shoulder buttons and triggers the fire button. Pads come and go
// while the machine runs (the folder is watched with inotify); a pad pulled
// out lets go of everything it held. The old joystick device (-joy) is apart.
#pragma once

#include <cstdint>
#include <linux/input.h>

// The lines a pad holds, one bit each, in the order of the joystick lines
// (up, down, left, right, fire).
enum PadLine : uint8_t { PAD_UP = 1, PAD_DOWN = 2, PAD_LEFT = 4, PAD_RIGHT = 8, PAD_FIRE = 16 };

// The range of the left stick's two axes.
struct PadAxes {
    int32_t min_x = -32768, max_x = 32767, min_y = -32768, max_y = 32767;
};

// What the reader knows of one pad.
struct PadState {
    PadAxes axes;
    int32_t x = 0, y = 0;            // the stick (set to the centre when found)
    int32_t hat_x = 0, hat_y = 0;    // the d-pad as an axis pair, -1 to 1
    uint8_t dpad_buttons = 0;        // the d-pad as buttons, PadLine bits
    uint64_t fire_buttons = 0;       // one bit a fire button held
    bool dropped = false;            // the kernel dropped events: wait for the next report
};

// ---- the reader, usable without a device ----------------------------------------

PadState new_pad_state(const PadAxes& axes);
// One event record; the lines follow at the next report (SYN_REPORT).
void apply_pad_event(PadState& pad, const input_event& event);
uint8_t pad_lines(const PadState& pad);

// ---- the pads of the host -------------------------------------------------------

// The folder of event devices, "/dev/input"; tests point it elsewhere.
extern const char* gamepad_folder;
// Whether an opened device is a pad, and its stick's range: the real one
// asks libevdev; tests put in one for their own files.
extern bool (*probe_gamepad)(int fd, PadAxes* axes);
// Receives the lines of all pads together whenever they change (the X
// interface moves the joystick lines); none while it is null.
extern void (*gamepad_output)(uint8_t lines, uint8_t before);

// Opens the pads there and watches the folder; polled at every frame end.
void start_gamepads();
void poll_gamepads();
void stop_gamepads();
// Options > Joystick: with pads off, only the keys move the joystick.
void set_gamepads_enabled(bool on);
bool gamepads_enabled();
unsigned gamepad_count();
