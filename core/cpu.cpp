// The 6502: handlers generated from the opcode table in cpu_table.h.
//
// Each table entry instantiates run<op, mode, access, cycles>, which is
// assembled from the shared pieces below: effective address of the mode,
// the access path of the kind, and the operation itself (arithmetic from
// cpu_alu.h). Entries that describe the same instruction share a handler.
#include <array>
#include <cstdio>
#include <utility>

#include "cpu.h"
#include "cpu_alu.h"
#include "cpu_table.h"
#include "host.h"
#include "hooks.h"

namespace {

using namespace cpu_table;

// ---- operands and effective addresses ------------------------------------------

// Operand bytes are read straight from the image; past $FFFF they wrap to $0000.
inline uint8_t operand(uint16_t pc, unsigned k) { return memory[uint16_t(pc + k)]; }
inline uint16_t operand_word(uint16_t pc) { return uint16_t(operand(pc, 1) | operand(pc, 2) << 8); }

// A pointer in page 0 takes its high byte from the following byte without
// wrapping, so a pointer at $FF reaches into $0100.
inline uint16_t zero_page_word(unsigned p) { return uint16_t(memory[p] | memory[p + 1] << 8); }

struct Address {
    uint16_t ea;    // effective address
    uint16_t base;  // address before indexing (for the page-crossing rule)
};

template <Mode mode>
inline Address effective(uint16_t pc) {
    if constexpr (mode == ZP) {
        uint16_t a = operand(pc, 1);
        return {a, a};
    } else if constexpr (mode == ZPX) {
        uint16_t a = uint8_t(operand(pc, 1) + Register.X);
        return {a, a};
    } else if constexpr (mode == ZPY) {
        uint16_t a = uint8_t(operand(pc, 1) + Register.Y);
        return {a, a};
    } else if constexpr (mode == ABS) {
        uint16_t a = operand_word(pc);
        return {a, a};
    } else if constexpr (mode == ABX) {
        uint16_t base = operand_word(pc);
        return {uint16_t(base + Register.X), base};
    } else if constexpr (mode == ABY) {
        uint16_t base = operand_word(pc);
        return {uint16_t(base + Register.Y), base};
    } else if constexpr (mode == IZX) {
        uint16_t a = zero_page_word(uint8_t(operand(pc, 1) + Register.X));
        return {a, a};
    } else {
        static_assert(mode == IZY);
        uint16_t base = zero_page_word(operand(pc, 1));
        return {uint16_t(base + Register.Y), base};
    }
}

// ---- access paths ------------------------------------------------------------------

template <bool bus>
inline uint8_t load(uint16_t a) {
    if constexpr (bus) return READMEM(a);
    else return memory[a];
}

template <bool bus>
inline void store(uint16_t a, uint8_t v) {
    if constexpr (bus) WRITMEM(a, v);
    else memory[a] = v;
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

// ---- flags -------------------------------------------------------------------------

inline void set_nz(uint8_t v) {
    Flags[FLAG_N] = v >> 7;
    Flags[FLAG_Z] = v == 0;
}

inline void set_nzc(const AluResult& r) {
    Flags[FLAG_N] = r.n;
    Flags[FLAG_Z] = r.z;
    Flags[FLAG_C] = r.c;
}

inline void set_nzcv(const AluResult& r) {
    set_nzc(r);
    Flags[FLAG_V] = r.v;
}

// P as PHP and BRK push it: bit 4 set whatever the B entry holds.
inline uint8_t pushed_status() { return uint8_t(compose_p() | 0x10); }

// P as PLP and RTI pull it; bit 5 always reads back as 1.
inline void pull_status(bool from_rti) {
    uint8_t p = pull_byte();
    Flags[FLAG_C] = p & 1;
    Flags[FLAG_Z] = p >> 1 & 1;
    Flags[FLAG_I] = p >> 2 & 1;
    Flags[FLAG_D] = p >> 3 & 1;
    Flags[FLAG_B] = from_rti ? 1 : p >> 4 & 1;
    Flags[FLAG_5] = 1;
    Flags[FLAG_V] = p >> 6 & 1;
    Flags[FLAG_N] = p >> 7;
}

[[gnu::cold, gnu::noinline]] void announce(uint16_t pc) {
    std::printf("!! Illegal Opcode %x at %x used !!\n", unsigned(memory[pc]), unsigned(pc));
}

// ---- operations ----------------------------------------------------------------------

// Instructions that consume an operand value.
template <Op op>
inline void read_op(uint8_t v) {
    uint8_t a = Register.A;
    if constexpr (op == LDA) set_nz(Register.A = v);
    else if constexpr (op == LDX) set_nz(Register.X = v);
    else if constexpr (op == LDY) set_nz(Register.Y = v);
    else if constexpr (op == LAX) set_nz(Register.A = Register.X = v);
    else if constexpr (op == LAS) set_nz(Register.A = Register.X = Register.SP = uint8_t(v & Register.SP));
    else if constexpr (op == ORA) set_nz(Register.A = uint8_t(a | v));
    else if constexpr (op == AND) set_nz(Register.A = uint8_t(a & v));
    else if constexpr (op == EOR) set_nz(Register.A = uint8_t(a ^ v));
    else if constexpr (op == ADC || op == SBC) {
        AluResult r = op == ADC ? adc(a, v, Flags[FLAG_C], Flags[FLAG_D]) : sbc(a, v, Flags[FLAG_C], Flags[FLAG_D]);
        Register.A = r.value;
        set_nzcv(r);
    } else if constexpr (op == CMP) set_nzc(compare(a, v));
    else if constexpr (op == CPX) set_nzc(compare(Register.X, v));
    else if constexpr (op == CPY) set_nzc(compare(Register.Y, v));
    else if constexpr (op == BIT) {
        Flags[FLAG_Z] = (a & v) == 0;
        Flags[FLAG_N] = v >> 7;
        Flags[FLAG_V] = v >> 6 & 1;
    } else if constexpr (op == ANC) {
        set_nz(Register.A = uint8_t(a & v));
        Flags[FLAG_C] = Flags[FLAG_N];
    } else if constexpr (op == ALR) {
        uint8_t t = a & v;
        Flags[FLAG_C] = t & 1;
        set_nz(Register.A = uint8_t(t >> 1));
    } else if constexpr (op == ARR) {
        AluResult r = arr(a, v, Flags[FLAG_C], Flags[FLAG_D]);
        Register.A = r.value;
        set_nzcv(r);
    } else if constexpr (op == XAA) set_nz(Register.A = uint8_t((a | 0xEE) & Register.X & v));
    else if constexpr (op == LXA) set_nz(Register.A = Register.X = uint8_t((a | 0xEE) & v));
    else if constexpr (op == AXS) {
        AluResult r = axs(a, Register.X, v);
        Register.X = r.value;
        set_nzc(r);
    } else static_assert(op == XNOP, "not a reading instruction");  // the value is dropped
}

// The value a store writes; `h` is the H byte of TAS, SHX, SHY and AHX.
template <Op op>
inline uint8_t store_value(uint8_t h) {
    if constexpr (op == STA) return Register.A;
    else if constexpr (op == STX) return Register.X;
    else if constexpr (op == STY) return Register.Y;
    else if constexpr (op == SAX) return Register.A & Register.X;
    else if constexpr (op == SHY) return Register.Y & uint8_t(h + 1);
    else if constexpr (op == SHX) return Register.X & uint8_t(h + 1);
    else if constexpr (op == AHX) return Register.A & Register.X & uint8_t(h + 1);
    else {
        static_assert(op == TAS, "not a storing instruction");
        Register.SP = Register.A & Register.X;
        return Register.SP & uint8_t(h + 1);
    }
}

// The modify step of a read-modify-write: returns the value written back.
// `carry_source` supplies the new carry of the rotates.
template <Op op>
inline uint8_t modify(uint8_t m, uint8_t carry_source) {
    const uint8_t c = Flags[FLAG_C];
    if constexpr (op == ASL || op == LSR || op == ROL || op == ROR) {
        AluResult r = op == ASL ? asl(m) : op == LSR ? lsr(m) : op == ROL ? rol(m, c, carry_source) : ror(m, c, carry_source);
        set_nzc(r);
        return r.value;
    } else if constexpr (op == INC || op == DEC) {
        uint8_t v = uint8_t(op == INC ? m + 1 : m - 1);
        set_nz(v);
        return v;
    } else if constexpr (op == SLO || op == RLA || op == SRE) {
        AluResult r = op == SLO ? asl(m) : op == RLA ? rol(m, c, carry_source) : lsr(m);
        Flags[FLAG_C] = r.c;
        uint8_t a = Register.A;
        set_nz(Register.A = uint8_t(op == SLO ? a | r.value : op == RLA ? a & r.value : a ^ r.value));
        return r.value;
    } else if constexpr (op == RRA) {
        AluResult r = ror(m, c, carry_source);
        AluResult s = adc(Register.A, r.value, r.c, Flags[FLAG_D]);
        Register.A = s.value;
        set_nzcv(s);
        return r.value;
    } else if constexpr (op == DCP) {
        uint8_t v = uint8_t(m - 1);
        set_nzc(compare(Register.A, v));
        return v;
    } else {
        static_assert(op == ISC, "not a read-modify-write instruction");
        uint8_t v = uint8_t(m + 1);
        AluResult s = sbc(Register.A, v, c, Flags[FLAG_D]);
        Register.A = s.value;
        set_nzcv(s);
        return v;
    }
}

// Single-byte instructions and the stack, flow and halt instructions.
// Returns false for HLT, which assigns no cycle count.
template <Op op>
inline bool implied(uint16_t pc) {
    uint16_t next = uint16_t(pc + 1);
    if constexpr (op == BRK || op == JSR) {
        // Pushes the address of the instruction's last byte.
        uint16_t ret = uint16_t(pc + 2);
        push_byte(uint8_t(ret >> 8));
        push_byte(uint8_t(ret));
        if constexpr (op == BRK) {
            Flags[FLAG_B] = 1;
            push_byte(pushed_status());
            Flags[FLAG_I] = 1;
            next = uint16_t(memory[0xFFFE] | memory[0xFFFF] << 8);
        } else {
            next = operand_word(pc);  // read after the pushes
        }
    } else if constexpr (op == RTS) {
        uint8_t lo = pull_byte();
        next = uint16_t((lo | pull_byte() << 8) + 1);
    } else if constexpr (op == RTI) {
        pull_status(true);
        uint8_t lo = pull_byte();
        next = uint16_t(lo | pull_byte() << 8);
    } else if constexpr (op == JMP) {
        next = operand_word(pc);
    } else if constexpr (op == PHA) push_byte(Register.A);
    else if constexpr (op == PHP) push_byte(pushed_status());
    else if constexpr (op == PLA) set_nz(Register.A = pull_byte());
    else if constexpr (op == PLP) pull_status(false);
    else if constexpr (op == CLC) Flags[FLAG_C] = 0;
    else if constexpr (op == SEC) Flags[FLAG_C] = 1;
    else if constexpr (op == CLI) Flags[FLAG_I] = 0;
    else if constexpr (op == SEI) Flags[FLAG_I] = 1;
    else if constexpr (op == CLD) Flags[FLAG_D] = 0;
    else if constexpr (op == SED) Flags[FLAG_D] = 1;
    else if constexpr (op == CLV) Flags[FLAG_V] = 0;
    else if constexpr (op == TAX) set_nz(Register.X = Register.A);
    else if constexpr (op == TAY) set_nz(Register.Y = Register.A);
    else if constexpr (op == TXA) set_nz(Register.A = Register.X);
    else if constexpr (op == TYA) set_nz(Register.A = Register.Y);
    else if constexpr (op == TSX) set_nz(Register.X = Register.SP);
    else if constexpr (op == TXS) Register.SP = Register.X;
    else if constexpr (op == INX) set_nz(++Register.X);
    else if constexpr (op == INY) set_nz(++Register.Y);
    else if constexpr (op == DEX) set_nz(--Register.X);
    else if constexpr (op == DEY) set_nz(--Register.Y);
    else if constexpr (op == HLT) {
        show_halt_dialog();
        Register.PC = next;
        return false;
    } else static_assert(op == NOP || op == XNOP, "not an implied instruction");
    Register.PC = next;
    return true;
}

template <Op op>
constexpr int branch_flag() {
    if constexpr (op == BPL || op == BMI) return FLAG_N;
    else if constexpr (op == BVC || op == BVS) return FLAG_V;
    else if constexpr (op == BCC || op == BCS) return FLAG_C;
    else return FLAG_Z;
}

// The crossing is judged from the offset byte's address, not from the
// address of the next instruction.
template <Op op>
inline void branch(uint16_t pc) {
    constexpr bool when_set = op == BMI || op == BVS || op == BCS || op == BEQ;
    uint16_t offset_at = uint16_t(pc + 1);
    if ((Flags[branch_flag<op>()] != 0) != when_set) {
        Register.PC = uint16_t(pc + 2);
        cycles = 2;
        return;
    }
    uint16_t target = uint16_t(pc + 2 + int8_t(memory[offset_at]));
    Register.PC = target;
    cycles = ((target ^ offset_at) & 0xFF00) ? 4 : 3;
}

// JMP (abs). A pointer at $xxFF takes its high byte from the start of the
// same page; the chip still reads the byte after it first, so that read
// happens, with its side effects, and is dropped.
inline void jump_indirect(uint16_t pc) {
    uint16_t ptr = operand_word(pc);
    uint8_t lo = READMEM(ptr);
    uint8_t hi = READMEM(uint16_t(ptr + 1));
    if ((ptr & 0xFF) == 0xFF) hi = READMEM(ptr & 0xFF00);
    Register.PC = uint16_t(lo | hi << 8);
}

// ---- the generated handler --------------------------------------------------------------

template <Op op, Mode mode, Access acc, uint8_t cyc>
void run() {
    const uint16_t pc = Register.PC;
    if constexpr (announced(op)) announce(pc);

    if constexpr (is_branch(op)) {
        branch<op>(pc);
    } else if constexpr (op == JMP && mode == IND) {
        jump_indirect(pc);
        cycles = cyc;
    } else if constexpr (mode == IMP || op == JMP || op == JSR) {
        if (implied<op>(pc)) cycles = cyc;
    } else if constexpr (mode == ACC) {
        Register.A = modify<op>(Register.A, Register.A);
        Register.PC = uint16_t(pc + 1);
        cycles = cyc;
    } else if constexpr (mode == IMM) {
        if constexpr (acc == RI) read_op<op>(READMEM(uint16_t(pc + 1)));
        else if constexpr (acc == R) read_op<op>(operand(pc, 1));
        Register.PC = uint16_t(pc + 2);
        cycles = cyc;
    } else {
        const Address a = effective<mode>(pc);
        constexpr bool bus = !in_zero_page(mode);
        int extra = 0;
        if constexpr (acc == R) {
            read_op<op>(load<bus>(a.ea));
            if constexpr (page_penalty(Entry{op, mode, acc, cyc})) extra = ((a.ea ^ a.base) & 0xFF00) != 0;
        } else if constexpr (acc == W || acc == Wd) {
            store<bus && acc == W>(a.ea, store_value<op>(0));
        } else if constexpr (acc == WH) {
            // H is the base's high byte, fetched through READMEM from where it sits.
            uint16_t h_at = mode == IZY ? uint16_t(operand(pc, 1) + 1) : uint16_t(pc + 2);
            uint8_t h = READMEM(h_at);
            WRITMEM(a.ea, store_value<op>(h));
        } else if constexpr (acc != N) {
            constexpr RmwPath path = rmw_path(acc, mode);
            uint8_t m = load<path.read_bus>(a.ea);
            uint8_t carry_source = m;
            // The chip reads the operand again; only the carry comes from that read.
            if constexpr (path.carry == CarryRead::BUS) carry_source = READMEM(a.ea);
            else if constexpr (path.carry == CarryRead::DIRECT) carry_source = memory[a.ea];
            store<path.write_bus>(a.ea, modify<op>(m, carry_source));
        }
        Register.PC = uint16_t(pc + length(mode));
        cycles = cyc + extra;
    }
}

template <size_t... I>
constexpr std::array<InstructionHandler, 256> make_handlers(std::index_sequence<I...>) {
    return {&run<OPCODES[I].op, OPCODES[I].mode, OPCODES[I].access, OPCODES[I].cycles>...};
}

constexpr std::array<InstructionHandler, 256> HANDLERS = make_handlers(std::make_index_sequence<256>());

// The kernal traps share a halting opcode: anywhere else it halts as before.
void trap_or_halt() {
    if (!run_kernal_trap()) HANDLERS[TRAP_OPCODE]();
}

constexpr std::array<InstructionHandler, 256> with_trap(std::array<InstructionHandler, 256> handlers) {
    handlers[TRAP_OPCODE] = trap_or_halt;
    return handlers;
}
static_assert(OPCODES[TRAP_OPCODE].op == HLT, "the trap opcode must be one that halts");

}  // namespace

extern constexpr std::array<InstructionHandler, 256> instruction_handlers = with_trap(HANDLERS);
