// Fuzz target: the processor inside the main loop, on arbitrary memory,
// registers, block states and settings; many steps, a reset, more steps.
//
// Input: settings (3 bytes), block states (4), PC, A, X, Y, SP, P, step
// count (2), keyboard and joystick lines (18), then memory: the rest of the
// input repeated over the whole address space and once more from PC on.
//
// Checked after every step: flags are 0 or 1 with bit 5 set, block states
// are untouched, one step completes at most one raster line, and no byte of
// a block that refuses writes has changed (the four undocumented opcodes
// that write past the protection on purpose are allowed theirs). Checked
// after the reset: registers, flags and raster at their reset values, RAM
// below $8000 refilled, ROM untouched, the expansion layout applied.
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "fuzz_support.h"

namespace {

// The last step run, for the report.
uint16_t last_pc;
uint8_t last_opcode;
unsigned last_step;

// SLO abs,Y, SLO abs,X, RRA (zp),Y and SAX (zp,X) store their result into
// the image directly, skipping the write protection.
bool writes_directly(uint8_t opcode) {
    return opcode == 0x1B || opcode == 0x1F || opcode == 0x73 || opcode == 0x83;
}

// The first protected byte that differs from the snapshot, or -1. Protected:
// $0400-$0FFF without the 3 KB expansion, blocks 2-7, 10, 11 unless RAM,
// and the character, BASIC and kernal ROMs. The I/O page is the chips'.
long protected_change(const std::vector<uint8_t>& before) {
    for (unsigned block = 0; block < 16; block++) {
        size_t begin = block * 0x1000, end = begin + 0x1000;
        bool locked;
        switch (block) {
        case 0: locked = rombank[0] != BLOCK_RAM; begin = 0x400; break;
        case 1: case 9: locked = false; break;
        case 8: case 12: case 13: case 14: case 15: locked = true; break;
        default: locked = rombank[block] != BLOCK_RAM; break;
        }
        if (!locked) continue;
        long at = fuzz_first_difference(before.data(), memory, begin, end);
        if (at >= 0) return at;
    }
    return -1;
}

void check_protected(const std::vector<uint8_t>& snapshot) {
    long at = protected_change(snapshot);
    FUZZ_CHECK_AT(at < 0, "protected byte $%04lx changed from $%02x to $%02x (block state %d), by or before "
                  "step %u, opcode $%02x at $%04x", at, snapshot[size_t(at)], memory[at], rombank[at >> 12],
                  last_step, last_opcode, last_pc);
}

void check_step(const uint8_t banks[16]) {
    for (int i = 0; i < 8; i++) FUZZ_CHECK(Flags[i] <= 1);
    FUZZ_CHECK(Flags[FLAG_5] == 1);
    FUZZ_CHECK(std::memcmp(rombank, banks, 16) == 0);
    FUZZ_CHECK(cycles >= 0 && cycles < 64);
    FUZZ_CHECK(line_cycles < scanline);
    FUZZ_CHECK(raster <= last_line + field_extra);  // an interlaced field runs longer
    FUZZ_CHECK(nmi_low <= 1 && irq_low <= 1);
}

// Debugging aids, read once: FUZZ_TRACE prints every step, FUZZ_EVERY_STEP
// checks the protected memory before every step (naming the step that broke it).
const bool trace = getenv("FUZZ_TRACE") != nullptr;
const bool every_step = getenv("FUZZ_EVERY_STEP") != nullptr;

void run_steps(unsigned steps, std::vector<uint8_t>& snapshot) {
    uint8_t banks[16];
    std::memcpy(banks, rombank, 16);
    for (unsigned i = 0; i < steps; i++) {
        last_step = i;
        last_pc = Register.PC;
        last_opcode = memory[last_pc];
        bool direct = writes_directly(last_opcode);
        if (trace)
            fprintf(stderr, "step %u pc %04x op %02x %02x %02x a %02x x %02x y %02x sp %02x ffff %02x\n", i, last_pc,
                    last_opcode, memory[uint16_t(last_pc + 1)], memory[uint16_t(last_pc + 2)], Register.A,
                    Register.X, Register.Y, Register.SP, memory[0xFFFF]);
        if (direct || every_step) check_protected(snapshot);
        run_step();
        check_step(banks);
        if (direct) std::memcpy(snapshot.data(), memory, MEMORY_SIZE);
    }
    check_protected(snapshot);
}

// Block states that the reset gives an expansion index, written out again
// here from the layout rules: N nothing, R RAM, n nothing unless ROM, r RAM
// unless ROM; blocks 1 and 8-15 are never touched.
void expected_layout(uint32_t expansion, uint8_t banks[16]) {
    static const char* const LAYOUT[6] = {"N-nnNNnn", "R-nnNNnn", "N-rrNNnn", "N-rrRRnn", "N-rrRRrr", "R-rrRRrr"};
    if (expansion > 5) return;
    for (unsigned block = 0; block < 8; block++) {
        switch (LAYOUT[expansion][block]) {
        case 'N': banks[block] = BLOCK_NONE; break;
        case 'R': banks[block] = BLOCK_RAM; break;
        case 'n': if (banks[block] == BLOCK_RAM) banks[block] = BLOCK_NONE; break;
        case 'r': if (banks[block] != BLOCK_ROM) banks[block] = BLOCK_RAM; break;
        default: break;
        }
    }
}

void check_reset(const std::vector<uint8_t>& before, const uint8_t banks_before[16], uint8_t config_before,
                 uint8_t vid_before) {
    uint16_t vector = uint16_t(memory[RESET_VECTOR] | memory[RESET_VECTOR + 1] << 8);
    FUZZ_CHECK(Register.PC == vector);
    FUZZ_CHECK(Register.A == 0 && Register.X == 0 && Register.Y == 0 && Register.SP == 0);
    static const uint8_t RESET_FLAGS[8] = {0, 0, 0, 0, 1, 1, 0, 0};
    FUZZ_CHECK(std::memcmp(Flags, RESET_FLAGS, 8) == 0);
    FUZZ_CHECK(raster == 0 && x == 0 && y == 0);
    FUZZ_CHECK(config == 0);
    FUZZ_CHECK(memdef == uint8_t(memexp));
    FUZZ_CHECK(overscan == overscan_set);
    FUZZ_CHECK(nmi_low == 0 && irq_low == 0 && keycount == 0);
    for (int i = 0; i < 8; i++) FUZZ_CHECK(keyrow[i] == 0xFF && keycol[i] == 0xFF);

    for (unsigned block = 0; block < 8; block++) {
        const uint8_t* b = memory + block * 0x1000;
        if (banks_before[block] == BLOCK_ROM) {
            FUZZ_CHECK(fuzz_first_difference(before.data(), memory, block * 0x1000, block * 0x1000 + 0x1000) < 0);
        } else {
            for (unsigned i = 0; i < 0x1000; i++) FUZZ_CHECK(b[i] == 0xFF);
        }
    }
    // Character ROM, cartridge area, BASIC and kernal: the reset leaves them
    // (no kernal image is found in the fuzz directory, and the version patch
    // is switched off).
    FUZZ_CHECK(fuzz_first_difference(before.data(), memory, 0x8000, 0x9000) < 0);
    FUZZ_CHECK(fuzz_first_difference(before.data(), memory, 0xA000, 0x10000) < 0);

    uint8_t banks[16];
    std::memcpy(banks, banks_before, 16);
    if (config_before) {
        expected_layout(memexp, banks);
        uint8_t standard = vid_new ? 1 : 0;
        if (vid_new != vid_before) {
            FUZZ_CHECK(scanline == (standard ? PAL_SCANLINE : NTSC_SCANLINE));
            FUZZ_CHECK(last_line == (standard ? PAL_LAST_LINE : NTSC_LAST_LINE));
            FUZZ_CHECK(vid_time == vid_new);
        }
    }
    for (int i = 0; i < 16; i++) FUZZ_CHECK(rombank[i] == banks[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    InFuzzDir in_dir;  // the reset looks for roms/ here: there is none
    FuzzInput in{data, size};
    uint8_t settings = in.byte();
    uint8_t rates = in.byte();
    uint8_t view = in.byte();
    uint8_t timing = settings & 1;
    fuzz_new_machine(timing);

    uint8_t banks[16];
    fuzz_block_states(in, banks);
    CpuRegisters regs{in.word(), in.byte(), in.byte(), in.byte(), in.byte()};
    uint8_t p = in.byte();
    unsigned steps = 1 + in.word() % 6000;
    uint8_t lines[18];
    for (uint8_t& b : lines) b = in.byte();

    // Memory: the rest of the input over the whole image, then from PC on.
    size_t have = in.left();
    if (have == 0) fuzz_fill_memory(size);
    for (uint32_t i = 0; have && i < MEMORY_SIZE; i++) memory[i] = in.rest()[i % have];
    for (size_t i = 0; i < have && i < MEMORY_SIZE; i++) memory[uint16_t(regs.PC + i)] = in.rest()[i];
    uint8_t chips[0x130];
    std::memcpy(chips, memory + 0x9000, sizeof chips);
    std::memcpy(rombank, banks, 16);

    machine_start();
    // The chip registers as the input has them, through their side effects.
    for (uint16_t addr = 0x9000; addr < 0x9010; addr++) WRITMEM(addr, chips[addr - 0x9000]);
    for (uint16_t addr = 0x9110; addr < 0x9130; addr++) WRITMEM(addr, chips[addr - 0x9000]);

    Register = regs;
    for (int i = 0; i < 8; i++) Flags[i] = (p >> i) & 1;
    Flags[FLAG_5] = 1;
    std::memcpy(keyrow, lines, 8);
    std::memcpy(keycol, lines + 8, 8);
    joystick = lines[16];
    joystick2 = lines[17];

    config = (settings >> 1) & 1;
    vid_new = (settings >> 2) & 1;
    memexp = (settings >> 3) & 7;
    ram = uint8_t(((settings >> 6) & RAM_AT_A000) | NO_VERSION_PATCH);
    interrupt = 1 + rates % 6;
    intdef = uint8_t(1 + (rates >> 4) % 6);
    overscan = overscan_set = (view & 1) ? 9 : 28;
    if (view & 2) overscan_set = overscan == 9 ? 28 : 9;
    delay_loop = (view >> 2) & 3;

    std::vector<uint8_t> snapshot(memory, memory + MEMORY_SIZE);
    run_steps(steps, snapshot);

    uint8_t banks_before[16];
    std::memcpy(banks_before, rombank, 16);
    std::memcpy(snapshot.data(), memory, MEMORY_SIZE);
    uint8_t config_before = config;
    uint8_t vid_before = vid_time;
    reset_tarvikon();
    check_reset(snapshot, banks_before, config_before, vid_before);

    std::memcpy(snapshot.data(), memory, MEMORY_SIZE);
    run_steps(steps / 4 + 64, snapshot);
    return 0;
}
