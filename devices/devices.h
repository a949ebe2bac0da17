// The devices around the machine: drive 8, the datasette and the lines typed
// for a program named on the command line. They reach the core only through
// its hooks (core/hooks.h).
#pragma once

// Start-up, before the kernal's trap points go in: every device registers
// its hooks. Calling it again changes nothing.
void start_devices();
