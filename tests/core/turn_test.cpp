// The main loop's turns against single steps: the program runs its frames in
// turns of many instructions, and the whole machine must come out of every
// frame exactly as a step at a time would leave it. Both kernals boot and run
// a BASIC program that reads the timers and the raster line and writes the
// VIC, then RUN/STOP with RESTORE (an NMI); a program writing the VIC at
// fixed cycles of each line runs on both chips.
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

struct MachineState {
    std::vector<uint8_t> image, frame;
    std::vector<uint8_t> registers;  // PC (two bytes), A, X, Y, SP and the flags
    uint64_t clock;
    uint16_t raster;
    std::vector<uint8_t> lines_and_ports;

    bool operator==(const MachineState&) const = default;
};

uint64_t session_start;  // the clock runs on from one session to the next

MachineState capture() {
    MachineState s;
    s.image.assign(memory, memory + MEMORY_SIZE);
    s.frame.assign(frame_image, frame_image + FRAME_ALLOC_BYTES);
    s.registers = {uint8_t(Register.PC), uint8_t(Register.PC >> 8), Register.A, Register.X, Register.Y, Register.SP};
    s.registers.insert(s.registers.end(), Flags, Flags + 8);
    s.clock = machine_cycle() - session_start;
    s.raster = raster;
    s.lines_and_ports = {nmi_low, nmi_alt, irq_low};
    for (const Via* via : {&Via1, &Via2})
        s.lines_and_ports.insert(s.lines_and_ports.end(),
                                 {via->irb, via->ira, via->porta_in, via->t2_latch_low, via->t2_armed, via->t1_armed});
    return s;
}

// Where two runs part, for the failure message.
std::string difference(const MachineState& a, const MachineState& b) {
    if (a.clock != b.clock) return "clock " + std::to_string(a.clock) + " / " + std::to_string(b.clock);
    for (size_t i = 0; i < a.image.size(); i++)
        if (a.image[i] != b.image[i]) return "memory at " + std::to_string(i);
    for (size_t i = 0; i < a.frame.size(); i++)
        if (a.frame[i] != b.frame[i]) return "frame image byte " + std::to_string(i);
    if (a.registers != b.registers) return "registers or flags";
    if (a.raster != b.raster) return "raster";
    for (size_t i = 0; i < a.lines_and_ports.size(); i++)
        if (a.lines_and_ports[i] != b.lines_and_ports[i]) return "interrupt line or port latch " + std::to_string(i);
    return "?";
}

// A fresh machine; the timers and latches too, which the test machine leaves as they were.
void fresh_machine(uint8_t timing) {
    new_machine(timing);
    init_via_timers();
    reset_vias();
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
    fresh_machine(timing);
    readrom(shared_path(timing ? "roms/kernel.pal" : "roms/kernel.ntsc").c_str(), 0xE000, 8192);
    readrom(shared_path("roms/basic.rom").c_str(), 0xC000, 8192);
    readrom(shared_path("roms/chargen.rom").c_str(), 0x8000, 4096);
    patch_rom_version();
    insert_memory_expansion();
    machine_start();
    interrupt = intdef = 1;
    session_start = machine_cycle();

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
    fresh_machine(timing);
    std::string bytes =
        read_file(std::string(TARVIKON_BINARY_DIR) + "/tests/asm/" + (timing ? "raster_bands_71" : "raster_bands_65") + ".bin");
    std::memcpy(memory + 0x0200, bytes.data(), std::min<size_t>(bytes.size(), 0x0E00));
    Register.PC = 0x0200;
    interrupt = intdef = 1;
    while (!bytes.empty() && memory[Register.PC]) run_step();
    Register.PC = 0x0203;
    session_start = machine_cycle();
    std::vector<MachineState> states;
    for (int f = 0; f < 4 && !bytes.empty(); f++) {
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
    for (uint8_t timing : {1, 0}) {
        SCOPED_TRACE(timing ? "PAL" : "NTSC");
        const std::vector<MachineState> steps = basic_session(timing, frame_in_steps);
        const std::vector<MachineState> turns = basic_session(timing, run_frame);
        expect_same(steps, turns);
        const std::string screen(reinterpret_cast<const char*>(turns[200].image.data()) + 0x1E00, 22 * 23);
        EXPECT_EQ(screen.find("?SYNTAX"), std::string::npos) << "the program runs";
        EXPECT_NE(turns[200].image[0x1001 + 4], 0) << "the program is in memory";

        const std::vector<MachineState> bands_steps = bands_session(timing, frame_in_steps);
        if (bands_steps.empty()) SKIP_OR_FAIL("raster_bands not built");
        expect_same(bands_steps, bands_session(timing, run_frame));
    }
}

}  // namespace
