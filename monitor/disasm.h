// The monitor's disassembler and one-line assembler for every opcode of the
// NMOS 6502, the undocumented ones under the names the common opcode
// documents give them (JAM for the opcodes that halt, NOP for every
// no-operation).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A name for an address in an operand, or empty for none (the label files).
using AddressNamer = std::function<std::string(uint16_t)>;

struct Disassembly {
    unsigned length;   // 1 to 3 bytes
    std::string text;  // "LDA #$01", "JSR print"
};

// The instruction at `addr`, its bytes read from `bytes` (wrapping at $FFFF).
Disassembly disassemble(const uint8_t* bytes, uint16_t addr, const AddressNamer& name = {});

// The mnemonic of an opcode ("LDA", "SLO", "JAM").
const char* opcode_name(uint8_t opcode);

// Assembles one instruction to be placed at `addr`: "lda #$01", "sta $9114",
// "bne $1000", "jmp ($0314)". Numbers are hexadecimal ($ optional), and
// `value_of` reads every other operand word (a label); an error names the
// fault.
struct Assembled {
    uint8_t bytes[3];
    unsigned length;
};
using ValueReader = std::function<std::optional<uint16_t>(const std::string&)>;
std::optional<Assembled> assemble(const std::string& line, uint16_t addr, const ValueReader& value_of,
                                  std::string& error);
