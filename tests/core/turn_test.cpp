// The main loop's turns against single steps: the program runs its frames in
// turns of many instructions, and the whole machine must come out of every
// frame exactly as a step at a time would leave it. Both kernals boot and run
// a BASIC program that reads the timers and the raster line and writes the
// VIC, then RUN/STOP with RESTORE (an NMI); a program writing the VIC at
// fixed cycles of each line, one waiting for the raster in loops (which a
// turn passes through at once), and programs that time interrupts to the
// cycle run on both chips, with every frame drawn and with one in three
// (the turns then run through the undrawn frames' lines).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/hooks.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "files/fileio.h"
#include "basic_program.h"
#include "support.h"

namespace {

// Everything a frame leaves behind, laid end to end: the 64 KB, the frame
// image, then registers, flags, clock, raster, interrupt lines and latches.
using MachineState = std::vector<uint8_t>;

MachineState capture() {
    MachineState s(memory, memory + MEMORY_SIZE);
    s.insert(s.end(), frame_image, frame_image + FRAME_ALLOC_BYTES);
    const uint64_t clock = machine_cycle();
    s.insert(s.end(), {uint8_t(Register.PC), uint8_t(Register.PC >> 8), Register.A, Register.X, Register.Y,
                       Register.SP, uint8_t(raster), uint8_t(raster >> 8), nmi_low, nmi_alt, irq_low});
    s.insert(s.end(), Flags, Flags + 8);
    s.insert(s.end(), reinterpret_cast<const uint8_t*>(&clock), reinterpret_cast<const uint8_t*>(&clock + 1));
    for (const Via* via : {&Via1, &Via2})
        s.insert(s.end(), {via->irb, via->ira, via->porta_in, via->t2_latch_low, via->t2_armed, via->t1_armed});
    return s;
}

// Where two runs part, for the failure message.
std::string difference(const MachineState& a, const MachineState& b) {
    const size_t at = size_t(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
    if (at < MEMORY_SIZE) return "memory at " + std::to_string(at);
    if (at < MEMORY_SIZE + FRAME_ALLOC_BYTES) return "frame image byte " + std::to_string(at - MEMORY_SIZE);
    return "registers, flags, clock or chip state, byte " + std::to_string(at - MEMORY_SIZE - FRAME_ALLOC_BYTES);
}

// One frame in this many is drawn, from a blank picture, not the previous
// session's.
uint32_t drawn_one_in = 1;

void draw_frames() {
    interrupt = drawn_one_in;
    intdef = 1;
    std::memset(frame_image, 0, FRAME_ALLOC_BYTES);
}

void frame_in_steps() {
    for (uint16_t before = raster;; before = raster) {
        run_step();
        if (raster < before) return;
    }
}

// 10 POKE36879,PEEK(37140):A=PEEK(36868)+PEEK(37156)+PEEK(37144):POKE36865,A AND 31:GOTO10
const std::string PROGRAM_LINE = "\x97" "36879,\xC2(37140):A\xB2\xC2(36868)\xAA\xC2(37156)\xAA\xC2(37144):"
                                 "\x97" "36865,A \xAF 31:\x89" "10";

// Boots, starts the program, then RUN/STOP with RESTORE, taking the machine
// state after every frame.
std::vector<MachineState> basic_session(uint8_t timing, void (*frame)()) {
    new_machine(timing);
    readrom(shared_path(timing ? "roms/kernel.pal" : "roms/kernel.ntsc").c_str(), 0xE000, 8192);
    readrom(shared_path("roms/basic.rom").c_str(), 0xC000, 8192);
    readrom(shared_path("roms/chargen.rom").c_str(), 0x8000, 4096);
    patch_rom_version();
    insert_memory_expansion();
    machine_start();
    draw_frames();

    std::vector<MachineState> states;
    for (int f = 0; f < 260; f++) {
        if (f == 150) {  // at READY: the program in memory, RUN in the keyboard buffer
            const std::string file = basic_file(0x1001, {{10, PROGRAM_LINE}});
            std::memcpy(memory + 0x1001, file.data() + 2, file.size() - 2);
            const uint16_t end = uint16_t(0x1001 + file.size() - 2);
            for (uint16_t pointer : {0x2D, 0x2F, 0x31}) set_memory_word(pointer, end);
            std::memcpy(memory + 0x277, "RUN\r", 4);
            memory[0xC6] = 4;
        }
        if (f == 240) {
            keyrow[7 - 3] &= uint8_t(~1);  // RUN/STOP
            keycol[0] &= uint8_t(~8);
            keycount++;
            memory[VIA1_BASE + VIA_IFR] |= IFR_CA1;  // RESTORE
        }
        frame();
        states.push_back(capture());
    }
    return states;
}

// The raster bands program: its set-up, which ends at a BRK, then the loop
// at $0203 that writes to $900F in cycles 19 and 43 of every line.
std::vector<MachineState> bands_session(uint8_t timing, void (*frame)()) {
    std::vector<MachineState> states;
    if (!start_line_timed_program("raster_bands", timing)) return states;
    draw_frames();
    for (int f = 0; f < 4; f++) {
        frame();
        states.push_back(capture());
    }
    return states;
}

// The loops that wait for the raster, which a turn may pass through at once.
std::vector<MachineState> raster_wait_session(uint8_t timing, void (*frame)()) {
    new_machine(timing);
    std::vector<MachineState> states;
    if (!load_test_program("raster_wait")) return states;
    draw_frames();
    for (int f = 0; f < 8; f++) {
        frame();
        states.push_back(capture());
    }
    return states;
}

// A timing program with its interrupt handler at the IRQ entry: the
// interrupt latency slides (with the taken-branch, CLI and SEI cases) and
// the raster engine, whose interrupt meets every cycle of its loop.
std::vector<MachineState> timing_session(const std::string& program, uint8_t timing, int frames, void (*frame)()) {
    new_machine(timing);
    std::vector<MachineState> states;
    if (!load_test_program_with_handler(program)) return states;
    const uint8_t stop[5] = {0x4C, 0x00, 0x0F, 0x00, 0x0F};  // BRK's vector to a JMP to itself
    std::memcpy(memory + 0x0F00, stop, 3);
    std::memcpy(memory + 0xFFFE, stop + 3, 2);
    draw_frames();
    for (uint16_t r = 0; r < 16; r++) WRITMEM(uint16_t(VIC_BASE + r), 0);  // not the previous session's screen
    for (int f = 0; f < frames; f++) {
        frame();
        states.push_back(capture());
    }
    return states;
}

void expect_same(const std::vector<MachineState>& steps, const std::vector<MachineState>& turns) {
    ASSERT_EQ(steps.size(), turns.size());
    for (size_t f = 0; f < steps.size(); f++)
        ASSERT_TRUE(steps[f] == turns[f]) << "frame " << f << ": " << difference(steps[f], turns[f]);
}

TEST(Turns, FramesInTurnsLeaveTheMachineAsStepsDo) {
    REQUIRE_ROMS();
    for (const auto& [timing, every] : {std::pair{1, 1u}, {0, 1u}, {1, 3u}, {0, 3u}}) {
        SCOPED_TRACE(std::string(timing ? "PAL" : "NTSC") + ", one frame in " + std::to_string(every) + " drawn");
        drawn_one_in = every;
        const std::vector<MachineState> steps = basic_session(timing, frame_in_steps);
        const std::vector<MachineState> turns = basic_session(timing, run_frame);
        expect_same(steps, turns);
        const uint16_t variables = uint16_t(turns[200][0x2D] | turns[200][0x2E] << 8);
        EXPECT_EQ(turns[200][variables], 'A') << "the program runs and has made its variable";

        const std::vector<MachineState> bands_steps = bands_session(timing, frame_in_steps);
        if (bands_steps.empty()) SKIP_OR_FAIL("raster_bands not built");
        expect_same(bands_steps, bands_session(timing, run_frame));
        const std::vector<MachineState> wait_steps = raster_wait_session(timing, frame_in_steps);
        if (wait_steps.empty()) SKIP_OR_FAIL("raster_wait not built");
        expect_same(wait_steps, raster_wait_session(timing, run_frame));
        EXPECT_GE(wait_steps.back()[2], 5 * 7) << "five waits ended in every frame";
        for (const std::string program : {"irq_latency", timing ? "raster_engine_71" : "raster_engine_65"}) {
            SCOPED_TRACE(program);
            const int frames = program == "irq_latency" ? 2 : 14;
            expect_same(timing_session(program, timing, frames, frame_in_steps),
                        timing_session(program, timing, frames, run_frame));
        }
    }
}

}  // namespace
