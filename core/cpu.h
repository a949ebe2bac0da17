// The 6502 processor.
//
// run_instructions() runs the instructions from Register.PC, updates Register
// and Flags and assigns `cycles`. Interrupt entry is the main loop's job.
#pragma once

#include <cstdint>

#include "memory.h"
#include "tarvikon.h"

// Runs instructions until they have taken `budget` cycles or more (up to
// 2^20), and at least one. A run also ends after an instruction that reached a chip
// register (the machine then sees to the access's effects), and before a
// halt opcode or trap point that is not its first instruction, so that these
// run as a step of their own. Returns the number of instructions run;
// `cycles` holds the cycles they took, which a halt leaves as it was.
int32_t run_instructions(int32_t budget);

// One instruction, the one at memory[PC].
inline void execute_instruction() { run_instructions(1); }

// The interrupt poll of the last run's last instruction. The 6502 decides
// whether to take an interrupt after an instruction from the lines as they
// stand in its second-to-last cycle (`lead` 2 cycles before its end). A
// taken branch that stays in its page does not poll in its last cycles, so
// its poll is in its first cycle (`lead` 3). CLI, SEI and PLP change I after
// their poll: `i_set` is I as the poll found it.
struct InterruptPoll {
    int32_t lead;
    bool i_set;
};
extern InterruptPoll last_interrupt_poll;

// The cycles of the last run's last instruction: the count a loop of single
// steps would leave in `cycles`, which a halt opcode leaves as it is.
extern int32_t last_step_cycles;

// Set while an interrupt request waits for I to clear: a run then ends
// after CLI, PLP or RTI, whose poll may take it.
extern bool run_ends_when_i_clears;

// One instruction as if `opcode` stood at PC (a trap point's own instruction).
void execute_opcode(uint8_t opcode);

// The stack is page 1 of memory, reached directly and wrapping silently.
inline void push_byte(uint8_t value) {
    memory[0x100 + Register.SP] = value;
    Register.SP = uint8_t(Register.SP - 1);
}

inline uint8_t pull_byte() {
    Register.SP = uint8_t(Register.SP + 1);
    return memory[0x100 + Register.SP];
}
