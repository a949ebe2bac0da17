// Helpers for the processor tests: a fresh machine with the processor at
// $2000, programs poked into memory, and stepping.
#pragma once

#include <cstring>
#include <initializer_list>

#include "core/cpu.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "support.h"

// Every block RAM, the chips wired, registers cleared, SP = $FF, bit 5 and B set.
inline void cpu_machine(uint16_t pc = 0x2000) {
    new_machine();
    Register = CpuRegisters{pc, 0, 0, 0, 0xFF};
    std::memset(Flags, 0, sizeof Flags);
    Flags[FLAG_5] = Flags[FLAG_B] = 1;
}

inline void poke(uint16_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) memory[at++] = b;
}

// Executes one instruction and returns its cycle count.
inline int step() {
    execute_instruction();
    return cycles;
}

// Runs until an instruction leaves PC unchanged; returns the trap address,
// or -1 when `limit` instructions pass first.
struct TrapRun {
    int trap = -1;
    uint64_t instructions = 0, cycles = 0;
};
inline TrapRun run_to_trap(uint64_t limit) {
    TrapRun r;
    while (r.instructions < limit) {
        uint16_t pc = Register.PC;
        execute_instruction();
        r.instructions++;
        r.cycles += uint32_t(cycles);
        if (Register.PC == pc) {
            r.trap = pc;
            break;
        }
    }
    return r;
}
