// The datasette: a .tap pulse image played into the read line while PLAY is
// held and the motor runs, the write line's pulses recorded while RECORD is
// held too, and a .t64 container served file by file.
//
// A standard kernal tape file loads at once: a trap at the top of the
// kernal's block read takes the block from the tape when the tape holds one
// in the kernal's format at its position (every .t64 file does); anything
// else plays in real time, at the cycle each pulse ends, so loaders that
// time the pulses themselves load too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Attaches a .tap or .t64 image at its start with no key held; a .tap name
// that does not exist yet is a new, empty tape. Says what it did on one line;
// false (the tape left as it was) for a file that is no tape image.
bool tape_attach(const std::string& path);

// The keys. RECORD holds PLAY down too. STOP releases both; a recording is
// written to its file whenever the motor stops and when the tape stops or
// is ejected. RECORD without a tape puts in a new one, tape.tap (or
// tape-2.tap and so on) in the working directory.
void tape_play();
void tape_record();
void tape_stop();
void tape_rewind();
void tape_eject();

// The first file of the attached .t64 as a program file (load address, then
// the bytes); false without a .t64 or a file in it.
bool tape_first_program(std::vector<uint8_t>& program);

// What the window shows: the counter (seconds of tape at PAL speed, or the
// file number in a .t64) and the key held, e.g. "Tape 012 PLAY"; empty
// without a tape.
std::string tape_status();

// Options: run at warp speed while the motor runs (on by default), and let
// the kernal's trap load standard files at once (off plays them in real time).
extern bool tape_warp;
extern bool tape_instant_load;

// Start-up: the datasette's frame call and its kernal trap.
void add_datasette_hooks();
