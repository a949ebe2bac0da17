// Instruction results and flags: the arithmetic alone, instruction families
// across their addressing modes, the stack and flow instructions, the
// illegal-opcode message and halt, and random code from every corner.
#include <random>
#include <set>
#include <string>

#include "core/cpu_alu.h"
#include "cpu_test.h"
#include "ui/headless.h"

namespace {

struct Nvzc {
    uint8_t value, n, v, z, c;
};
void expect_alu(const AluResult& r, Nvzc want, const char* what) {
    EXPECT_EQ(r.value, want.value) << what;
    EXPECT_EQ(r.n, want.n) << what;
    EXPECT_EQ(r.v, want.v) << what;
    EXPECT_EQ(r.z, want.z) << what;
    EXPECT_EQ(r.c, want.c) << what;
}

TEST(CpuAlu, DecimalAndBinaryArithmetic) {
    expect_alu(adc(0x09, 0x01, 0, 1), {0x10, 0, 0, 0, 0}, "09+01 decimal");
    expect_alu(adc(0x99, 0x01, 0, 1), {0x00, 1, 0, 0, 1}, "99+01 decimal: Z from $9A, N from digit 10");
    expect_alu(adc(0x50, 0x50, 0, 1), {0x00, 1, 1, 0, 1}, "50+50 decimal");
    expect_alu(adc(0x0F, 0x0F, 1, 1), {0x15, 0, 0, 0, 0}, "invalid digits 0F+0F+1: one carry only");
    expect_alu(adc(0x50, 0x50, 0, 0), {0xA0, 1, 1, 0, 0}, "50+50 binary overflows");
    expect_alu(adc(0xFF, 0x00, 1, 0), {0x00, 0, 0, 1, 1}, "FF+00+1 binary");
    expect_alu(sbc(0x10, 0x01, 1, 1), {0x09, 0, 0, 0, 1}, "10-01 decimal");
    expect_alu(sbc(0x00, 0x01, 1, 1), {0x99, 1, 0, 0, 0}, "00-01 decimal: flags from $FF");
    expect_alu(sbc(0x50, 0xB0, 1, 0), {0xA0, 1, 1, 0, 0}, "50-B0 binary overflows");
    expect_alu(sbc(0x05, 0x05, 0, 0), {0xFF, 1, 0, 0, 0}, "05-05 with borrow");
    expect_alu(arr(0xFF, 0xFF, 1, 1), {0x55, 1, 0, 0, 1}, "ARR FF decimal, both digits fixed");
    expect_alu(arr(0xC0, 0xFF, 0, 0), {0x60, 0, 0, 0, 1}, "ARR C0 binary: C bit 7, V bit 7 ^ bit 6");
    expect_alu(arr(0x80, 0xFF, 1, 0), {0xC0, 1, 1, 0, 1}, "ARR 80 binary with carry in");
    expect_alu(axs(0xF0, 0x0F, 0x01), {0xFF, 1, 0, 0, 0}, "AXS borrows");
}

// Puts `ea` in reach of an addressing mode: X = 4, Y = 6, pointers at $80/$82.
enum Mode { IMM, ZP, ZPX, ZPY, ABS, ABX, ABY, IZX, IZY, ACC };
void aim(Mode m, uint16_t ea, uint8_t value) {
    Register.X = 4;
    Register.Y = 6;
    uint16_t operand = ea;
    switch (m) {
    case IMM: operand = value; break;
    case ZPX: case ABX: operand = uint16_t(ea - 4); break;
    case ZPY: case ABY: operand = uint16_t(ea - 6); break;
    case IZX: operand = 0x80 - 4; poke(0x80, {uint8_t(ea), uint8_t(ea >> 8)}); break;
    case IZY: operand = 0x82; poke(0x82, {uint8_t(ea - 6), uint8_t((ea - 6) >> 8)}); break;
    case ACC: Register.A = value; break;
    default: break;
    }
    poke(0x2001, {uint8_t(operand), uint8_t(operand >> 8)});
    if (m != IMM && m != ACC) memory[ea] = value;
}

struct Member {
    uint8_t opcode;
    Mode mode;
};
struct Family {
    const char* name;
    std::initializer_list<Member> members;
    uint8_t a, m, c;   // A, operand and carry before
    int reg;           // register after: 'A', 'X', 'Y', or 'M' for the operand byte
    Nvzc want;         // that value and the flags after
};

const Family FAMILIES[] = {
    {"LDA", {{0xA9, IMM}, {0xA5, ZP}, {0xB5, ZPX}, {0xAD, ABS}, {0xBD, ABX}, {0xB9, ABY}, {0xA1, IZX}, {0xB1, IZY}},
     0x00, 0x80, 0, 'A', {0x80, 1, 0, 0, 0}},
    {"LDX", {{0xA2, IMM}, {0xA6, ZP}, {0xB6, ZPY}, {0xAE, ABS}, {0xBE, ABY}}, 0x00, 0x00, 1, 'X', {0x00, 0, 0, 1, 1}},
    {"LDY", {{0xA0, IMM}, {0xA4, ZP}, {0xB4, ZPX}, {0xAC, ABS}, {0xBC, ABX}}, 0x00, 0x7F, 0, 'Y', {0x7F, 0, 0, 0, 0}},
    {"LAX", {{0xA7, ZP}, {0xB7, ZPY}, {0xAF, ABS}, {0xBF, ABY}, {0xA3, IZX}, {0xB3, IZY}}, 0x00, 0x91, 0, 'X',
     {0x91, 1, 0, 0, 0}},
    {"ORA", {{0x09, IMM}, {0x05, ZP}, {0x15, ZPX}, {0x0D, ABS}, {0x1D, ABX}, {0x19, ABY}, {0x01, IZX}, {0x11, IZY}},
     0x81, 0x18, 0, 'A', {0x99, 1, 0, 0, 0}},
    {"AND", {{0x29, IMM}, {0x25, ZP}, {0x35, ZPX}, {0x2D, ABS}, {0x3D, ABX}, {0x39, ABY}, {0x21, IZX}, {0x31, IZY}},
     0xF0, 0x0F, 1, 'A', {0x00, 0, 0, 1, 1}},
    {"EOR", {{0x49, IMM}, {0x45, ZP}, {0x55, ZPX}, {0x4D, ABS}, {0x5D, ABX}, {0x59, ABY}, {0x41, IZX}, {0x51, IZY}},
     0xFF, 0x0F, 0, 'A', {0xF0, 1, 0, 0, 0}},
    {"ADC", {{0x69, IMM}, {0x65, ZP}, {0x75, ZPX}, {0x6D, ABS}, {0x7D, ABX}, {0x79, ABY}, {0x61, IZX}, {0x71, IZY}},
     0x7F, 0x00, 1, 'A', {0x80, 1, 1, 0, 0}},
    {"SBC", {{0xE9, IMM}, {0xEB, IMM}, {0xE5, ZP}, {0xF5, ZPX}, {0xED, ABS}, {0xFD, ABX}, {0xF9, ABY}, {0xE1, IZX},
             {0xF1, IZY}},
     0x10, 0x01, 1, 'A', {0x0F, 0, 0, 0, 1}},
    {"CMP", {{0xC9, IMM}, {0xC5, ZP}, {0xD5, ZPX}, {0xCD, ABS}, {0xDD, ABX}, {0xD9, ABY}, {0xC1, IZX}, {0xD1, IZY}},
     0x10, 0x20, 1, 'A', {0x10, 1, 0, 0, 0}},
    {"BIT", {{0x24, ZP}, {0x2C, ABS}}, 0x01, 0xC0, 0, 'A', {0x01, 1, 1, 1, 0}},
    {"ASL", {{0x0A, ACC}, {0x06, ZP}, {0x16, ZPX}, {0x0E, ABS}, {0x1E, ABX}}, 0x81, 0x81, 0, 'M', {0x02, 0, 0, 0, 1}},
    {"LSR", {{0x4A, ACC}, {0x46, ZP}, {0x56, ZPX}, {0x4E, ABS}, {0x5E, ABX}}, 0x81, 0x81, 0, 'M', {0x40, 0, 0, 0, 1}},
    {"ROL", {{0x2A, ACC}, {0x26, ZP}, {0x36, ZPX}, {0x2E, ABS}, {0x3E, ABX}}, 0x81, 0x81, 1, 'M', {0x03, 0, 0, 0, 1}},
    {"ROR", {{0x6A, ACC}, {0x66, ZP}, {0x76, ZPX}, {0x6E, ABS}, {0x7E, ABX}}, 0x01, 0x01, 1, 'M', {0x80, 1, 0, 0, 1}},
    {"INC", {{0xE6, ZP}, {0xF6, ZPX}, {0xEE, ABS}, {0xFE, ABX}}, 0x00, 0xFF, 0, 'M', {0x00, 0, 0, 1, 0}},
    {"DEC", {{0xC6, ZP}, {0xD6, ZPX}, {0xCE, ABS}, {0xDE, ABX}}, 0x00, 0x00, 1, 'M', {0xFF, 1, 0, 0, 1}},
    {"SLO", {{0x03, IZX}, {0x07, ZP}, {0x0F, ABS}, {0x13, IZY}, {0x17, ZPX}, {0x1B, ABY}, {0x1F, ABX}}, 0x01, 0xC0, 0,
     'A', {0x81, 1, 0, 0, 1}},
    {"RLA", {{0x23, IZX}, {0x27, ZP}, {0x2F, ABS}, {0x33, IZY}, {0x37, ZPX}, {0x3B, ABY}, {0x3F, ABX}}, 0x0F, 0x81, 1,
     'A', {0x03, 0, 0, 0, 1}},
    {"SRE", {{0x43, IZX}, {0x47, ZP}, {0x4F, ABS}, {0x53, IZY}, {0x57, ZPX}, {0x5B, ABY}, {0x5F, ABX}}, 0x01, 0x03, 0,
     'A', {0x00, 0, 0, 1, 1}},
    {"RRA", {{0x63, IZX}, {0x67, ZP}, {0x6F, ABS}, {0x73, IZY}, {0x77, ZPX}, {0x7B, ABY}, {0x7F, ABX}}, 0x10, 0x03, 1,
     'A', {0x92, 1, 0, 0, 0}},
    {"DCP", {{0xC3, IZX}, {0xC7, ZP}, {0xCF, ABS}, {0xD3, IZY}, {0xD7, ZPX}, {0xDB, ABY}, {0xDF, ABX}}, 0x10, 0x11, 0,
     'M', {0x10, 0, 0, 1, 1}},
    {"ISC", {{0xE3, IZX}, {0xE7, ZP}, {0xEF, ABS}, {0xF3, IZY}, {0xF7, ZPX}, {0xFB, ABY}, {0xFF, ABX}}, 0x10, 0x0E, 1,
     'A', {0x01, 0, 0, 0, 1}},
    {"ANC", {{0x0B, IMM}, {0x2B, IMM}}, 0xF0, 0x80, 0, 'A', {0x80, 1, 0, 0, 1}},
    {"ALR", {{0x4B, IMM}}, 0xFF, 0x03, 0, 'A', {0x01, 0, 0, 0, 1}},
    {"XAA", {{0x8B, IMM}}, 0x01, 0xFF, 0, 'A', {0x04, 0, 0, 0, 0}},  // ($01 | $EE) & X=4 & $FF
    {"LXA", {{0xAB, IMM}}, 0x01, 0x0F, 0, 'X', {0x0F, 0, 0, 0, 0}},
    {"STA", {{0x85, ZP}, {0x95, ZPX}, {0x8D, ABS}, {0x9D, ABX}, {0x99, ABY}, {0x81, IZX}, {0x91, IZY}}, 0xC7, 0x00, 1,
     'M', {0xC7, 0, 0, 0, 1}},
    {"STX", {{0x86, ZP}, {0x96, ZPY}, {0x8E, ABS}}, 0xC7, 0x00, 0, 'M', {0x04, 0, 0, 0, 0}},
    {"STY", {{0x84, ZP}, {0x94, ZPX}, {0x8C, ABS}}, 0xC7, 0x00, 0, 'M', {0x06, 0, 0, 0, 0}},
    {"SAX", {{0x87, ZP}, {0x97, ZPY}, {0x8F, ABS}, {0x83, IZX}}, 0xC7, 0x00, 0, 'M', {0x04, 0, 0, 0, 0}},
};

TEST(CpuFamilies, EachFamilyAcrossItsModes) {
    for (const Family& f : FAMILIES)
        for (const Member& m : f.members) {
            cpu_machine();
            bool zp = m.mode == ZP || m.mode == ZPX || m.mode == ZPY;
            uint16_t ea = zp ? 0x0050 : 0x30F0;
            memory[0x2000] = m.opcode;
            aim(m.mode, ea, m.mode == ACC ? f.a : f.m);
            if (m.mode != ACC) Register.A = f.a;
            Flags[FLAG_C] = f.c;
            capture_stdout([] { step(); });
            uint8_t got = f.reg == 'A' ? Register.A : f.reg == 'X' ? Register.X : f.reg == 'Y' ? Register.Y
                        : m.mode == ACC ? Register.A : memory[ea];
            std::string what = std::string(f.name) + " opcode " + std::to_string(m.opcode);
            expect_alu({got, Flags[FLAG_C], Flags[FLAG_Z], Flags[FLAG_V], Flags[FLAG_N]}, f.want, what.c_str());
        }
}

// The documented opcodes, one row per high digit.
const char* const DOCUMENTED[16] = {
    "11...11.111..11.", "11...11.11...11.", "11..111.111.111.", "11...11.11...11.",
    "11...11.111.111.", "11...11.11...11.", "11...11.111.111.", "11...11.11...11.",
    ".1..111.1.1.111.", "11..111.111..1..", "111.111.111.111.", "11..111.111.111.",
    "11..111.111.111.", "11...11.11...11.", "11..111.111.111.", "11...11.11...11."};
bool is_halt(uint8_t op) { return (op & 0x1F) == 0x12 || op == 0x02 || op == 0x22 || op == 0x42 || op == 0x62; }
bool is_rla(uint8_t op) { return (op & 0xE3) == 0x23 && op != 0x2B; }
bool announces(uint8_t op) { return DOCUMENTED[op >> 4][op & 15] != '1' && !is_halt(op) && !is_rla(op) && op != 0xEB; }

class Cpu : public testing::Test {
protected:
    void SetUp() override { cpu_machine(); }
};

TEST_F(Cpu, HighByteStoresAndStackPointerTransfers) {
    // TAS $10F0,Y; SHY $20F0,X; SHX $30F0,Y; AHX $40F0,Y; AHX ($70),Y; LAS $60F0,Y
    poke(0x2000, {0x9B, 0xF0, 0x10, 0x9C, 0xF0, 0x20, 0x9E, 0xF0, 0x30, 0x9F, 0xF0, 0x40, 0x93, 0x70, 0xBB, 0xF0,
                  0x60});
    poke(0x0070, {0xF0, 0x50});
    memory[0x611F] = 0xF0;
    Register.A = 0xF3;
    Register.X = 0x5F;
    Register.Y = 0x2F;
    capture_stdout([] { for (int i = 0; i < 5; i++) step(); });
    EXPECT_EQ(Register.SP, 0x53);     // A & X
    EXPECT_EQ(memory[0x111F], 0x11);  // SP & ($10 + 1)
    EXPECT_EQ(memory[0x214F], 0x21);  // Y & ($20 + 1)
    EXPECT_EQ(memory[0x311F], 0x11);  // X & ($30 + 1)
    EXPECT_EQ(memory[0x411F], 0x41);  // A & X & ($40 + 1)
    EXPECT_EQ(memory[0x511F], 0x51);  // A & X & ($50 + 1), H from the pointer
    capture_stdout([] { step(); });
    EXPECT_EQ(Register.A, 0x50);      // $F0 & SP into A, X and SP
    EXPECT_EQ(Register.X, 0x50);
    EXPECT_EQ(Register.SP, 0x50);
}

TEST_F(Cpu, IndirectPointersAtFFReachIntoPageOne) {
    poke(0x2000, {0xA1, 0xFF, 0xB1, 0xFF});
    poke(0x00FF, {0x34});
    poke(0x0100, {0x12});
    poke(0x0000, {0x56});  // a wrapping pointer would use this
    poke(0x1234, {0xAB});
    poke(0x1235, {0xCD});
    EXPECT_EQ(step(), 6);
    EXPECT_EQ(Register.A, 0xAB);
    Register.Y = 1;
    EXPECT_EQ(step(), 5);
    EXPECT_EQ(Register.A, 0xCD);
}

TEST_F(Cpu, CallsReturnsBreakAndStatusPushes) {
    poke(0x2000, {0x20, 0x00, 0x30});  // JSR $3000
    poke(0x3000, {0x60});              // RTS
    EXPECT_EQ(step(), 6);
    EXPECT_EQ(memory[0x01FF], 0x20);
    EXPECT_EQ(memory[0x01FE], 0x02);
    EXPECT_EQ(step(), 6);
    EXPECT_EQ(Register.PC, 0x2003);

    // PHP with N and C: $B1 whatever B holds. PLP $00: bit 5 stays 1, B 0.
    std::memset(Flags, 0, sizeof Flags);
    Flags[FLAG_N] = Flags[FLAG_C] = Flags[FLAG_5] = 1;
    poke(0x2003, {0x08, 0xA9, 0x00, 0x48, 0x28, 0x40});
    step();
    EXPECT_EQ(memory[0x0100 + uint8_t(Register.SP + 1)], 0xB1);
    step();
    step();
    step();  // PLP of $00
    EXPECT_EQ(compose_p(), 0x20);
    // RTI of P = $00, PC = $4321: B and bit 5 both come back as 1.
    poke(0x01FD, {0x00, 0x21, 0x43});
    Register.SP = 0xFC;
    EXPECT_EQ(step(), 6);
    EXPECT_EQ(Register.PC, 0x4321);
    EXPECT_EQ(compose_p(), 0x30);

    // BRK at $3000: pushes $30, $02, P with bit 4; sets I, keeps D.
    Register.PC = 0x3000;
    memory[0x3000] = 0x00;
    poke(0xFFFE, {0x78, 0x56});
    Flags[FLAG_D] = 1;
    Flags[FLAG_B] = 0;
    Register.SP = 0xFF;
    EXPECT_EQ(step(), 7);
    EXPECT_EQ(Register.PC, 0x5678);
    EXPECT_EQ(memory[0x01FF], 0x30);
    EXPECT_EQ(memory[0x01FE], 0x02);
    EXPECT_EQ(memory[0x01FD], 0x38);
    EXPECT_EQ(Flags[FLAG_I], 1);
    EXPECT_EQ(Flags[FLAG_D], 1);
}

TEST_F(Cpu, StackWrapsInsidePageOne) {
    poke(0x2000, {0x48, 0x68});
    Register.SP = 0x00;
    Register.A = 0x77;
    step();
    EXPECT_EQ(memory[0x0100], 0x77);
    EXPECT_EQ(Register.SP, 0xFF);
    memory[0x0100] = 0x80;
    step();
    EXPECT_EQ(Register.A, 0x80);
    EXPECT_EQ(Register.SP, 0x00);
    EXPECT_EQ(Flags[FLAG_N], 1);
}

TEST_F(Cpu, OperandsWrapFromTheTopOfMemory) {
    poke(0xFFFF, {0xAD});  // LDA $1234 with its operand at $0000/$0001
    poke(0x0000, {0x34, 0x12});
    memory[0x1234] = 0x42;
    Register.PC = 0xFFFF;
    EXPECT_EQ(step(), 4);
    EXPECT_EQ(Register.A, 0x42);
    EXPECT_EQ(Register.PC, 0x0002);
    poke(0xFFFE, {0x20, 0x34});  // JSR $1234 from $FFFE pushes $0000
    memory[0x0000] = 0x12;
    Register.PC = 0xFFFE;
    Register.SP = 0xFF;
    step();
    EXPECT_EQ(Register.PC, 0x1234);
    EXPECT_EQ(memory[0x01FF], 0x00);
    EXPECT_EQ(memory[0x01FE], 0x00);
}

TEST_F(Cpu, SloIntoRomWritesTheImageWhileAbsoluteIsProtected) {
    rombank[10] = BLOCK_ROM;
    memory[0xA000] = 0x40;
    poke(0x2000, {0x1F, 0xFF, 0x9F, 0x0F, 0x00, 0xA0});  // SLO $9FFF,X then SLO $A000
    Register.X = 1;
    capture_stdout([] { step(); });
    EXPECT_EQ(memory[0xA000], 0x80);
    capture_stdout([] { step(); });
    EXPECT_EQ(memory[0xA000], 0x80);
    EXPECT_EQ(Register.A, 0x80);  // the refused write's value still reaches A
}

TEST_F(Cpu, IllegalOpcodesAnnounceThemselvesOncePerAddress) {
    poke(0x2000, {0xA7, 0x10, 0x1A, 0x0C, 0x00, 0x90, 0x27, 0x10, 0xEB, 0x01, 0xEA, 0x4C, 0x00, 0x20});
    memory[0x10] = 0x66;
    std::string out = capture_stdout([] { for (int i = 0; i < 14; i++) step(); });
    // LAX, $1A and $0C each pass twice, announced the first time, the first
    // announcement followed by the one notice; RLA, SBC $EB, NOP and JMP are silent.
    EXPECT_EQ(out, "!! Illegal Opcode a7 at 2000 used !!\n"
                   "!! Further uses of an opcode at the same address are not reported !!\n"
                   "!! Illegal Opcode 1a at 2002 used !!\n"
                   "!! Illegal Opcode c at 2003 used !!\n");
    memory[0x2001] = 0x20;  // another opcode at the same address is announced
    memory[0x2000] = 0xB3;
    EXPECT_EQ(capture_stdout([] { step(); }), "!! Illegal Opcode b3 at 2000 used !!\n");
}

TEST_F(Cpu, EveryUndocumentedOpcodeButRlaHltAndEbPrints) {
    for (unsigned op = 0; op < 256; op++) {
        cpu_machine();
        memory[0x2000] = uint8_t(op);
        std::string out = capture_stdout([] { step(); });
        char want[128];
        std::snprintf(want, sizeof want, "!! Illegal Opcode %x at 2000 used !!\n%s", op,
                      op == 3 ? "!! Further uses of an opcode at the same address are not reported !!\n" : "");
        EXPECT_EQ(out, announces(uint8_t(op)) ? want : "") << std::hex << "opcode $" << op;
    }
}

// Every byte is an instruction: random memory run from random places,
// the corners included, keeps counts, messages and the stack in order.
TEST_F(Cpu, RandomCodeFromEveryCornerStaysInBounds) {
    std::mt19937 rng(6502);
    std::memset(io_read, 0, sizeof io_read);  // the chips have tests of their own
    std::memset(io_write, 0, sizeof io_write);
    const uint16_t starts[] = {0xFFFE, 0xFFFF, 0x0000, 0x00FF, 0x01FF, 0x9000, 0xA000};
    std::set<uint32_t> uses;  // announced once each, the first with the notice
    for (int run = 0; run < 64; run++) {
        for (unsigned a = 0; a < MEMORY_SIZE; a++) memory[a] = uint8_t(rng());
        for (unsigned b = 0; b < 16; b++) rombank[b] = uint8_t(rng() % 3);
        Register = CpuRegisters{run < 7 ? starts[run] : uint16_t(rng()), uint8_t(rng()), uint8_t(rng()),
                                uint8_t(rng()), uint8_t(rng())};
        for (int f = 0; f < 8; f++) Flags[f] = rng() & 1;
        unsigned halts = 0, announced = 0, before = headless.halt_dialogs;
        const bool first = uses.empty();
        std::string out = capture_stdout([&] {
            for (int i = 0; i < 2000; i++) {
                uint8_t op = memory[Register.PC], sp = Register.SP, a = Register.A;
                const uint16_t pc = Register.PC;
                cycles = -1;
                execute_instruction();
                halts += is_halt(op);
                announced += announces(op) && uses.insert(uint32_t(op) << 16 | pc).second;
                if (is_halt(op)) {
                    ASSERT_EQ(cycles, -1);
                } else {
                    ASSERT_GE(cycles, 2);
                    ASSERT_LE(cycles, 8);
                }
                if (op == 0x48) {  // PHA
                    ASSERT_EQ(memory[0x100 + sp], a);
                    ASSERT_EQ(Register.SP, uint8_t(sp - 1));
                }
                if (op == 0x68) {  // PLA
                    ASSERT_EQ(Register.SP, uint8_t(sp + 1));
                }
            }
        });
        unsigned lines = 0;  // the timers' texts aside: the catch-up before an access counts them
        for (size_t at = out.find("!! "); at != std::string::npos; at = out.find("\n!! ", at + 1)) lines++;
        EXPECT_EQ(lines, announced + (first && announced)) << "run " << run;
        EXPECT_EQ(headless.halt_dialogs - before, halts) << "run " << run;
    }
}

}  // namespace
