// The opcode table: every opcode as mnemonic, addressing mode, access kind
// and cycle count. cpu.cpp generates the 256 handlers from it; nothing else
// describes an instruction's shape.
#pragma once

#include <cstdint>

namespace cpu_table {

enum class Op : uint8_t {
    // documented
    ADC, AND, ASL, BCC, BCS, BEQ, BIT, BMI, BNE, BPL, BRK, BVC, BVS, CLC, CLD, CLI, CLV, CMP, CPX, CPY, DEC, DEX, DEY,
    EOR, INC, INX, INY, JMP, JSR, LDA, LDX, LDY, LSR, NOP, ORA, PHA, PHP, PLA, PLP, ROL, ROR, RTI, RTS, SBC, SEC, SED,
    SEI, STA, STX, STY, TAX, TAY, TSX, TXA, TXS, TYA,
    // undocumented; XNOP is every no-operation other than $EA
    SLO, RLA, SRE, RRA, DCP, ISC, SAX, LAX, LAS, AHX, TAS, SHX, SHY, ANC, ALR, ARR, XAA, LXA, AXS, XNOP, HLT,
};

enum class Mode : uint8_t { IMP, ACC, IMM, ZP, ZPX, ZPY, ABS, ABX, ABY, IZX, IZY, IND, REL };

// How an instruction reaches its operand. R, W and M (read-modify-write)
// follow the mode: the zero-page modes touch memory directly, every other
// mode goes through READMEM and WRITMEM. The other kinds are the undocumented
// instructions' own paths, spelled as the accesses they make on the effective
// address in order: R a READMEM call, W a WRITMEM call, d a direct access.
// For read-modify-write the middle letter, when there are three, is a second
// read that supplies only the new carry.
enum class Access : uint8_t {
    N,    // no data access
    R,    // read
    W,    // write
    M,    // read, then write the result back
    RRW,  // read, read again for the carry, write
    dRW,  // direct read, READMEM for the carry, write
    dW,   // direct read, WRITMEM
    Rd,   // READMEM, direct write
    RdW,  // read, direct read for the carry, write
    Rdd,  // read, direct read for the carry, direct write
    Wd,   // direct write in a mode that would otherwise use WRITMEM
    WH,   // READMEM of the base's high byte (H), then WRITMEM
    RI,   // the immediate operand itself read through READMEM
};

struct Entry {
    Op op;
    Mode mode;
    Access access;
    uint8_t cycles;  // base count; HLT has none (0) and leaves `cycles` as it was
};

using enum Op;
using enum Mode;
using enum Access;

// clang-format off
constexpr Entry OPCODES[256] = {
//         x0               x1               x2              x3               x4              x5              x6              x7              x8              x9              xA              xB              xC              xD              xE              xF
/* 0x */ {BRK,IMP,N,7}, {ORA,IZX,R,6}, {HLT,IMP,N,0}, {SLO,IZX,M,8},   {XNOP,ZP,N,4},  {ORA,ZP,R,3},   {ASL,ZP,M,5},   {SLO,ZP,M,5},   {PHP,IMP,N,3},  {ORA,IMM,R,2},  {ASL,ACC,M,2},  {ANC,IMM,R,2},  {XNOP,ABS,R,4}, {ORA,ABS,R,4},  {ASL,ABS,M,6},   {SLO,ABS,M,6},
/* 1x */ {BPL,REL,N,2}, {ORA,IZY,R,5}, {HLT,IMP,N,0}, {SLO,IZY,M,8},   {XNOP,ZPX,N,4}, {ORA,ZPX,R,4},  {ASL,ZPX,M,6},  {SLO,ZPX,M,6},  {CLC,IMP,N,2},  {ORA,ABY,R,4},  {XNOP,IMP,N,2}, {SLO,ABY,Rd,7}, {XNOP,ABX,R,4}, {ORA,ABX,R,4},  {ASL,ABX,M,7},   {SLO,ABX,Rd,7},
/* 2x */ {JSR,ABS,N,6}, {AND,IZX,R,6}, {HLT,IMP,N,0}, {RLA,IZX,RRW,8}, {BIT,ZP,R,3},   {AND,ZP,R,3},   {ROL,ZP,M,5},   {RLA,ZP,dRW,5}, {PLP,IMP,N,4},  {AND,IMM,R,2},  {ROL,ACC,M,2},  {ANC,IMM,R,2},  {BIT,ABS,R,4},  {AND,ABS,R,4},  {ROL,ABS,RRW,6}, {RLA,ABS,RRW,6},
/* 3x */ {BMI,REL,N,2}, {AND,IZY,R,5}, {HLT,IMP,N,0}, {RLA,IZY,RRW,8}, {XNOP,ZPX,N,4}, {AND,ZPX,R,4},  {ROL,ZPX,M,6},  {RLA,ZPX,dRW,6},{SEC,IMP,N,2},  {AND,ABY,R,4},  {XNOP,IMP,N,2}, {RLA,ABY,RRW,7},{XNOP,ABX,R,4}, {AND,ABX,R,4},  {ROL,ABX,RRW,7}, {RLA,ABX,RRW,7},
/* 4x */ {RTI,IMP,N,6}, {EOR,IZX,R,6}, {HLT,IMP,N,0}, {SRE,IZX,M,8},   {XNOP,ZP,N,4},  {EOR,ZP,R,3},   {LSR,ZP,M,5},   {SRE,ZP,dW,5},  {PHA,IMP,N,3},  {EOR,IMM,R,2},  {LSR,ACC,M,2},  {ALR,IMM,RI,2}, {JMP,ABS,N,3},  {EOR,ABS,R,4},  {LSR,ABS,M,6},   {SRE,ABS,M,6},
/* 5x */ {BVC,REL,N,2}, {EOR,IZY,R,5}, {HLT,IMP,N,0}, {SRE,IZY,M,8},   {XNOP,ZPX,N,4}, {EOR,ZPX,R,4},  {LSR,ZPX,M,6},  {SRE,ZPX,dW,6}, {CLI,IMP,N,2},  {EOR,ABY,R,4},  {XNOP,IMP,N,2}, {SRE,ABY,M,7},  {XNOP,ABX,R,4}, {EOR,ABX,R,4},  {LSR,ABX,M,7},   {SRE,ABX,M,7},
/* 6x */ {RTS,IMP,N,6}, {ADC,IZX,R,6}, {HLT,IMP,N,0}, {RRA,IZX,RRW,8}, {XNOP,ZP,N,4},  {ADC,ZP,R,3},   {ROR,ZP,M,5},   {RRA,ZP,M,5},   {PLA,IMP,N,4},  {ADC,IMM,R,2},  {ROR,ACC,M,2},  {ARR,IMM,RI,2}, {JMP,IND,N,5},  {ADC,ABS,R,4},  {ROR,ABS,RRW,6}, {RRA,ABS,RdW,6},
/* 7x */ {BVS,REL,N,2}, {ADC,IZY,R,5}, {HLT,IMP,N,0}, {RRA,IZY,Rdd,8}, {XNOP,ZPX,N,4}, {ADC,ZPX,R,4},  {ROR,ZPX,M,6},  {RRA,ZPX,M,6},  {SEI,IMP,N,2},  {ADC,ABY,R,4},  {XNOP,IMP,N,2}, {RRA,ABY,RdW,7},{XNOP,ABX,R,4}, {ADC,ABX,R,4},  {ROR,ABX,RRW,7}, {RRA,ABX,RdW,7},
/* 8x */ {XNOP,IMM,N,4},{STA,IZX,W,6}, {XNOP,IMM,N,4},{SAX,IZX,Wd,6},  {STY,ZP,W,3},   {STA,ZP,W,3},   {STX,ZP,W,3},   {SAX,ZP,W,3},   {DEY,IMP,N,2},  {XNOP,IMM,N,2}, {TXA,IMP,N,2},  {XAA,IMM,RI,2}, {STY,ABS,W,4},  {STA,ABS,W,4},  {STX,ABS,W,4},   {SAX,ABS,W,4},
/* 9x */ {BCC,REL,N,2}, {STA,IZY,W,6}, {HLT,IMP,N,0}, {AHX,IZY,WH,6},  {STY,ZPX,W,4},  {STA,ZPX,W,4},  {STX,ZPY,W,4},  {SAX,ZPY,W,4},  {TYA,IMP,N,2},  {STA,ABY,W,5},  {TXS,IMP,N,2},  {TAS,ABY,WH,5}, {SHY,ABX,WH,5}, {STA,ABX,W,5},  {SHX,ABY,WH,5},  {AHX,ABY,WH,5},
/* Ax */ {LDY,IMM,R,2}, {LDA,IZX,R,6}, {LDX,IMM,R,2}, {LAX,IZX,R,6},   {LDY,ZP,R,3},   {LDA,ZP,R,3},   {LDX,ZP,R,3},   {LAX,ZP,R,3},   {TAY,IMP,N,2},  {LDA,IMM,R,2},  {TAX,IMP,N,2},  {LXA,IMM,R,2},  {LDY,ABS,R,4},  {LDA,ABS,R,4},  {LDX,ABS,R,4},   {LAX,ABS,R,4},
/* Bx */ {BCS,REL,N,2}, {LDA,IZY,R,5}, {HLT,IMP,N,0}, {LAX,IZY,R,4},   {LDY,ZPX,R,4},  {LDA,ZPX,R,4},  {LDX,ZPY,R,4},  {LAX,ZPY,R,4},  {CLV,IMP,N,2},  {LDA,ABY,R,4},  {TSX,IMP,N,2},  {LAS,ABY,R,4},  {LDY,ABX,R,4},  {LDA,ABX,R,4},  {LDX,ABY,R,4},   {LAX,ABY,R,4},
/* Cx */ {CPY,IMM,R,2}, {CMP,IZX,R,6}, {XNOP,IMM,N,4},{DCP,IZX,M,8},   {CPY,ZP,R,3},   {CMP,ZP,R,3},   {DEC,ZP,M,5},   {DCP,ZP,dW,5},  {INY,IMP,N,2},  {CMP,IMM,R,2},  {DEX,IMP,N,2},  {AXS,IMM,RI,2}, {CPY,ABS,R,4},  {CMP,ABS,R,4},  {DEC,ABS,M,6},   {DCP,ABS,M,6},
/* Dx */ {BNE,REL,N,2}, {CMP,IZY,R,5}, {HLT,IMP,N,0}, {DCP,IZY,M,8},   {XNOP,ZPX,N,4}, {CMP,ZPX,R,4},  {DEC,ZPX,M,6},  {DCP,ZPX,dW,6}, {CLD,IMP,N,2},  {CMP,ABY,R,4},  {XNOP,IMP,N,2}, {DCP,ABY,M,7},  {XNOP,ABX,R,4}, {CMP,ABX,R,4},  {DEC,ABX,M,7},   {DCP,ABX,M,7},
/* Ex */ {CPX,IMM,R,2}, {SBC,IZX,R,6}, {XNOP,IMM,N,4},{ISC,IZX,M,8},   {CPX,ZP,R,3},   {SBC,ZP,R,3},   {INC,ZP,M,5},   {ISC,ZP,M,5},   {INX,IMP,N,2},  {SBC,IMM,R,2},  {NOP,IMP,N,2},  {SBC,IMM,R,2},  {CPX,ABS,R,4},  {SBC,ABS,R,4},  {INC,ABS,M,6},   {ISC,ABS,M,6},
/* Fx */ {BEQ,REL,N,2}, {SBC,IZY,R,5}, {HLT,IMP,N,0}, {ISC,IZY,M,8},   {XNOP,ZPX,N,4}, {SBC,ZPX,R,4},  {INC,ZPX,M,6},  {ISC,ZPX,dW,6}, {SED,IMP,N,2},  {SBC,ABY,R,4},  {XNOP,IMP,N,2}, {ISC,ABY,M,7},  {XNOP,ABX,R,4}, {SBC,ABX,R,4},  {INC,ABX,M,7},   {ISC,ABX,M,7},
};

// The machine's cycle table: base counts, one more on a page crossing for
// the reads in the indexed modes, branches 2 + taken + crossing.
constexpr uint8_t CYCLE_TABLE[256] = {
//       x0 x1 x2 x3 x4 x5 x6 x7 x8 x9 xA xB xC xD xE xF
/* 0x */ 7, 6, 0, 8, 4, 3, 5, 5, 3, 2, 2, 2, 4, 4, 6, 6,
/* 1x */ 2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,
/* 2x */ 6, 6, 0, 8, 3, 3, 5, 5, 4, 2, 2, 2, 4, 4, 6, 6,
/* 3x */ 2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,
/* 4x */ 6, 6, 0, 8, 4, 3, 5, 5, 3, 2, 2, 2, 3, 4, 6, 6,
/* 5x */ 2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,
/* 6x */ 6, 6, 0, 8, 4, 3, 5, 5, 4, 2, 2, 2, 5, 4, 6, 6,
/* 7x */ 2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,
/* 8x */ 4, 6, 4, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4,
/* 9x */ 2, 6, 0, 6, 4, 4, 4, 4, 2, 5, 2, 5, 5, 5, 5, 5,
/* Ax */ 2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4,
/* Bx */ 2, 5, 0, 4, 4, 4, 4, 4, 2, 4, 2, 4, 4, 4, 4, 4,
/* Cx */ 2, 6, 4, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6,
/* Dx */ 2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,
/* Ex */ 2, 6, 4, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6,
/* Fx */ 2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,
};
// clang-format on

// ---- derived properties ------------------------------------------------------

constexpr uint16_t length(Mode m) {
    switch (m) {
    case IMP:
    case ACC: return 1;
    case ABS:
    case ABX:
    case ABY:
    case IND: return 3;
    default: return 2;
    }
}

constexpr bool in_zero_page(Mode m) { return m == ZP || m == ZPX || m == ZPY; }
constexpr bool indexed(Mode m) { return m == ABX || m == ABY || m == IZY; }

// Reads in the indexed modes pay a cycle when indexing leaves the base's page.
constexpr bool page_penalty(const Entry& e) { return e.access == R && indexed(e.mode); }

// Every undocumented opcode prints the illegal-opcode message except HLT and
// the RLA group, which run silently ($EB is SBC itself and silent too).
constexpr bool announced(Op op) { return op >= SLO && op != RLA && op != HLT; }

constexpr bool is_branch(Op op) {
    return op == BPL || op == BMI || op == BVC || op == BVS || op == BCC || op == BCS || op == BNE || op == BEQ;
}

constexpr bool is_rmw(Access a) { return a == M || a == RRW || a == dRW || a == dW || a == Rd || a == RdW || a == Rdd; }
constexpr bool is_write(Access a) { return a == W || a == Wd || a == WH; }
constexpr bool is_read(Access a) { return a == R || a == RI; }

// ---- consistency of the table --------------------------------------------------

constexpr bool cycles_match() {
    for (unsigned i = 0; i < 256; i++)
        if (OPCODES[i].cycles != CYCLE_TABLE[i]) return false;
    return true;
}
static_assert(cycles_match(), "opcode table disagrees with the cycle table");

constexpr bool shapes_consistent() {
    for (const Entry& e : OPCODES) {
        bool ok = true;
        if (is_branch(e.op)) ok = e.mode == REL && e.cycles == 2;
        if (e.mode == REL) ok = ok && is_branch(e.op);
        if (e.access == RI) ok = ok && e.mode == IMM;
        if (e.mode == IMM) ok = ok && (e.access == R || e.access == RI || e.access == N);
        if (e.access == WH) ok = ok && (e.mode == ABX || e.mode == ABY || e.mode == IZY);
        if (e.mode == ACC) ok = ok && e.access == M;
        if (e.mode == IMP) ok = ok && e.access == N;
        if (is_rmw(e.access)) ok = ok && e.mode != IMM && e.mode != IMP && e.mode != REL;
        if (e.op == HLT) ok = ok && e.cycles == 0;
        if (e.op != HLT) ok = ok && e.cycles >= 2 && e.cycles <= 8;
        if (!ok) return false;
    }
    return true;
}
static_assert(shapes_consistent(), "opcode table holds a shape no handler implements");

constexpr unsigned count(Op op) {
    unsigned n = 0;
    for (const Entry& e : OPCODES) n += e.op == op;
    return n;
}
static_assert(count(HLT) == 12 && count(XNOP) == 27 && count(NOP) == 1, "no-operation and halt opcodes miscounted");

constexpr unsigned count_announced() {
    unsigned n = 0;
    for (const Entry& e : OPCODES) n += announced(e.op);
    return n;
}
// 105 undocumented opcodes, minus 12 HLT, 7 RLA and the silent $EB.
static_assert(count_announced() == 105 - 12 - 7 - 1, "wrong set of announced opcodes");

}  // namespace cpu_table
