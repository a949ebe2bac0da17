// Length and cycle count of every opcode, with and without a page crossing,
// and the branch timings.
#include "cpu_test.h"
#include "ui/headless.h"

namespace {

// Cycles per opcode: '*' adds one on a page crossing, 'b' is a branch,
// '-' a halt (no count of its own).
// clang-format off
const char* const CYCLES[256] = {
//  x0   x1    x2   x3    x4   x5   x6   x7   x8   x9    xA   xB    xC    xD    xE    xF
    "7", "6",  "-", "8",  "4", "3", "5", "5", "3", "2",  "2", "2",  "4",  "4",  "6",  "6",   // 0x
    "b", "5*", "-", "8",  "4", "4", "6", "6", "2", "4*", "2", "7",  "4*", "4*", "7",  "7",   // 1x
    "6", "6",  "-", "8",  "3", "3", "5", "5", "4", "2",  "2", "2",  "4",  "4",  "6",  "6",   // 2x
    "b", "5*", "-", "8",  "4", "4", "6", "6", "2", "4*", "2", "7",  "4*", "4*", "7",  "7",   // 3x
    "6", "6",  "-", "8",  "4", "3", "5", "5", "3", "2",  "2", "2",  "3",  "4",  "6",  "6",   // 4x
    "b", "5*", "-", "8",  "4", "4", "6", "6", "2", "4*", "2", "7",  "4*", "4*", "7",  "7",   // 5x
    "6", "6",  "-", "8",  "4", "3", "5", "5", "4", "2",  "2", "2",  "5",  "4",  "6",  "6",   // 6x
    "b", "5*", "-", "8",  "4", "4", "6", "6", "2", "4*", "2", "7",  "4*", "4*", "7",  "7",   // 7x
    "4", "6",  "4", "6",  "3", "3", "3", "3", "2", "2",  "2", "2",  "4",  "4",  "4",  "4",   // 8x
    "b", "6",  "-", "6",  "4", "4", "4", "4", "2", "5",  "2", "5",  "5",  "5",  "5",  "5",   // 9x
    "2", "6",  "2", "6",  "3", "3", "3", "3", "2", "2",  "2", "2",  "4",  "4",  "4",  "4",   // Ax
    "b", "5*", "-", "4*", "4", "4", "4", "4", "2", "4*", "2", "4*", "4*", "4*", "4*", "4*",  // Bx
    "2", "6",  "4", "8",  "3", "3", "5", "5", "2", "2",  "2", "2",  "4",  "4",  "6",  "6",   // Cx
    "b", "5*", "-", "8",  "4", "4", "6", "6", "2", "4*", "2", "7",  "4*", "4*", "7",  "7",   // Dx
    "2", "6",  "4", "8",  "3", "3", "5", "5", "2", "2",  "2", "2",  "4",  "4",  "6",  "6",   // Ex
    "b", "5*", "-", "8",  "4", "4", "6", "6", "2", "4*", "2", "7",  "4*", "4*", "7",  "7",   // Fx
};
// Instruction length per opcode, one row per high digit; '-' where the
// instruction jumps (BRK, JSR, RTI, RTS, JMP, branches).
const char* const LENGTHS[16] = {
    "-212222212123333", "-212222213133333", "-212222212123333", "-212222213133333",
    "-21222221212-333", "-212222213133333", "-21222221212-333", "-212222213133333",
    "2222222212123333", "-212222213133333", "2222222212123333", "-212222213133333",
    "2222222212123333", "-212222213133333", "2222222212123333", "-212222213133333",
};
// clang-format on

// Operands $FF $10: absolute modes use base $10FF, the zero-page pointer at
// $FF (with its high byte at $0100) holds $10FF too. Index 0 stays in the
// page, index 1 crosses into $1100.
void place(uint8_t opcode, uint8_t index) {
    cpu_machine();
    poke(0x2000, {opcode, 0xFF, 0x10});
    poke(0x00FF, {0xFF});
    poke(0x0100, {0x10});
    Register.X = Register.Y = index;
    Register.SP = 0xF0;
}

TEST(CpuTiming, EveryOpcodeLengthAndCycles) {
    for (unsigned op = 0; op < 256; op++) {
        std::string c = CYCLES[op];
        char len = LENGTHS[op >> 4][op & 15];
        if (c == "b" || c == "-") continue;
        for (uint8_t index : {0, 1}) {
            place(uint8_t(op), index);
            int got = 0;
            capture_stdout([&] { got = step(); });
            int want = (c[0] - '0') + (index && c.size() > 1 ? 1 : 0);
            EXPECT_EQ(got, want) << std::hex << "opcode $" << op << " index " << int(index);
            if (len != '-') {
                EXPECT_EQ(Register.PC, 0x2000 + (len - '0')) << std::hex << "opcode $" << op;
            }
        }
    }
}

TEST(CpuTiming, HaltAssignsNoCyclesAndShowsTheDialog) {
    for (unsigned op = 0; op < 256; op++) {
        if (std::string(CYCLES[op]) != "-") continue;
        place(uint8_t(op), 1);
        Register.A = 0x5A;
        cycles = 99;
        unsigned before = headless.halt_dialogs;
        EXPECT_EQ(capture_stdout([] { step(); }), "") << std::hex << op;
        EXPECT_EQ(cycles, 99);
        EXPECT_EQ(Register.PC, 0x2001);
        EXPECT_EQ(Register.A, 0x5A);
        EXPECT_EQ(Register.SP, 0xF0);
        EXPECT_EQ(headless.halt_dialogs, before + 1);
    }
}

// Taken across a page judged from the offset byte's address.
TEST(CpuTiming, BranchesTakenNotTakenAndAcrossAPage) {
    struct Branch {
        uint8_t op;
        int flag;
        uint8_t when;
    };
    const Branch branches[] = {{0x10, FLAG_N, 0}, {0x30, FLAG_N, 1}, {0x50, FLAG_V, 0}, {0x70, FLAG_V, 1},
                               {0x90, FLAG_C, 0}, {0xB0, FLAG_C, 1}, {0xD0, FLAG_Z, 0}, {0xF0, FLAG_Z, 1}};
    struct Case {
        uint16_t at;
        uint8_t offset;
        bool taken;
        uint16_t lands;
        int cycles;
    };
    const Case cases[] = {{0x10FE, 0x02, true, 0x1102, 4}, {0x10FE, 0xFD, true, 0x10FD, 3},
                          {0x10F0, 0x02, true, 0x10F4, 3}, {0x10FE, 0x02, false, 0x1100, 2},
                          {0x10FD, 0x01, true, 0x1100, 4}, {0x1000, 0x80, true, 0x0F82, 4}};
    for (const Branch& b : branches)
        for (const Case& k : cases) {
            cpu_machine(k.at);
            poke(k.at, {b.op, k.offset});
            Flags[b.flag] = k.taken ? b.when : !b.when;
            EXPECT_EQ(step(), k.cycles) << std::hex << int(b.op) << " at " << k.at;
            EXPECT_EQ(Register.PC, k.lands) << std::hex << int(b.op) << " at " << k.at;
        }
}

}  // namespace
