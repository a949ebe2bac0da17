// The program's entry: banner, options and the fixed start-up order.
#pragma once

// Runs start-up up to the machine start: options ("-h" before the display
// is opened), configuration, address space, system ROMs, the BASIC program
// to start and its expansion, sound process, joystick, X client, version
// patch, the other file arguments and memory layout. Exits the process after the usage text
// (status 0) or a fatal failure (status -1). TARVIKON_DUMP=1 in the
// environment switches on the dump at shut-down.
void start_tarvikon(int argc, char** argv);

// After the machine start: loads the snapshot of -snapshot and starts the
// input recording or playback of -record and -playback.
void start_from_snapshot();

// Prints the usage text.
void show_help();

// -keymap positional: host keys map by their place on the keyboard, not by
// the characters they type.
extern bool positional_keys;
