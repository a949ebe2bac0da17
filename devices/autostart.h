// Lines that BASIC gets as if typed, once it waits at READY: how a program
// named on the command line loads and starts by itself.
//
// Usage: queue lines with autostart_queue_line; the main loop calls
// autostart_at_frame_end once per emulated frame. The first line in the
// queue is taken the first time the screen editor waits for a key in direct
// mode with an empty keyboard buffer: its program, if it names one, is
// loaded (the line is dropped when that fails), then its
// text and Return go into the keyboard buffer. Each further line waits until
// BASIC is back at READY, so a disk program loads and starts with two lines:
//     autostart_queue_line("LOAD\"*\",8");
//     autostart_queue_line("RUN");
// The test looks only at the machine's state, so it holds at any speed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- the queue ------------------------------------------------------------------

// Text in upper-case ASCII (the same codes in PETSCII for letters, digits
// and punctuation), without the Return. Longer than the keyboard buffer is
// fine: the rest follows as the editor takes the keys.
void autostart_queue_line(const std::string& text, const std::string& program = "");
// The same with any loader in place of readbasic; false drops the line. An
// empty text types nothing: the line only waits for READY and loads.
void autostart_queue_line(const std::string& text, std::function<bool()> load);
// Keys typed at READY as they are, without a Return after them.
void autostart_queue_keys(const std::string& keys);

// True while lines wait; the main loop asks nothing else per frame.
extern bool autostart_pending;
void autostart_next_line();
inline void autostart_at_frame_end() {
    if (autostart_pending) autostart_next_line();
}

// Puts keys[from...] into the kernal's keyboard buffer once the kernal has
// emptied it, as many as its limit ($0289) lets in; how many went in.
size_t type_into_buffer(const std::string& keys, size_t from);

// True while BASIC waits at READY for a key in direct mode, nothing typed
// ahead: the machine runs no program.
bool editor_waits_in_direct_mode();

// Empties the queue (tests).
void autostart_clear();

// Where the kernal's screen editor loops waiting for a key (the same in the
// NTSC and PAL kernals), and the zero-page bytes the check reads.
constexpr uint16_t EDITOR_WAIT_LOOP = 0xE5E8, EDITOR_WAIT_LOOP_END = 0xE5F1;
constexpr uint16_t KEYS_WAITING = 0xC6;  // keys in the keyboard buffer
constexpr uint16_t KEYBOARD_BUFFER = 0x0277;
constexpr unsigned KEYBOARD_BUFFER_SIZE = 10;
constexpr uint16_t KEYBOARD_BUFFER_LIMIT = 0x0289;  // the kernal's own limit, at most the size
constexpr uint16_t MESSAGE_MODE = 0x9D;  // kernal messages; BASIC's READY sets this bit, RUN clears it
constexpr uint8_t DIRECT_MODE = 0x80;
