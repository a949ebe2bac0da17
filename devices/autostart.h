// Lines that BASIC gets as if typed, once it waits at READY: how a program
// named on the command line loads and starts by itself.
//
// Usage: queue lines with autostart_queue_line; the main loop calls
// autostart_at_frame_end once per emulated frame. The first line in the
// queue is taken the first time the screen editor waits for a key in direct
// mode with an empty keyboard buffer: its program, if it names one, is
// loaded through readbasic (the line is dropped when that fails), then its
// text and Return go into the keyboard buffer. Each further line waits until
// BASIC is back at READY, so a disk program loads and starts with two lines:
//     autostart_queue_line("LOAD\"*\",8");
//     autostart_queue_line("RUN");
// The test looks only at the machine's state, so it holds at any speed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- the queue ------------------------------------------------------------------

// Text in upper-case ASCII (the same codes in PETSCII for letters, digits
// and punctuation), without the Return. Longer than the keyboard buffer is
// fine: the rest follows as the editor takes the keys. `before`, if given,
// runs just before the first key goes in.
void autostart_queue_line(const std::string& text, const std::string& program = "", void (*before)() = nullptr);

// True while lines wait; the main loop asks nothing else per frame.
extern bool autostart_pending;
void autostart_next_line();
inline void autostart_at_frame_end() {
    if (autostart_pending) autostart_next_line();
}

// Empties the queue (tests).
void autostart_clear();

// Where the kernal's screen editor loops waiting for a key (the same in the
// NTSC and PAL kernals), and the zero-page bytes the check reads.
constexpr uint16_t EDITOR_WAIT_LOOP = 0xE5E8, EDITOR_WAIT_LOOP_END = 0xE5F1;
constexpr uint16_t KEYS_WAITING = 0xC6;  // keys in the keyboard buffer
constexpr uint16_t KEYBOARD_BUFFER = 0x0277;
constexpr unsigned KEYBOARD_BUFFER_SIZE = 10;
constexpr uint16_t MESSAGE_MODE = 0x9D;  // kernal messages; BASIC's READY sets this bit, RUN clears it
constexpr uint8_t DIRECT_MODE = 0x80;

// ---- programs named on the command line ------------------------------------------

// Start-up, before the machine is built: finds the BASIC programs (a ".pr"
// name whose header page is $04, $10 or $12) among the file arguments. The
// last one is queued to load and RUN; the others are skipped, which is said.
// When the configured expansion does not suit it, the one it needs is chosen
// (said, and marked as differing from the configuration file). A program
// file with nothing after its header is skipped with a word too.
void plan_program_autostart(const std::vector<const char*>& files);

// Start-up, for a disk image named alone: attaches it as drive 8 and, when
// that worked, runs its first program (LOAD"*",8 then RUN).
void autostart_disk_image(const char* path);

// Start-up, for a .tap named alone: attaches it, then holds PLAY down as it
// types LOAD, then RUN.
void autostart_tape_image(const char* path);

// Start-up, for a .t64 named alone: attaches it as the tape and writes its
// first program to a program file of its own (removed at exit), whose path
// it returns to start like a program named on the command line; "" when
// there is none (said).
std::string t64_program_file(const char* path);

// True for an argument that plan_program_autostart took care of: the file
// walk of start-up passes it by.
bool taken_by_autostart(const char* arg);

// Start-up, after the file walk: puts the program's expansion into effect.
void apply_program_expansion();
