// The two hooks through which the devices (devices/) join the machine at
// start-up: kernal trap points with their handlers, and a call at the end of
// every frame. The core knows nothing else of them.
#pragma once

#include <cstdint>

// ---- kernal traps ----------------------------------------------------------------

// A trap point is a kernal instruction whose opcode the processor fetches as
// TRAP_OPCODE, one that otherwise halts. Data reads (PEEK, a copy of the
// kernal into RAM) still see the kernal's own byte, so only the kernal at its
// own address traps, and no other instruction pays anything for it.
constexpr uint8_t TRAP_OPCODE = 0x02;

// True when the handler did the work (registers, PC and `cycles` set);
// false runs the kernal's own instruction.
using TrapHandler = bool (*)();

struct KernalTrap {
    uint16_t address;  // in $E000-$FFFF
    TrapHandler handler;
};

// A device's trap points, put in only while `fits` says the kernal in the
// image is the one they were written for (it reads the kernal's own bytes).
// Adding a trap point again replaces its handler.
void add_kernal_traps(bool (*fits)(), const KernalTrap* traps, unsigned count);

// Takes out the trap points, then puts in those of every device whose kernal
// fits. Called wherever the kernal is (re)loaded.
void install_kernal_traps();

// The TRAP_OPCODE handler's question: true when PC is a trap point and it
// has been dealt with; false when the opcode is to run as what it is.
bool run_kernal_trap();

// A data read in a block marked BLOCK_TRAPPED (READMEM): the kernal's own byte.
uint8_t kernal_byte(uint16_t addr);

// ---- frame calls ---------------------------------------------------------------------

using FrameCall = void (*)();

// A call at the end of every emulated frame; adding one again does nothing.
void add_frame_call(FrameCall call);

// The main loop's call at the end of a frame: every frame call in turn. Out
// of line, so that the loop's per-step path keeps its registers free.
void run_frame_calls();
