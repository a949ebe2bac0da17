// The hooks through which the devices (devices/) join the machine: kernal
// trap points with their handlers and a call at the end of every frame, both
// registered at start-up, and a call at a cycle of the machine's clock for a
// device that keeps time with the processor (the datasette). The core knows
// nothing else of them.
#pragma once

#include <cstdint>

#include "tarvikon.h"

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

// ---- reset calls -------------------------------------------------------------------

// Calls at the end of every reset of the machine, for what a device still
// holds for the program that ran before it. Adding one again does nothing.
void add_reset_call(FrameCall call);
void run_reset_calls();

// ---- between frames -----------------------------------------------------------------

// Calls after every frame of the main loop, where the machine stands between
// two turns: snapshots are taken and loaded there. Adding one again does nothing.
void add_between_frames_call(FrameCall call);
void run_between_frames_calls();

// Host input (keys, joystick, paddles, light pen) reaches the machine only in
// the window-system polls at a frame's end. This call, when set, follows
// them, still in the same turn, before the machine runs on.
extern FrameCall input_reached_call;

// ---- the machine's clock ----------------------------------------------------------

// Cycles since start-up at the start of the raster line; the clock at the
// start of the current step is line_start_cycle + line_cycles.
extern uint64_t line_start_cycle;

// A turn of the main loop ends, and leaves its fast path, when line_cycles
// reaches this: scanline, or sooner when a cycle call is due within the line.
extern uint32_t step_limit;
extern bool cycle_call_armed;

// One call at the end of the step in which the clock reaches `cycle` (at
// once after the current step when that has passed); a new request replaces
// the one waiting. The call may ask for the next.
void call_at_cycle(uint64_t cycle, void (*call)());
void cancel_cycle_call();

// The main loop's side: runs the call when it is due and sets step_limit.
void run_due_cycle_call();
inline uint64_t machine_cycle() { return line_start_cycle + line_cycles; }

// ---- the frame runner ----------------------------------------------------------------

// While set, the main loop runs each frame through this call instead of
// run_frame(): the monitor's single steps with their checks. Null costs the
// loop one test a frame, and the processor nothing.
extern void (*frame_runner)();
