// The 6502 processor: one whole instruction per call.
//
// execute_instruction() runs the instruction at memory[PC], updates Register
// and Flags and assigns `cycles`. Interrupt entry is the main loop's job.
#pragma once

#include <array>
#include <cstdint>

#include "memory.h"
#include "tarvikon.h"

// One handler per opcode, generated from the opcode table in cpu.cpp.
using InstructionHandler = void (*)();
extern const std::array<InstructionHandler, 256> instruction_handlers;

inline void execute_instruction() { instruction_handlers[memory[Register.PC]](); }

// The stack is page 1 of memory, reached directly and wrapping silently.
inline void push_byte(uint8_t value) {
    memory[0x100 + Register.SP] = value;
    Register.SP = uint8_t(Register.SP - 1);
}

inline uint8_t pull_byte() {
    Register.SP = uint8_t(Register.SP + 1);
    return memory[0x100 + Register.SP];
}
