// The processor's arithmetic as pure functions: operands and flags in, a
// result and the new flags out. The instruction handlers in cpu.cpp store
// what each instruction is defined to change; tests call these directly.
#pragma once

#include <cstdint>

// A result byte and the flags an operation produces, each 0 or 1. An
// operation that does not define a flag leaves its field 0; the caller
// stores only the flags the instruction changes.
struct AluResult {
    uint8_t value, c, z, v, n;
};

[[gnu::always_inline]] constexpr uint8_t bit7(unsigned v) { return uint8_t(v >> 7 & 1); }

[[gnu::always_inline]] constexpr AluResult nz(uint8_t v) { return {v, 0, uint8_t(v == 0), 0, bit7(v)}; }

// ADC. Decimal mode follows the NMOS chip: Z comes from the binary sum, N and
// V from the sum after the low digit is adjusted but before the high one.
[[gnu::always_inline]] constexpr AluResult adc(uint8_t a, uint8_t m, uint8_t c, uint8_t d) {
    unsigned sum = unsigned(a) + m + c;
    if (!d) return {uint8_t(sum), uint8_t(sum > 0xFF), uint8_t((sum & 0xFF) == 0), bit7(~(a ^ m) & (a ^ sum)), bit7(sum)};
    AluResult r{};
    r.z = uint8_t((sum & 0xFF) == 0);
    unsigned lo = (a & 0x0Fu) + (m & 0x0Fu) + c;
    unsigned hi = (a >> 4u) + (m >> 4u);
    if (lo > 9) {
        lo += 6;
        hi += 1;
    }
    r.n = uint8_t(hi >> 3 & 1);
    r.v = uint8_t(bit7((hi << 4) ^ a) && !bit7(m ^ a));
    if (hi > 9) hi += 6;
    r.c = uint8_t(hi > 15);
    r.value = uint8_t(hi << 4 | (lo & 0x0F));
    return r;
}

// SBC. Decimal mode takes every flag from the binary difference and only
// forms A from nibbles, with 8-bit intermediates as the NMOS chip does.
[[gnu::always_inline]] constexpr AluResult sbc(uint8_t a, uint8_t m, uint8_t c, uint8_t d) {
    int diff = int(a) - int(m) - (1 - int(c));
    AluResult r{uint8_t(diff), uint8_t(diff >= 0), uint8_t((diff & 0xFF) == 0), bit7((a ^ m) & (a ^ unsigned(diff))),
                bit7(unsigned(diff))};
    if (d) {
        uint8_t lo = uint8_t((a & 0x0F) - (m & 0x0F) - (1 - c));
        uint8_t borrow = (lo & 0x10) ? 1 : 0;
        uint8_t hi = uint8_t((a >> 4) - (m >> 4) - borrow);
        if (borrow) lo = uint8_t(lo - 6);
        if (hi & 0x10) hi = uint8_t(hi - 6);
        r.value = uint8_t(hi << 4 | (lo & 0x0F));
    }
    return r;
}

// CMP, CPX, CPY and the compare half of DCP.
[[gnu::always_inline]] constexpr AluResult compare(uint8_t reg, uint8_t m) {
    uint8_t diff = uint8_t(reg - m);
    return {diff, uint8_t(reg >= m), uint8_t(reg == m), 0, bit7(diff)};
}

// The shift half of the read-modify-write instructions. `carry_source` is
// the value the new carry is taken from; it differs from `m` only where the
// chip reads the operand a second time (ROL and ROR in absolute modes, RLA,
// RRA). The result always comes from `m`.
[[gnu::always_inline]] constexpr AluResult asl(uint8_t m) { return {uint8_t(m << 1), bit7(m), uint8_t(uint8_t(m << 1) == 0), 0, bit7(m << 1)}; }
[[gnu::always_inline]] constexpr AluResult lsr(uint8_t m) { return {uint8_t(m >> 1), uint8_t(m & 1), uint8_t((m >> 1) == 0), 0, 0}; }
[[gnu::always_inline]] constexpr AluResult rol(uint8_t m, uint8_t c, uint8_t carry_source) {
    uint8_t v = uint8_t(m << 1 | c);
    return {v, bit7(carry_source), uint8_t(v == 0), 0, bit7(v)};
}
[[gnu::always_inline]] constexpr AluResult ror(uint8_t m, uint8_t c, uint8_t carry_source) {
    uint8_t v = uint8_t(m >> 1 | c << 7);
    return {v, uint8_t(carry_source & 1), uint8_t(v == 0), 0, bit7(v)};
}

// ARR: AND, then ROR, with the chip's odd flags and its decimal fix-up.
[[gnu::always_inline]] constexpr AluResult arr(uint8_t a, uint8_t imm, uint8_t c, uint8_t d) {
    uint8_t t = a & imm;
    uint8_t r = uint8_t(t >> 1 | c << 7);
    if (!d) return {r, bit7(t), uint8_t(r == 0), uint8_t(bit7(t) ^ (t >> 6 & 1)), bit7(r)};
    AluResult out{};
    out.n = c;
    out.z = uint8_t(r == 0);
    out.v = uint8_t(((t ^ r) >> 6) & 1);
    unsigned low = r & 0x0F;
    if ((t & 0x0F) + (t & 0x01) > 5) low = (low + 6) & 0x0F;
    unsigned high = r >> 4;
    unsigned th = t >> 4;
    if (th + (th & 1) > 5) {
        high += 6;
        out.c = 1;
    }
    out.value = uint8_t(high << 4 | low);
    return out;
}

// AXS: X = (A AND X) - imm, carry as for a compare.
[[gnu::always_inline]] constexpr AluResult axs(uint8_t a, uint8_t x, uint8_t imm) { return compare(uint8_t(a & x), imm); }
