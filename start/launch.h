// What the files named on the command line become: the memory they run on,
// how they load and which of them starts.
//
// Cartridges load during start-up and start at reset. BASIC programs and
// memory images load once BASIC waits at READY (the kernal's start-up
// clears pages 0, 2 and 3), in the order named, except that the last one
// that can start (a BASIC program, or an image that puts one at the BASIC
// start) loads last and gets RUN. An image that cannot start says where it
// went. A disk image named alone becomes drive 8 and its first program is
// treated the same way, typed LOAD and all; so is a .t64's first file, from
// the tape. A .tap named alone gets PLAY with LOAD, then RUN. When a cartridge starts at reset, READY never
// comes: the images then load during start-up.
#pragma once

#include <vector>

// Start-up, before the menus exist: reads the program files, picks the
// expansion (the user's choice when the programs fit it, else by itself:
// 24 KB for BASIC at $1201, every block an image covers) and marks the
// settings as changed when it differs. `memory_option` is -memory's
// expansion, or -1. Unless `drive_chosen` (-drive8), the folder of the
// program that starts (or loads last) becomes drive 8.
void plan_launch(const std::vector<const char*>& files, int memory_option, bool drive_chosen);

// True for an argument that plan_launch took: start-up's file walk passes it by.
bool launch_takes(const char* arg);

// Start-up, after the file walk: puts the expansion into effect and queues
// the loads and the RUN (or loads the images at once before a cartridge).
void finish_launch();

// A file named on the command line that launch_takes leaves alone, or chosen
// with Load cart: a ".d64" name (any case) becomes drive 8, a ".tap" or
// ".t64" the tape, anything else loads as a cartridge by its suffix.
void load_game_cartridge(const char* name);
