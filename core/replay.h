// Input record and playback: the keys, joystick lines, paddles and light
// pen as they reach the machine, each change with the cycle it reached it
// at, written to a file and played back from the same start (the same
// snapshot, or a cold start with the same files), so that a session runs
// again frame for frame.
//
// The file: the magic "TVKINPUT", a 2-byte version, then one record per
// change: the machine's clock (8 bytes, little-endian) and the lines
// (INPUT_LINES_SIZE bytes as input_lines_bytes() lays them out).
#pragma once

#include <array>
#include <cstdint>

constexpr unsigned INPUT_LINES_SIZE = 28;
using InputLines = std::array<uint8_t, INPUT_LINES_SIZE>;

// The lines as they stand: keyrow, keycol, keycount (4 bytes), both
// joystick words, the paddles and the light pen.
InputLines input_lines_bytes();
void set_input_lines(const InputLines& lines);

// Each says on one line what it did; false (nothing started) on failure.
bool start_recording(const char* path);
bool start_playback(const char* path);

// Ends a recording (its file is complete after every change) or a playback.
void stop_replay();

// True while a playback has records still to come.
bool playback_running();
