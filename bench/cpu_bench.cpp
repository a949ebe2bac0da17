// Processor speed on Klaus Dormann's functional test: the 64 KB image runs
// from $0400 until an instruction leaves PC unchanged (a `JMP *` trap). The
// run is repeated and the median speed reported.
//
// The processor runs in slices of SLICE_CYCLES, as the machine runs it, and
// the trap is looked for between slices only. When a slice ends in it, that
// slice is run again from a copy, an instruction at a time, to find the
// instruction that reached it first.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench.h"
#include "core/cpu.h"
#include "core/memory.h"
#include "core/tarvikon.h"

namespace {

constexpr uint16_t START = 0x0400;
constexpr uint16_t SUCCESS_TRAP = 0x3469;
constexpr uint64_t INSTRUCTION_LIMIT = 200'000'000;
constexpr int RUNS = 5;
constexpr int32_t SLICE_CYCLES = 100'000;

struct Run {
    uint16_t trap;
    uint64_t instructions, cycles;
    double seconds;
};

// Fresh machine with the image loaded: every block RAM, no chip handlers,
// processor as after a reset but at the test's entry.
void load(const std::vector<uint8_t>& image) {
    std::memcpy(memory, image.data(), MEMORY_SIZE);
    std::memset(rombank, BLOCK_RAM, sizeof rombank);
    std::memset(io_read, 0, sizeof io_read);
    std::memset(io_write, 0, sizeof io_write);
    Register = CpuRegisters{START, 0, 0, 0, 0xFF};
    std::memset(Flags, 0, sizeof Flags);
    Flags[FLAG_5] = Flags[FLAG_B] = 1;
}

struct Snapshot {
    std::vector<uint8_t> image = std::vector<uint8_t>(MEMORY_SIZE);
    CpuRegisters registers;
    uint8_t flags[8];
    uint64_t instructions, cycles;
};

Run run_once(const std::vector<uint8_t>& image) {
    load(image);
    Run r{0, 0, 0, 0};
    Snapshot saved;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        std::memcpy(saved.image.data(), memory, MEMORY_SIZE);
        saved.registers = Register;
        std::memcpy(saved.flags, Flags, sizeof Flags);
        saved.instructions = r.instructions;
        saved.cycles = r.cycles;
        r.instructions += uint32_t(run_instructions(SLICE_CYCLES));
        r.cycles += uint32_t(cycles);
        const uint16_t pc = Register.PC;
        execute_instruction();
        r.instructions++;
        r.cycles += uint32_t(cycles);
        if (Register.PC == pc) break;
        if (r.instructions >= INSTRUCTION_LIMIT) {
            r.trap = Register.PC;
            return r;
        }
    }
    // The slice that ended in the trap, again, with a check after every instruction.
    std::memcpy(memory, saved.image.data(), MEMORY_SIZE);
    Register = saved.registers;
    std::memcpy(Flags, saved.flags, sizeof Flags);
    r.instructions = saved.instructions;
    r.cycles = saved.cycles;
    for (uint16_t pc = Register.PC;; pc = Register.PC) {
        execute_instruction();
        r.instructions++;
        r.cycles += uint32_t(cycles);
        if (Register.PC == pc) break;
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.trap = Register.PC;
    return r;
}

}  // namespace

int bench_cpu(const char* image_path) {
    std::vector<uint8_t> image(MEMORY_SIZE);
    FILE* f = std::fopen(image_path, "rb");
    size_t got = f ? std::fread(image.data(), 1, image.size(), f) : 0;
    if (f) std::fclose(f);
    if (got != MEMORY_SIZE) {
        std::printf("cpu: failed, cannot read a 64 KB image from %s\n", image_path);
        return 1;
    }
    if (!memory) memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));

    std::vector<double> mhz;
    Run r{};
    for (int i = 0; i < RUNS; i++) {
        r = run_once(image);
        if (r.trap != SUCCESS_TRAP) {
            std::printf("cpu: failed, trapped at $%04X after %llu instructions\n", unsigned(r.trap),
                        static_cast<unsigned long long>(r.instructions));
            return 1;
        }
        mhz.push_back(double(r.cycles) / r.seconds / 1e6);
        std::printf("run %d: %.3f s, %.2f emulated MHz\n", i + 1, r.seconds, mhz.back());
    }
    std::sort(mhz.begin(), mhz.end());
    std::printf("cpu: passed, %llu instructions, %llu cycles, %.2f emulated MHz\n",
                static_cast<unsigned long long>(r.instructions), static_cast<unsigned long long>(r.cycles),
                mhz[mhz.size() / 2]);
    return 0;
}
