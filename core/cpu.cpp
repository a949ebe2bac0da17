// The 6502: handlers generated from the opcode table in cpu_table.h.
//
// Each table entry instantiates exec<op, mode, access, cycles>, which is
// assembled from the shared pieces below: effective address of the mode,
// the access path of the kind, and the operation itself (arithmetic from
// cpu_alu.h). Every opcode has a handler function that ends by calling the
// next instruction's handler as a tail call, that is with a jump, so a run
// is a chain of jumps from handler to handler. The processor's busiest
// parts travel in the handlers' arguments, which both compilers keep in the
// same registers from one handler to the next.
#include <algorithm>
#include <array>
#include <cstdio>
#include <unordered_set>
#include <utility>

#include "cpu.h"
#include "cpu_alu.h"
#include "cpu_table.h"
#include "host.h"
#include "hooks.h"

namespace {

using namespace cpu_table;

// Every piece below is inlined into the one loop, however large it grows,
// so that the processor stays in registers there.
#define HOT [[gnu::always_inline]] inline

// Status bits in their places in P.
constexpr uint8_t P_C = 0x01, P_Z = 0x02, P_I = 0x04, P_D = 0x08, P_B = 0x10, P_5 = 0x20, P_V = 0x40, P_N = 0x80;

// A run counts its cycles and its instructions down in one number, which
// starts at the budget times ONE_CYCLE less 1: each instruction takes
// ONE_CYCLE per cycle and 1 for itself. With fewer than ONE_CYCLE
// instructions in a run, an instruction takes more than is left exactly
// when the cycles reach the budget, and what the number fell by gives both
// counts. The subtraction's own borrow ends the run.
constexpr int CYCLE_SHIFT = 20;
constexpr uint64_t ONE_CYCLE = uint64_t(1) << CYCLE_SHIFT;
constexpr int32_t MAX_RUN_CYCLES = 1 << CYCLE_SHIFT;  // at least two cycles an instruction

// C and the rest of P side by side, so that PLP sets both with one store.
struct CarryAndP {
    uint8_t c;  // 0 or 1
    uint8_t p;  // V, I, D, B and bit 5 in their places in P, the other bits 0
};

// The rest of the processor during a run: the parts seldom needed in a
// register. X and Y stay in Register.
struct RunState {
    CarryAndP flags;
    bool forced;      // the first opcode is not the byte at PC
    uint64_t budget;  // what `left` counts down from, in its units
    int32_t count;    // instructions run, once the run has ended
};
RunState run_state;

// The processor as a handler sees it. N and Z are kept as `nz`: Z while its
// low byte is 0, N while bit 7 or bit 8 is set, so an instruction that takes
// them from its result only copies the result (bit 8 gives N with Z, as BIT
// and PLP can set them). It stays below $200.
struct Cpu {
    uint8_t* mem;
    size_t pc;     // below $10000
    size_t a, sp;  // below $100
    size_t nz;
    uint64_t left;  // what the run may still take (see ONE_CYCLE)
    uint8_t& x = Register.X;
    uint8_t& y = Register.Y;
    CarryAndP& flags = run_state.flags;
    uint8_t& c = run_state.flags.c;
    uint8_t& p = run_state.flags.p;
};

// ---- flags -------------------------------------------------------------------------

HOT bool flag_z(const Cpu& s) { return (s.nz & 0xFF) == 0; }
HOT bool flag_n(const Cpu& s) { return (s.nz & 0x180) != 0; }
HOT void set_n_z(Cpu& s, unsigned n, unsigned z) { s.nz = n << 8 | unsigned(!z); }

HOT void set_v(Cpu& s, unsigned v) { s.p = uint8_t((s.p & ~P_V) | v << 6); }

HOT void set_nzcv(Cpu& s, const AluResult& r) {
    set_n_z(s, r.n, r.z);
    s.c = r.c;
    set_v(s, r.v);
}

// N and Z of P from `nz`, with B as a push sets it, and `nz` from P: PHP
// and PLP take a quarter of some programs' instructions.
constexpr std::array<uint8_t, 0x200> PUSHED_NZ_BITS = [] {
    std::array<uint8_t, 0x200> t{};
    for (unsigned nz = 0; nz < 0x200; nz++) t[nz] = uint8_t(((nz & 0xFF) == 0 ? P_Z : 0) | (nz & 0x180 ? P_N : 0) | P_B);
    return t;
}();
constexpr std::array<uint16_t, 0x100> NZ_OF_P = [] {
    std::array<uint16_t, 0x100> t{};
    for (unsigned p = 0; p < 0x100; p++) t[p] = uint16_t((p & P_N) << 1 | !(p & P_Z));
    return t;
}();

constexpr std::array<CarryAndP, 0x100> FLAGS_OF_P = [] {
    std::array<CarryAndP, 0x100> t{};
    for (unsigned p = 0; p < 0x100; p++) t[p] = {uint8_t(p & P_C), uint8_t((p & (P_V | P_I | P_D | P_B)) | P_5)};
    return t;
}();

// P as PHP and BRK push it, B set.
HOT uint8_t pushed_status(const Cpu& s) { return uint8_t(s.p | s.c | PUSHED_NZ_BITS[s.nz]); }

// P as PLP and RTI pull it: B set by RTI, bit 5 always 1.
HOT void set_status(Cpu& s, uint8_t p, bool from_rti) {
    s.flags = FLAGS_OF_P[p];
    if (from_rti) s.p |= P_B;
    s.nz = NZ_OF_P[p];
}

// Decimal ADC and SBC for every carry, A and operand, from adc() and sbc():
// the result byte, and N, V, Z and C in their places in P.
struct DecimalTables {
    struct Result {
        uint8_t value, p;
    };
    std::array<Result, 0x20000> add, subtract;

    DecimalTables() {
        const auto pack = [](const AluResult& r) {
            return Result{r.value, uint8_t(r.n << 7 | r.v << 6 | r.z << 1 | r.c)};
        };
        for (unsigned i = 0; i < 0x20000; i++) {
            const uint8_t c = uint8_t(i >> 16), a = uint8_t(i >> 8), m = uint8_t(i);
            add[i] = pack(adc(a, m, c, 1));
            subtract[i] = pack(sbc(a, m, c, 1));
        }
    }
};
const DecimalTables decimal_tables;

// What a handler variant may assume (see "the generated handler" below): D
// clear and plain memory behind its bus accesses, D set and plain memory, or
// nothing.
enum class Variant { BINARY, DECIMAL, FULL };

template <Variant v>
HOT bool decimal_mode(const Cpu& s) {
    return v == Variant::DECIMAL || (v == Variant::FULL && (s.p & P_D));
}

// A and the flags after an addition or subtraction. In binary mode a
// subtraction is the addition of the operand's complement, flags included,
// V is set when the sum's sign differs from both addends' signs, and N and Z
// follow the result. Decimal mode takes N and Z from elsewhere (cpu_alu.h).
template <bool subtract, Variant v>
HOT void add(Cpu& s, uint8_t m, uint8_t carry) {
    if (decimal_mode<v>(s)) [[unlikely]] {
        const size_t i = size_t(carry) << 16 | s.a << 8 | m;
        const DecimalTables::Result r = subtract ? decimal_tables.subtract[i] : decimal_tables.add[i];
        s.a = r.value;
        s.c = r.p & P_C;
        s.nz = NZ_OF_P[r.p];
        s.p = uint8_t((s.p & ~P_V) | (r.p & P_V));
        return;
    }
    const size_t addend = subtract ? m ^ 0xFFu : m;
    const size_t sum = s.a + addend + carry;
    s.c = sum > 0xFF;
    s.p = uint8_t((s.p & ~P_V) | (((s.a ^ sum) & (addend ^ sum)) >> 1 & P_V));
    s.nz = s.a = uint8_t(sum);
}

// ---- operands, effective addresses and the bus -------------------------------------

// Operand bytes are read straight from the image; past $FFFF they wrap to $0000.
HOT uint8_t operand(const Cpu& s, unsigned k) { return s.mem[uint16_t(s.pc + k)]; }
HOT uint16_t operand_word(const Cpu& s) { return uint16_t(operand(s, 1) | operand(s, 2) << 8); }

// A pointer in page 0 takes its high byte from the following byte without
// wrapping, so a pointer at $FF reaches into $0100.
HOT uint16_t zero_page_word(const Cpu& s, unsigned p) { return uint16_t(s.mem[p] | s.mem[p + 1] << 8); }

struct Address {
    uint16_t ea;    // effective address
    uint16_t base;  // address before indexing (for the page-crossing rule)
};

template <Mode mode>
HOT Address effective(const Cpu& s) {
    if constexpr (mode == ZP) {
        uint16_t a = operand(s, 1);
        return {a, a};
    } else if constexpr (mode == ZPX) {
        uint16_t a = uint8_t(operand(s, 1) + s.x);
        return {a, a};
    } else if constexpr (mode == ZPY) {
        uint16_t a = uint8_t(operand(s, 1) + s.y);
        return {a, a};
    } else if constexpr (mode == ABS) {
        uint16_t a = operand_word(s);
        return {a, a};
    } else if constexpr (mode == ABX) {
        uint16_t base = operand_word(s);
        return {uint16_t(base + s.x), base};
    } else if constexpr (mode == ABY) {
        uint16_t base = operand_word(s);
        return {uint16_t(base + s.y), base};
    } else if constexpr (mode == IZX) {
        uint16_t a = zero_page_word(s, uint8_t(operand(s, 1) + s.x));
        return {a, a};
    } else {
        static_assert(mode == IZY);
        uint16_t base = zero_page_word(s, operand(s, 1));
        return {uint16_t(base + s.y), base};
    }
}

HOT void end_run_after_this(Cpu& s) {
    run_state.budget -= s.left;
    s.left = 0;
}

// Before a chip sees an access at `addr`: the chip finds the instruction's
// own PC and the beam at the instruction's start. A VIA also finds the
// timers in the access's own bus cycle (`access`, counted from 0, of an
// instruction of `cycles`), with the instruction's interrupt poll, two
// cycles before its end, first when the access is not earlier; and as the
// access may change the timers or the lines, the run ends after this
// instruction.
HOT void before_chip(Cpu& s, uint16_t addr, int cycles, int access) {
    Register.PC = uint16_t(s.pc);
    const int32_t start = int32_t((run_state.budget - s.left) >> CYCLE_SHIFT);
    if (!reaches_via(addr)) return catch_up_beam(start);
    catch_up_step(start, start + cycles - 2, start + access);
    end_run_after_this(s);
}

struct BeforeChip {
    Cpu& s;
    uint16_t addr;
    int cycles, access;
    HOT void operator()() const { before_chip(s, addr, cycles, access); }
};

// The bus cycles of the data accesses, counted from 0, in an instruction of
// `cycles` cycles (page crossing included): a read or a write is its last
// cycle; a read-modify-write reads three cycles before its end, makes the
// second read in the next cycle and writes in the last.
HOT uint8_t read_bus(Cpu& s, uint16_t a, int cycles, int access) {
    return ::read_bus(s.mem, a, BeforeChip{s, a, cycles, access});
}
HOT void write_bus(Cpu& s, uint16_t a, uint8_t v, int cycles, int access) {
    ::write_bus(s.mem, a, v, BeforeChip{s, a, cycles, access});
}

template <bool bus>
HOT uint8_t load(Cpu& s, uint16_t a, int cycles, int access) {
    if constexpr (bus) return read_bus(s, a, cycles, access);
    else return s.mem[a];
}

template <bool bus>
HOT void store(Cpu& s, uint16_t a, uint8_t v, int cycles, int access) {
    if constexpr (bus) write_bus(s, a, v, cycles, access);
    else s.mem[a] = v;
}

// The three accesses of a read-modify-write: first read, optional second
// read for the carry, write back.
enum class CarryRead { NONE, DIRECT, BUS };
struct RmwPath {
    bool read_bus;
    CarryRead carry;
    bool write_bus;
};

constexpr RmwPath rmw_path(Access acc, Mode mode) {
    switch (acc) {
    case RRW: return {true, CarryRead::BUS, true};
    case dRW: return {false, CarryRead::BUS, true};
    case dW: return {false, CarryRead::NONE, true};
    case Rd: return {true, CarryRead::NONE, false};
    case RdW: return {true, CarryRead::DIRECT, true};
    case Rdd: return {true, CarryRead::DIRECT, false};
    default: return {!in_zero_page(mode), CarryRead::NONE, !in_zero_page(mode)};
    }
}

// The stack is page 1, wrapping silently.
HOT void push(Cpu& s, uint8_t value) {
    (s.mem + 0x100)[s.sp] = value;
    s.sp = uint8_t(s.sp - 1);
}

HOT uint8_t pull(Cpu& s) {
    s.sp = uint8_t(s.sp + 1);
    return (s.mem + 0x100)[s.sp];
}

// Each opcode at each address is announced once, the first time; a loop
// that uses one would otherwise print a line per pass.
[[gnu::cold, gnu::noinline]] void announce(uint16_t pc) {
    static std::unordered_set<uint32_t> announced_uses;
    if (!announced_uses.insert(uint32_t(memory[pc]) << 16 | pc).second) return;
    std::printf("!! Illegal Opcode %x at %x used !!\n", unsigned(memory[pc]), unsigned(pc));
    if (announced_uses.size() == 1) std::fputs("!! Further uses of an opcode at the same address are not reported !!\n", stdout);
}

// ---- operations ----------------------------------------------------------------------

// Instructions that consume an operand value.
template <Op op, Variant variant>
HOT void read_op(Cpu& s, uint8_t v) {
    const size_t a = s.a;
    if constexpr (op == LDA) s.nz = s.a = v;
    else if constexpr (op == LDX) s.nz = s.x = v;
    else if constexpr (op == LDY) s.nz = s.y = v;
    else if constexpr (op == LAX) s.nz = s.a = s.x = v;
    else if constexpr (op == LAS) s.nz = s.a = s.x = s.sp = uint8_t(v & s.sp);
    else if constexpr (op == ORA) s.nz = s.a = uint8_t(a | v);
    else if constexpr (op == AND) s.nz = s.a = uint8_t(a & v);
    else if constexpr (op == EOR) s.nz = s.a = uint8_t(a ^ v);
    else if constexpr (op == ADC) add<false, variant>(s, v, s.c);
    else if constexpr (op == SBC) add<true, variant>(s, v, s.c);
    else if constexpr (op == CMP || op == CPX || op == CPY) {
        const size_t reg = op == CMP ? a : op == CPX ? s.x : s.y;
        s.nz = uint8_t(reg - v);
        s.c = reg >= v;
    } else if constexpr (op == BIT) {
        set_n_z(s, v >> 7, (a & v) == 0);
        s.p = uint8_t((s.p & ~P_V) | (v & P_V));
    } else if constexpr (op == ANC) {
        s.nz = s.a = uint8_t(a & v);
        s.c = s.a >> 7;
    } else if constexpr (op == ALR) {
        uint8_t t = a & v;
        s.c = t & 1;
        s.nz = s.a = uint8_t(t >> 1);
    } else if constexpr (op == ARR) {
        AluResult r = arr(a, v, s.c, decimal_mode<variant>(s));
        s.a = r.value;
        set_nzcv(s, r);
    } else if constexpr (op == XAA) s.nz = s.a = uint8_t((a | 0xEE) & s.x & v);
    else if constexpr (op == LXA) s.nz = s.a = s.x = uint8_t((a | 0xEE) & v);
    else if constexpr (op == AXS) {
        AluResult r = axs(a, s.x, v);
        s.nz = s.x = r.value;
        s.c = r.c;
    } else static_assert(op == XNOP, "not a reading instruction");  // the value is dropped
}

// The value a store writes; `h` is the H byte of TAS, SHX, SHY and AHX.
template <Op op>
HOT uint8_t store_value(Cpu& s, uint8_t h) {
    if constexpr (op == STA) return s.a;
    else if constexpr (op == STX) return s.x;
    else if constexpr (op == STY) return s.y;
    else if constexpr (op == SAX) return s.a & s.x;
    else if constexpr (op == SHY) return s.y & uint8_t(h + 1);
    else if constexpr (op == SHX) return s.x & uint8_t(h + 1);
    else if constexpr (op == AHX) return s.a & s.x & uint8_t(h + 1);
    else {
        static_assert(op == TAS, "not a storing instruction");
        s.sp = s.a & s.x;
        return s.sp & uint8_t(h + 1);
    }
}

// The modify step of a read-modify-write: returns the value written back.
// `carry_source` supplies the new carry of the rotates.
template <Op op, Variant variant>
HOT uint8_t modify(Cpu& s, uint8_t m, uint8_t carry_source) {
    const uint8_t c = s.c;
    if constexpr (op == ASL || op == LSR || op == ROL || op == ROR) {
        AluResult r = op == ASL ? asl(m) : op == LSR ? lsr(m) : op == ROL ? rol(m, c, carry_source) : ror(m, c, carry_source);
        s.nz = r.value;
        s.c = r.c;
        return r.value;
    } else if constexpr (op == INC || op == DEC) {
        uint8_t v = uint8_t(op == INC ? m + 1 : m - 1);
        s.nz = v;
        return v;
    } else if constexpr (op == SLO || op == RLA || op == SRE) {
        AluResult r = op == SLO ? asl(m) : op == RLA ? rol(m, c, carry_source) : lsr(m);
        s.c = r.c;
        const size_t a = s.a;
        s.nz = s.a = uint8_t(op == SLO ? a | r.value : op == RLA ? a & r.value : a ^ r.value);
        return r.value;
    } else if constexpr (op == RRA) {
        AluResult r = ror(m, c, carry_source);
        add<false, variant>(s, r.value, r.c);
        return r.value;
    } else if constexpr (op == DCP) {
        uint8_t v = uint8_t(m - 1);
        s.nz = uint8_t(s.a - v);
        s.c = s.a >= v;
        return v;
    } else {
        static_assert(op == ISC, "not a read-modify-write instruction");
        uint8_t v = uint8_t(m + 1);
        add<true, variant>(s, v, c);
        return v;
    }
}

// Single-byte instructions and the stack and flow instructions.
template <Op op>
HOT void implied(Cpu& s) {
    const size_t pc = s.pc;
    unsigned next = uint16_t(pc + 1);
    if constexpr (op == BRK || op == JSR) {
        // Pushes the address of the instruction's last byte.
        uint16_t ret = uint16_t(pc + 2);
        push(s, uint8_t(ret >> 8));
        push(s, uint8_t(ret));
        if constexpr (op == BRK) {
            s.p |= P_B;
            push(s, pushed_status(s));
            s.p |= P_I;
            next = uint16_t(s.mem[0xFFFE] | s.mem[0xFFFF] << 8);
        } else {
            next = operand_word(s);  // read after the pushes
        }
    } else if constexpr (op == RTS) {
        uint8_t lo = pull(s);
        next = uint16_t((lo | pull(s) << 8) + 1);
    } else if constexpr (op == RTI) {
        set_status(s, pull(s), true);
        uint8_t lo = pull(s);
        next = uint16_t(lo | pull(s) << 8);
    } else if constexpr (op == JMP) {
        next = operand_word(s);
    } else if constexpr (op == PHA) push(s, s.a);
    else if constexpr (op == PHP) push(s, pushed_status(s));
    else if constexpr (op == PLA) s.nz = s.a = pull(s);
    else if constexpr (op == PLP) set_status(s, pull(s), false);
    else if constexpr (op == CLC) s.c = 0;
    else if constexpr (op == SEC) s.c = 1;
    else if constexpr (op == CLI) s.p &= uint8_t(~P_I);
    else if constexpr (op == SEI) s.p |= P_I;
    else if constexpr (op == CLD) s.p &= uint8_t(~P_D);
    else if constexpr (op == SED) s.p |= P_D;
    else if constexpr (op == CLV) s.p &= uint8_t(~P_V);
    else if constexpr (op == TAX) s.nz = s.x = s.a;
    else if constexpr (op == TAY) s.nz = s.y = s.a;
    else if constexpr (op == TXA) s.nz = s.a = s.x;
    else if constexpr (op == TYA) s.nz = s.a = s.y;
    else if constexpr (op == TSX) s.nz = s.x = s.sp;
    else if constexpr (op == TXS) s.sp = s.x;
    else if constexpr (op == INX) s.nz = ++s.x;
    else if constexpr (op == INY) s.nz = ++s.y;
    else if constexpr (op == DEX) s.nz = --s.x;
    else if constexpr (op == DEY) s.nz = --s.y;
    else static_assert(op == NOP || op == XNOP, "not an implied instruction");
    s.pc = next;
}

template <Op op>
HOT bool branch_taken(const Cpu& s) {
    if constexpr (op == BPL) return !flag_n(s);
    else if constexpr (op == BMI) return flag_n(s);
    else if constexpr (op == BVC) return !(s.p & P_V);
    else if constexpr (op == BVS) return s.p & P_V;
    else if constexpr (op == BCC) return !s.c;
    else if constexpr (op == BCS) return s.c;
    else if constexpr (op == BNE) return !flag_z(s);
    else return flag_z(s);
}

// A branch taken. The crossing is judged from the offset byte's address,
// not from the address of the next instruction.
HOT int branch(Cpu& s) {
    const size_t pc = s.pc;
    uint16_t offset_at = uint16_t(pc + 1);
    uint16_t target = uint16_t(pc + 2 + int8_t(s.mem[offset_at]));
    s.pc = target;
    return ((target ^ offset_at) & 0xFF00) ? 4 : 3;
}

// JMP (abs), five cycles, the pointer read in cycles 3 and 4. A pointer at
// $xxFF takes its high byte from the start of the same page; the chip still
// reads the byte after it first, so that read happens, with its side
// effects, and is dropped.
HOT void jump_indirect(Cpu& s) {
    uint16_t ptr = operand_word(s);
    uint8_t lo = read_bus(s, ptr, 5, 3);
    uint8_t hi = read_bus(s, uint16_t(ptr + 1), 5, 4);
    if ((ptr & 0xFF) == 0xFF) hi = read_bus(s, ptr & 0xFF00, 5, 4);
    s.pc = uint16_t(lo | hi << 8);
}

// A loop that waits for the raster: LDA $9004, then a branch back to it
// (BNE, BEQ) or CMP #n and a branch back (BNE, BEQ, BCC, BCS), with `pc`
// at its LDA, which has just read the register. While the register holds
// that value, every pass does what this one does and nothing else, so the
// passes the run has room for, short of the one that may reach its
// budget, are taken at once: their cycles and instructions, nothing more.
[[gnu::noinline]] void pass_raster_wait(Cpu& s, uint16_t pc) {
    const uint8_t* m = s.mem;
    const unsigned v = s.a;
    uint16_t at = uint16_t(pc + 3);
    unsigned cycles = 4, instructions = 2;
    const bool compare = m[at] == 0xC9;
    const unsigned n = m[uint16_t(at + 1)];
    if (compare) {
        at = uint16_t(at + 2);
        cycles += 2;
        instructions++;
    }
    const uint16_t offset_at = uint16_t(at + 1);
    if (uint16_t(offset_at + 1 + int8_t(m[offset_at])) != pc) return;
    bool taken;
    switch (m[at]) {
    case 0xD0: taken = compare ? v != n : v != 0; break;  // BNE
    case 0xF0: taken = compare ? v == n : v == 0; break;  // BEQ
    case 0xB0: taken = compare && v >= n; break;          // BCS
    case 0x90: taken = compare && v < n; break;           // BCC
    default: return;
    }
    if (!taken) return;
    cycles += ((pc ^ offset_at) & 0xFF00) ? 4 : 3;
    const uint64_t pass = uint64_t(cycles) * ONE_CYCLE + instructions;
    const uint64_t room = s.left / pass;  // this pass included
    if (room < 2) return;
    s.left -= std::min<uint64_t>(raster_value_holds() / cycles, room - 1) * pass;
}

// ---- the generated handler --------------------------------------------------------------

// Most handlers come in variants. The binary one assumes D clear and plain
// memory behind its bus accesses (plain_read and plain_write in memory.h);
// where D is set it passes the instruction, untouched, to the decimal one,
// and where memory is not plain, to the full one, which assumes nothing. So
// the binary and decimal variants make no calls, and neither compiler needs
// to save registers in them.
constexpr bool decimal_sensitive(Op op) { return op == ADC || op == SBC || op == RRA || op == ISC || op == ARR; }
constexpr bool plain_access(Access acc, Mode mode) {
    return (acc == R || acc == W || acc == M) && (mode == ABS || mode == ABX || mode == ABY || mode == IZX || mode == IZY);
}
constexpr bool has_variants(const Entry& e) { return decimal_sensitive(e.op) || plain_access(e.access, e.mode); }

template <Op op, Mode mode, Access acc>
HOT bool plain_memory(const Cpu& s) {
    if constexpr (plain_access(acc, mode)) {
        const uint16_t ea = effective<mode>(s).ea;
        if constexpr (acc != W)
            if (!plain_read(ea)) return false;
        if constexpr (acc != R)
            if (!plain_write(ea)) return false;
    }
    return true;
}

// Runs one instruction and returns its cycles.
template <Op op, Mode mode, Access acc, uint8_t cyc, Variant v>
HOT int exec(Cpu& s) {
    constexpr bool direct = v != Variant::FULL && plain_access(acc, mode);
    const size_t pc = s.pc;
    if constexpr (announced(op)) announce(uint16_t(pc));

    if constexpr (is_branch(op)) {
        return branch(s);
    } else if constexpr (op == JMP && mode == IND) {
        jump_indirect(s);
        return cyc;
    } else if constexpr (mode == IMP || op == JMP || op == JSR) {
        implied<op>(s);
        return cyc;
    } else if constexpr (mode == ACC) {
        s.a = modify<op, v>(s, s.a, s.a);
        s.pc = uint16_t(pc + 1);
        return cyc;
    } else if constexpr (mode == IMM) {
        if constexpr (acc == RI) read_op<op, v>(s, read_bus(s, uint16_t(pc + 1), cyc, 1));
        else if constexpr (acc == R) read_op<op, v>(s, operand(s, 1));
        s.pc = uint16_t(pc + 2);
        return cyc;
    } else {
        const Address a = effective<mode>(s);
        constexpr bool bus = !in_zero_page(mode) && !direct;
        int extra = 0;
        if constexpr (acc == R) {
            if constexpr (page_penalty(Entry{op, mode, acc, cyc})) extra = uint8_t(a.ea) < uint8_t(a.base);  // the low byte wrapped
            read_op<op, v>(s, load<bus>(s, a.ea, cyc + extra, cyc + extra - 1));
        } else if constexpr (acc == W || acc == Wd) {
            store<bus && acc == W>(s, a.ea, store_value<op>(s, 0), cyc, cyc - 1);
        } else if constexpr (acc == WH) {
            // H is the base's high byte, fetched through the bus from where it
            // sits: the operand's second byte in cycle 2, or the pointer's in 3.
            uint16_t h_at = mode == IZY ? uint16_t(operand(s, 1) + 1) : uint16_t(pc + 2);
            uint8_t h = read_bus(s, h_at, cyc, mode == IZY ? 3 : 2);
            write_bus(s, a.ea, store_value<op>(s, h), cyc, cyc - 1);
        } else if constexpr (acc != N) {
            constexpr RmwPath path = direct ? RmwPath{false, CarryRead::NONE, false} : rmw_path(acc, mode);
            uint8_t m = load<path.read_bus>(s, a.ea, cyc, cyc - 3);
            uint8_t carry_source = m;
            // The chip reads the operand again; only the carry comes from that read.
            if constexpr (path.carry == CarryRead::BUS) carry_source = read_bus(s, a.ea, cyc, cyc - 2);
            else if constexpr (path.carry == CarryRead::DIRECT) carry_source = s.mem[a.ea];
            // The chip writes the value read back unchanged before the result;
            // only a chip register can tell the two writes apart.
            if constexpr (path.write_bus)
                if ((a.ea & 0xF000) == IO_BASE) [[unlikely]] {
                    BUS_TRACE('W', a.ea);
                    before_chip(s, a.ea, cyc, cyc - 2);
                    write_io(a.ea, m);
                }
            store<path.write_bus>(s, a.ea, modify<op, v>(s, m, carry_source), cyc, cyc - 1);
        }
        s.pc = uint16_t(pc + length(mode));
        return cyc + extra;
    }
}

// ---- the run ------------------------------------------------------------------------------

using Handler = void (*)(uint8_t* mem, size_t pc, size_t a, size_t sp, size_t nz, uint64_t left);

// The tail call to the next handler, and the ends of a run and the entries
// to the other variants kept out of line and unchanged (gcc would otherwise
// clone them with fewer parameters and shift a handler's arguments to other
// registers on the way out, or inline a variant into the binary one).
#if defined(__clang__)
#define NEXT_HANDLER [[clang::musttail]] return
#define OUT_OF_LINE [[gnu::noinline]]
#else
#define NEXT_HANDLER return  // a sibling call: the build asks for them at every optimisation level
#define OUT_OF_LINE [[gnu::noipa]]
#endif

// Takes an instruction's cycles from what the run may still take, and runs
// the next instruction or ends the run, noting how the instruction polled
// the interrupt lines (InterruptPoll). The cycles are counted before `left`
// is read: an instruction that reaches a chip changes it.
#define CONTINUE_RUN(s, cycles, lead, i_polled)                                 \
    const uint64_t taken = uint64_t(cycles) * ONE_CYCLE + 1;                    \
    if (__builtin_sub_overflow(s.left, taken, &s.left)) [[unlikely]] {          \
        last_interrupt_poll = InterruptPoll{(lead), ((i_polled) & P_I) != 0};   \
        last_step_cycles = int32_t(cycles);                                     \
        NEXT_HANDLER finish(s.mem, s.pc, s.a, s.sp, s.nz, s.left);              \
    }                                                                           \
    NEXT_HANDLER HANDLERS[s.mem[s.pc]](s.mem, s.pc, s.a, s.sp, s.nz, s.left)

// The ends of a run take a handler's parameters in a handler's order.
HOT void store_state(uint8_t*, size_t pc, size_t a, size_t sp, size_t nz) {
    Register.PC = uint16_t(pc);
    Register.A = uint8_t(a);
    Register.SP = uint8_t(sp);
    const unsigned p = run_state.flags.p | run_state.flags.c | (PUSHED_NZ_BITS[nz] & ~P_B);
    for (int bit = 0; bit < 8; bit++) Flags[bit] = p >> bit & 1;
}

OUT_OF_LINE void finish(uint8_t* mem, size_t pc, size_t a, size_t sp, size_t nz, uint64_t left) {
    store_state(mem, pc, a, sp, nz);
    const uint64_t taken = run_state.budget - left;
    cycles = int32_t(taken >> CYCLE_SHIFT);
    run_state.count = int32_t(taken & (ONE_CYCLE - 1));
}

// A halt opcode, a trap point's or a real halt, runs as a run of its own: a
// run that meets one after other instructions ends before it. It leaves
// `cycles` as it was, or as the trap's handler sets it.
OUT_OF_LINE void halt(uint8_t* mem, size_t pc, size_t a, size_t sp, size_t nz, uint64_t left) {
    // The instruction before it is not known here: its poll is taken as the
    // usual one, its count as the shortest.
    last_interrupt_poll = InterruptPoll{2, (run_state.flags.p & P_I) != 0};
    if (left != run_state.budget) {
        last_step_cycles = 2;
        return finish(mem, pc, a, sp, nz, left);
    }
    store_state(mem, pc, a, sp, nz);
    run_state.count = 1;
    if (run_state.forced || mem[pc] != TRAP_OPCODE || !run_kernal_trap()) {
        show_halt_dialog();
        Register.PC = uint16_t(pc + 1);
    }
    last_step_cycles = cycles;
}

template <unsigned opcode, Variant v = Variant::BINARY>
void handler(uint8_t* mem, size_t pc, size_t a, size_t sp, size_t nz, uint64_t left);

template <size_t... I>
constexpr std::array<Handler, 256> make_handlers(std::index_sequence<I...>) {
    return {&handler<I>...};
}
constexpr std::array<Handler, 256> HANDLERS = make_handlers(std::make_index_sequence<256>());

template <unsigned opcode, Variant v>
OUT_OF_LINE void variant_handler(uint8_t* mem, size_t pc, size_t a, size_t sp, size_t nz, uint64_t left) {
    NEXT_HANDLER handler<opcode, v>(mem, pc, a, sp, nz, left);
}

template <unsigned opcode, Variant v>
void handler(uint8_t* mem, size_t pc, size_t a, size_t sp, size_t nz, uint64_t left) {
    constexpr Entry e = OPCODES[opcode];
    constexpr Variant variant = has_variants(e) ? v : Variant::FULL;
    if constexpr (e.op == HLT) {
        NEXT_HANDLER halt(mem, pc, a, sp, nz, left);
    } else {
        Cpu s{mem, pc, a, sp, nz, left};
        [[maybe_unused]] const uint8_t p_before = s.p;
        if constexpr (variant == Variant::BINARY && decimal_sensitive(e.op))
            if (s.p & P_D) [[unlikely]]
                NEXT_HANDLER variant_handler<opcode, Variant::DECIMAL>(mem, pc, a, sp, nz, left);
        if constexpr (variant != Variant::FULL)
            if (!plain_memory<e.op, e.mode, e.access>(s)) [[unlikely]]
                NEXT_HANDLER variant_handler<opcode, Variant::FULL>(mem, pc, a, sp, nz, left);
        // A branch not taken has a tail of its own, with its cycles a constant.
        if constexpr (is_branch(e.op))
            if (!branch_taken<e.op>(s)) {
                s.pc = uint16_t(pc + 2);
                CONTINUE_RUN(s, e.cycles, 2, s.p);
            }
        const int n = exec<e.op, e.mode, e.access, e.cycles, variant>(s);
        if constexpr (e.op == LDA && e.mode == ABS && variant == Variant::FULL)
            if (uint16_t(mem[uint16_t(pc + 1)] | mem[uint16_t(pc + 2)] << 8) == VIC_BASE + VIC_RASTER && !bus_traced())
                pass_raster_wait(s, uint16_t(pc));
        if constexpr (e.op == CLI || e.op == PLP || e.op == RTI)
            if (run_ends_when_i_clears) end_run_after_this(s);
        // The poll's exceptions: a taken branch in its page polls in its
        // first cycle; CLI, SEI and PLP poll with I as it was before them.
        constexpr bool i_after_poll = e.op == CLI || e.op == SEI || e.op == PLP;
        CONTINUE_RUN(s, n, is_branch(e.op) && n == 3 ? 3 : 2, i_after_poll ? p_before : s.p);
    }
}

// `forced`: the first instruction's opcode when it is not the byte at PC.
int32_t run(int32_t budget, int forced) {
    const uint64_t left = uint64_t(std::clamp(budget, 1, MAX_RUN_CYCLES)) * ONE_CYCLE - 1;
    const uint8_t p = compose_p();
    run_state = RunState{{uint8_t(p & P_C), uint8_t(p & (P_V | P_I | P_D | P_B | P_5))}, forced >= 0, left, 0};
    start_catch_up();
    const unsigned nz = NZ_OF_P[p];
    const unsigned pc = Register.PC;
    HANDLERS[forced >= 0 ? unsigned(forced) : memory[pc]](memory, pc, Register.A, Register.SP, nz, left);
    return run_state.count;
}

#undef CONTINUE_RUN
#undef NEXT_HANDLER
#undef OUT_OF_LINE
#undef HOT

static_assert(OPCODES[TRAP_OPCODE].op == HLT, "the trap opcode must be one that halts");

}  // namespace

InterruptPoll last_interrupt_poll{2, false};
int32_t last_step_cycles = 0;
bool run_ends_when_i_clears = false;

int32_t run_instructions(int32_t budget) { return run(budget, -1); }

void execute_opcode(uint8_t opcode) { run(1, opcode); }
