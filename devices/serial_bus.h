// Drives 8 to 11 on the kernal's serial bus: trap points at the entries of
// TALK, LISTEN, SECOND, TKSA, CIOUT, ACPTR, UNTALK and UNLISTEN that answer
// for an attached drive (devices/dos.h) and leave every other device to the
// kernal's own code. They go in only where the kernal image holds those
// routines as the VIC 20's kernals have them.
#pragma once

#include <cstdint>
#include <vector>

#include "../core/snapshot.h"

// Start-up: hands the trap points to the core and has every file still
// open for writing written at exit, also when SIGTERM, SIGINT or SIGHUP
// ends the program (at the end of the frame it arrives in).
void add_serial_bus_traps();

// The bus's part in a drive's snapshot section: whether the drive listens
// (how, on which channel, an OPEN's name so far) or talks (on which channel).
// Loading with `apply` makes it listen or talk as saved, or neither. No
// byte waits on the bus for its EOI: CIOUT's byte goes to the channel at once.
void bus_save_state(unsigned unit, std::vector<uint8_t>& body);
bool bus_load_state(unsigned unit, const std::vector<FieldView>& found, bool apply);
