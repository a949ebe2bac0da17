// The rewind buffer's cost at real speed: a minute of emulated time on the
// PAL machine with the ring filling, its memory at the end and the
// processor time its states took, as a share of a core running in real
// time. Two loads: BASIC idle at READY (the cursor blinking), and a machine
// program that rewrites the 24 KB expansion and the screen without end,
// about the most a state can differ from the one before.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bench.h"
#include "core/memory.h"
#include "core/pacing.h"
#include "core/rewind.h"
#include "core/tarvikon.h"

namespace {

constexpr int BOOT_FRAMES = 300;
constexpr int MINUTE_FRAMES = 60 * 50;

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// In the tape buffer at $033C, interrupts off: adds 1 to every byte of
// $1000-$7FFF through the pointer at $FB, round and round.
void put_busy_program() {
    const uint8_t code[] = {
        0x78,                    // SEI
        0xA0, 0x00,              // LDY #0
        0xA9, 0x10, 0x85, 0xFC,  // loop: LDA #$10, STA $FC
        0xA9, 0x00, 0x85, 0xFB,  // LDA #0, STA $FB
        0xB1, 0xFB, 0x18, 0x69, 0x01, 0x91, 0xFB,  // page: LDA ($FB),Y, CLC, ADC #1, STA ($FB),Y
        0xC8, 0xD0, 0xF6,        // INY, BNE page
        0xE6, 0xFC, 0xA5, 0xFC, 0xC9, 0x80, 0xD0, 0xEE,  // INC $FC, LDA $FC, CMP #$80, BNE page
        0x4C, 0x3F, 0x03,        // JMP loop
    };
    std::memcpy(memory + 0x033C, code, sizeof code);
    Register.PC = 0x033C;
}

// What the two clock readings around each call cost by themselves.
double clock_pair_seconds() {
    const double start = thread_seconds();
    for (int i = 0; i < 1000; i++) {
        volatile double a = thread_seconds(), b = thread_seconds();
        (void)a, (void)b;
    }
    return (thread_seconds() - start) / 1000;
}

void measure(const char* name) {
    const double clock_cost = clock_pair_seconds();
    rewind_clear();
    double in_rewind = 0;
    const double start = thread_seconds();
    for (int f = 0; f < MINUTE_FRAMES; f++) {
        run_frame();
        const double before = thread_seconds();
        rewind_between_frames();
        in_rewind += thread_seconds() - before;
    }
    in_rewind -= clock_cost * MINUTE_FRAMES;
    const size_t states = rewind_states(), bytes = rewind_bytes();
    const double all = thread_seconds() - start;
    const double real = double(frames_ns(MINUTE_FRAMES, frame_rate(scanline, last_line))) / 1e9;
    rewind_held = true;
    const double back_start = thread_seconds();
    unsigned steps = 0;
    for (; steps < 100 && rewind_states() > 1; steps++) rewind_between_frames();
    const double per_step = (thread_seconds() - back_start) / steps;
    rewind_held = false;
    std::printf("rewind %s: %zu states, %.1f MB; taking them %.3f %% of a core at real speed (%.1f %% of the "
                "emulation's own time at warp speed); a step back %.0f us\n",
                name, states, double(bytes) / (1 << 20), 100.0 * in_rewind / real,
                100.0 * in_rewind / all, 1e6 * per_step);
}

}  // namespace

int bench_rewind(const char* roms_dir) {
    if (!start_machine(roms_dir)) return 1;
    for (int f = 0; f < BOOT_FRAMES; f++) run_frame();
    rewind_on = true;
    measure("idle at READY");
    apply_expansion_layout(EXP_24K);
    put_busy_program();
    measure("rewriting all of $1000-$7FFF");
    std::free(memory);
    memory = nullptr;
    return 0;
}
