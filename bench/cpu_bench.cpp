// Processor speed on Klaus Dormann's functional test: the 64 KB image runs
// from $0400 until an instruction leaves PC unchanged (a `JMP *` trap). The
// run is repeated and the median speed reported.
//
// The processor runs in slices of SLICE_CYCLES, as the machine runs it.
// A run ends before a halt opcode, so one put over the success trap's
// `JMP *` ends the slice that reaches it; the trap itself then runs once as
// it is. A failure trap is found between slices by running one instruction
// more and seeing PC stay.
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
constexpr int32_t SLICE_CYCLES = 1'000'000;
constexpr uint8_t HALT_OPCODE = 0x12;
constexpr uint8_t JMP_ABSOLUTE = 0x4C;

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

Run run_once(const std::vector<uint8_t>& image) {
    load(image);
    memory[SUCCESS_TRAP] = HALT_OPCODE;
    Run r{0, 0, 0, 0};
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        r.instructions += uint32_t(run_instructions(SLICE_CYCLES));
        r.cycles += uint32_t(cycles);
        const uint16_t pc = Register.PC;
        if (pc == SUCCESS_TRAP) memory[pc] = JMP_ABSOLUTE;
        execute_instruction();
        r.instructions++;
        r.cycles += uint32_t(cycles);
        if (Register.PC == pc) break;
        if (r.instructions >= INSTRUCTION_LIMIT) break;
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

    if (image[SUCCESS_TRAP] != JMP_ABSOLUTE || image[SUCCESS_TRAP + 1] != (SUCCESS_TRAP & 0xFF) ||
        image[SUCCESS_TRAP + 2] != SUCCESS_TRAP >> 8) {
        std::printf("cpu: failed, no JMP $%04X at $%04X in %s\n", unsigned(SUCCESS_TRAP), unsigned(SUCCESS_TRAP), image_path);
        return 1;
    }
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
