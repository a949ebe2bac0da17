// Which accesses of each opcode go through READMEM and WRITMEM, counted with
// the traced build, and where the direct accesses and second reads show.
#include <string>
#include <vector>

#include "cpu_test.h"

namespace {

struct Access {
    char kind;
    uint16_t addr;
    bool operator==(const Access&) const = default;
};
std::vector<Access> trace;
void record(char kind, uint16_t addr) { trace.push_back({kind, addr}); }

// Bus accesses per opcode, as pairs of kind (R, W) and target:
// a abs $3040, b $3041 (JMP pointer's second byte), x abs,X $3041,
// y abs,Y $3042, i (zp,X) $3736, j (zp),Y $3602, p zp $40, q zp,X $41,
// o the operand byte $2001, h the operand byte $2002, k pointer high $0041.
// clang-format off
const char* const PATHS[256] = {
//  x0  x1    x2  x3        x4  x5    x6  x7      x8  x9    xA  xB    xC      xD    xE        xF
    "", "Ri", "", "RiWi",   "", "",   "", "",     "", "",   "", "",   "Ra",   "Ra", "RaWa",   "RaWa",    // 0x
    "", "Rj", "", "RjWj",   "", "",   "", "",     "", "Ry", "", "Ry", "Rx",   "Rx", "RxWx",   "Rx",      // 1x
    "", "Ri", "", "RiRiWi", "", "",   "", "RpWp", "", "",   "", "",   "Ra",   "Ra", "RaRaWa", "RaRaWa",  // 2x
    "", "Rj", "", "RjRjWj", "", "",   "", "RqWq", "", "Ry", "", "RyRyWy", "Rx", "Rx", "RxRxWx", "RxRxWx",  // 3x
    "", "Ri", "", "RiWi",   "", "",   "", "Wp",   "", "",   "", "Ro", "",     "Ra", "RaWa",   "RaWa",    // 4x
    "", "Rj", "", "RjWj",   "", "",   "", "Wq",   "", "Ry", "", "RyWy", "Rx", "Rx", "RxWx",   "RxWx",    // 5x
    "", "Ri", "", "RiRiWi", "", "",   "", "",     "", "",   "", "Ro", "RaRb", "Ra", "RaRaWa", "RaWa",    // 6x
    "", "Rj", "", "Rj",     "", "",   "", "",     "", "Ry", "", "RyWy", "Rx", "Rx", "RxRxWx", "RxWx",    // 7x
    "", "Wi", "", "",       "", "",   "", "",     "", "",   "", "Ro", "Wa",   "Wa", "Wa",     "Wa",      // 8x
    "", "Wj", "", "RkWj",   "", "",   "", "",     "", "Wy", "", "RhWy", "RhWx", "Wx", "RhWy", "RhWy",    // 9x
    "", "Ri", "", "Ri",     "", "",   "", "",     "", "",   "", "",   "Ra",   "Ra", "Ra",     "Ra",      // Ax
    "", "Rj", "", "Rj",     "", "",   "", "",     "", "Ry", "", "Ry", "Rx",   "Rx", "Ry",     "Ry",      // Bx
    "", "Ri", "", "RiWi",   "", "",   "", "Wp",   "", "",   "", "Ro", "Ra",   "Ra", "RaWa",   "RaWa",    // Cx
    "", "Rj", "", "RjWj",   "", "",   "", "Wq",   "", "Ry", "", "RyWy", "Rx", "Rx", "RxWx",   "RxWx",    // Dx
    "", "Ri", "", "RiWi",   "", "",   "", "",     "", "",   "", "",   "Ra",   "Ra", "RaWa",   "RaWa",    // Ex
    "", "Rj", "", "RjWj",   "", "",   "", "Wq",   "", "Ry", "", "RyWy", "Rx", "Rx", "RxWx",   "RxWx",    // Fx
};
// clang-format on

uint16_t target(char c) {
    switch (c) {
    case 'a': return 0x3040;
    case 'b': case 'x': return 0x3041;
    case 'y': return 0x3042;
    case 'i': return 0x3736;
    case 'j': return 0x3602;
    case 'p': return 0x0040;
    case 'q': case 'k': return 0x0041;
    case 'o': return 0x2001;
    default: return 0x2002;
    }
}

class CpuBus : public testing::Test {
protected:
    void SetUp() override {
        cpu_machine();
        bus_trace_hook = record;
        trace.clear();
    }
    void TearDown() override { bus_trace_hook = nullptr; }

    // Operands $40 $30; X = 1, Y = 2; (zp,X) points through $41 to $3736,
    // (zp),Y through $40 to $3600. Block 3 is ROM, so only a direct write
    // can change it.
    void place(uint8_t opcode) {
        cpu_machine();
        std::memset(memory + 0x3000, 0x55, 0x1000);
        rombank[3] = BLOCK_ROM;
        poke(0x2000, {opcode, 0x40, 0x30});
        poke(0x0040, {0x00, 0x36, 0x37});
        Register.X = 1;
        Register.Y = 2;
        Register.A = 0xFF;
        trace.clear();
    }
};

TEST_F(CpuBus, EveryOpcodeCallsReadmemAndWritmemAsItsPathSays) {
    for (unsigned op = 0; op < 256; op++) {
        place(uint8_t(op));
        std::vector<uint8_t> rom(memory + 0x3000, memory + 0x4000);
        capture_stdout([] { step(); });
        std::vector<Access> want;
        for (const char* p = PATHS[op]; *p; p += 2) want.push_back({p[0], target(p[1])});
        EXPECT_EQ(trace, want) << std::hex << "opcode $" << op;

        // The writes that skip WRITMEM reach the protected block.
        uint16_t direct = op == 0x1B ? 0x3042 : op == 0x1F ? 0x3041 : op == 0x73 ? 0x3602 : op == 0x83 ? 0x3736 : 0;
        for (unsigned a = 0x3000; a < 0x4000; a++) {
            if (memory[a] != rom[a - 0x3000]) {
                EXPECT_EQ(a, direct) << std::hex << "opcode $" << op;
            }
        }
        if (direct) {
            EXPECT_NE(memory[direct], 0x55) << std::hex << "opcode $" << op;
        }
    }
}

// A chip register whose reads return a scripted sequence, so that a second
// read shows in the result.
std::vector<uint8_t> script;
std::vector<uint8_t> written;
int extra_reads;
uint8_t scripted_read(uint16_t) {
    if (script.empty()) return uint8_t(++extra_reads);
    uint8_t v = script.front();
    script.erase(script.begin());
    return v;
}
bool recorded_write(uint16_t&, uint8_t& v) {
    written.push_back(v);
    return true;
}

struct SecondRead {
    std::initializer_list<uint8_t> program;
    std::initializer_list<uint8_t> reads;
    uint8_t direct;     // memory[$9004] itself, read by the direct carry reads
    uint8_t a_in, c_in;
    int written;        // value stored through WRITMEM, -1 for none
    uint8_t image;      // memory[$9004] afterwards
    uint8_t a, c;
};

TEST_F(CpuBus, SecondReadsSupplyOnlyTheCarry) {
    const SecondRead cases[] = {
        {{0x2E, 0x04, 0x90}, {0x80, 0x01}, 0, 0, 0, 0x00, 0x00, 0, 0},        // ROL abs: C from the second read
        {{0x2E, 0x04, 0x90}, {0x01, 0x80}, 0, 0, 1, 0x03, 0x03, 0, 1},        // ROL abs
        {{0x3E, 0x03, 0x90}, {0x01, 0x80}, 0, 0, 0, 0x02, 0x02, 0, 1},        // ROL abs,X (X = 1)
        {{0x6E, 0x04, 0x90}, {0x01, 0x80}, 0, 0, 1, 0x80, 0x80, 0, 0},        // ROR abs
        {{0x2F, 0x04, 0x90}, {0x81, 0x00}, 0, 0xFF, 0, 0x02, 0x02, 0x02, 0},  // RLA abs
        {{0x6F, 0x04, 0x90}, {0x02}, 0x01, 0x10, 0, 0x01, 0x01, 0x12, 0},     // RRA abs: C from the image
        {{0x73, 0x20}, {0x02}, 0x03, 0x10, 0, -1, 0x01, 0x12, 0},             // RRA (zp),Y: direct write
        {{0x1F, 0x03, 0x90}, {0x41}, 0x00, 0x01, 1, -1, 0x82, 0x83, 0},       // SLO abs,X: direct write
    };
    for (const SecondRead& k : cases) {
        cpu_machine();
        poke(0x2000, k.program);
        poke(0x0020, {0x02, 0x90});  // (zp),Y pointer: $9002 + Y
        Register.X = 1;
        Register.Y = 2;
        Register.A = k.a_in;
        Flags[FLAG_C] = k.c_in;
        memory[0x9004] = k.direct;
        io_read[4] = scripted_read;
        io_write[4] = recorded_write;
        script = k.reads;
        written.clear();
        extra_reads = 0;
        capture_stdout([] { step(); });
        EXPECT_TRUE(script.empty()) << std::hex << "opcode $" << int(memory[0x2000]) << " read too little";
        EXPECT_EQ(extra_reads, 0) << std::hex << "opcode $" << int(memory[0x2000]) << " read too much";
        // A chip register sees the value read written back before the result.
        const std::vector<uint8_t> writes = {*k.reads.begin(), uint8_t(k.written)};
        EXPECT_EQ(written, k.written < 0 ? std::vector<uint8_t>{} : writes);
        EXPECT_EQ(memory[0x9004], k.image) << std::hex << "opcode $" << int(memory[0x2000]);
        EXPECT_EQ(Register.A, k.a) << std::hex << "opcode $" << int(memory[0x2000]);
        EXPECT_EQ(Flags[FLAG_C], k.c) << std::hex << "opcode $" << int(memory[0x2000]);
    }
}

TEST_F(CpuBus, JumpIndirectAtPageEndReadsBothHighBytes) {
    poke(0x2000, {0x6C, 0xFF, 0x12});
    poke(0x12FF, {0x34});
    poke(0x1300, {0x99});
    poke(0x1200, {0x56});
    EXPECT_EQ(step(), 5);
    EXPECT_EQ(Register.PC, 0x5634);
    EXPECT_EQ(trace, (std::vector<Access>{{'R', 0x12FF}, {'R', 0x1300}, {'R', 0x1200}}));
}

TEST_F(CpuBus, ZeroPageAndStackNeverTouchTheBus) {
    // LDA $10; STA $11; INC $12,X; PHA; PLA; JSR $2010; RTS
    poke(0x2000, {0xA5, 0x10, 0x85, 0x11, 0xF6, 0x12, 0x48, 0x68, 0x20, 0x10, 0x20});
    poke(0x2010, {0x60});
    for (int i = 0; i < 7; i++) step();
    EXPECT_EQ(Register.PC, 0x200B);
    EXPECT_TRUE(trace.empty());
}

}  // namespace
