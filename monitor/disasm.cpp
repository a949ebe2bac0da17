// Disassembly and assembly from the processor's own opcode table, so that
// the monitor shows exactly the instruction the processor runs.
#include "disasm.h"

#include <cctype>
#include <cstdio>

#include "../core/cpu_table.h"

using namespace cpu_table;

namespace {

// In the order of cpu_table::Op.
constexpr const char* OP_NAMES[] = {
    "ADC", "AND", "ASL", "BCC", "BCS", "BEQ", "BIT", "BMI", "BNE", "BPL", "BRK", "BVC", "BVS", "CLC", "CLD",
    "CLI", "CLV", "CMP", "CPX", "CPY", "DEC", "DEX", "DEY", "EOR", "INC", "INX", "INY", "JMP", "JSR", "LDA",
    "LDX", "LDY", "LSR", "NOP", "ORA", "PHA", "PHP", "PLA", "PLP", "ROL", "ROR", "RTI", "RTS", "SBC", "SEC",
    "SED", "SEI", "STA", "STX", "STY", "TAX", "TAY", "TSX", "TXA", "TXS", "TYA", "SLO", "RLA", "SRE", "RRA",
    "DCP", "ISC", "SAX", "LAX", "LAS", "AHX", "TAS", "SHX", "SHY", "ANC", "ALR", "ARR", "XAA", "LXA", "AXS",
    "NOP", "JAM",
};
static_assert(sizeof OP_NAMES / sizeof OP_NAMES[0] == size_t(Op::HLT) + 1);

// Other names the opcode documents use for the same instructions.
struct Alias {
    const char *alias, *name;
};
constexpr Alias ALIASES[] = {{"ISB", "ISC"}, {"DCM", "DCP"}, {"SBX", "AXS"}, {"SHA", "AHX"}, {"ANE", "XAA"},
                             {"ASR", "ALR"}, {"LSE", "SRE"}, {"AAX", "SAX"}, {"KIL", "JAM"}, {"HLT", "JAM"},
                             {"XAS", "SHX"}, {"SAY", "SHY"}, {"LAR", "LAS"}};

std::string hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "$%0*X", digits, value);
    return text;
}

std::string address_text(uint16_t addr, int digits, const AddressNamer& name) {
    if (name) {
        std::string label = name(addr);
        if (!label.empty()) return label;
    }
    return hex(addr, digits);
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t from = s.find_first_not_of(" \t"), to = s.find_last_not_of(" \t");
    return from == std::string::npos ? "" : s.substr(from, to - from + 1);
}

// An operand's shape: the modes its spelling allows and the value inside.
struct OperandShape {
    Mode modes[3];
    unsigned count;
    std::string value;  // empty for none
};

bool strip_suffix(std::string& s, const char* suffix) {
    const std::string u = upper(s);
    const std::string x = suffix;
    if (u.size() < x.size() || u.compare(u.size() - x.size(), x.size(), x) != 0) return false;
    s = trim(s.substr(0, s.size() - x.size()));
    return true;
}

OperandShape shape_of(std::string op) {
    op = trim(op);
    if (op.empty()) return {{IMP, ACC}, 2, ""};
    if (upper(op) == "A") return {{ACC}, 1, ""};
    if (op[0] == '#') return {{IMM}, 1, trim(op.substr(1))};
    if (op[0] == '(') {
        std::string inner = op.substr(1);
        if (strip_suffix(inner, ",X)")) return {{IZX}, 1, inner};
        if (strip_suffix(inner, "),Y")) return {{IZY}, 1, inner};
        if (strip_suffix(inner, ")")) return {{IND}, 1, inner};
        return {{}, 0, ""};
    }
    if (strip_suffix(op, ",X")) return {{ZPX, ABX}, 2, op};
    if (strip_suffix(op, ",Y")) return {{ZPY, ABY}, 2, op};
    return {{ZP, ABS, REL}, 3, op};
}

// The opcode for a name and mode: the documented instruction first, then
// the first undocumented one.
std::optional<uint8_t> find_opcode(const std::string& name, Mode mode) {
    for (int pass = 0; pass < 2; pass++)
        for (unsigned code = 0; code < 256; code++) {
            const Entry& e = OPCODES[code];
            if ((e.op >= Op::SLO) != (pass == 1)) continue;
            if (name == OP_NAMES[size_t(e.op)] && e.mode == mode) return uint8_t(code);
        }
    return std::nullopt;
}

bool known_name(const std::string& name) {
    for (const char* n : OP_NAMES)
        if (name == n) return true;
    return false;
}

}  // namespace

const char* opcode_name(uint8_t opcode) { return OP_NAMES[size_t(OPCODES[opcode].op)]; }

Disassembly disassemble(const uint8_t* bytes, uint16_t addr, const AddressNamer& name) {
    const Entry& e = OPCODES[bytes[addr]];
    const uint8_t lo = bytes[uint16_t(addr + 1)], hi = bytes[uint16_t(addr + 2)];
    const uint16_t word = uint16_t(lo | hi << 8);
    std::string text = OP_NAMES[size_t(e.op)];
    switch (e.mode) {
    case IMP: break;
    case ACC: text += " A"; break;
    case IMM: text += " #" + hex(lo, 2); break;
    case ZP: text += " " + address_text(lo, 2, name); break;
    case ZPX: text += " " + address_text(lo, 2, name) + ",X"; break;
    case ZPY: text += " " + address_text(lo, 2, name) + ",Y"; break;
    case ABS: text += " " + address_text(word, 4, name); break;
    case ABX: text += " " + address_text(word, 4, name) + ",X"; break;
    case ABY: text += " " + address_text(word, 4, name) + ",Y"; break;
    case IZX: text += " (" + address_text(lo, 2, name) + ",X)"; break;
    case IZY: text += " (" + address_text(lo, 2, name) + "),Y"; break;
    case IND: text += " (" + address_text(word, 4, name) + ")"; break;
    case REL: text += " " + address_text(uint16_t(addr + 2 + int8_t(lo)), 4, name); break;
    }
    return {length(e.mode), text};
}

std::optional<Assembled> assemble(const std::string& line, uint16_t addr, const ValueReader& value_of,
                                  std::string& error) {
    const std::string text = trim(line);
    const size_t space = text.find_first_of(" \t");
    std::string name = upper(text.substr(0, space));
    const std::string operand = space == std::string::npos ? "" : text.substr(space + 1);
    for (const Alias& a : ALIASES)
        if (name == a.alias) name = a.name;
    if (!known_name(name)) {
        error = "unknown instruction " + text.substr(0, space);
        return std::nullopt;
    }
    const OperandShape shape = shape_of(operand);
    if (shape.count == 0) {
        error = "bad operand " + trim(operand);
        return std::nullopt;
    }
    std::optional<uint16_t> value;
    if (!shape.value.empty()) {
        value = value_of(shape.value);
        if (!value) {
            error = "bad value " + shape.value;
            return std::nullopt;
        }
    }
    for (unsigned i = 0; i < shape.count; i++) {
        const Mode mode = shape.modes[i];
        const unsigned size = length(mode);
        // A value above $FF does not fit a zero-page or immediate operand.
        if (value && (mode == IMM || in_zero_page(mode) || mode == IZX || mode == IZY) && *value > 0xFF) continue;
        const std::optional<uint8_t> code = find_opcode(name, mode);
        if (!code) continue;
        Assembled out{{*code, 0, 0}, size};
        if (mode == REL) {
            const int offset = int(value.value_or(0)) - int(uint16_t(addr + 2));
            if (offset < -128 || offset > 127) {
                error = "branch out of range";
                return std::nullopt;
            }
            out.bytes[1] = uint8_t(offset);
        } else if (size >= 2) {
            out.bytes[1] = uint8_t(*value);
            out.bytes[2] = uint8_t(*value >> 8);
        }
        return out;
    }
    error = name + " has no such addressing mode";
    return std::nullopt;
}
