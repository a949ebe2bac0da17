// Drives 8 to 11 on the kernal's serial bus: trap points at the entries of
// TALK, LISTEN, SECOND, TKSA, CIOUT, ACPTR, UNTALK and UNLISTEN that answer
// for an attached drive (devices/dos.h) and leave every other device to the
// kernal's own code. They go in only where the kernal image holds those
// routines as the VIC 20's kernals have them.
#pragma once

// Start-up: hands the trap points to the core and has every file still
// open for writing written at exit, also when SIGTERM, SIGINT or SIGHUP
// ends the program (at the end of the frame it arrives in).
void add_serial_bus_traps();
