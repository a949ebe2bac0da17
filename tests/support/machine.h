// A fresh machine for tests and fuzz targets, without any test framework.
#pragma once

#include <cstdint>

// The address space as start-up leaves it before the ROMs are loaded: 64 KB
// (allocated if there is none yet), $0000-$8FFF and $A000-$BFFF filled with
// $FF, the rest 0, every block RAM, no key down, quiet settings (no sound,
// not verbose, normal window, no dump), the given video timing, the clock at
// 0. Also wires the chips, sets their timers and latches as at a reset and
// installs the register handlers.
void reset_test_machine(uint8_t timing);
