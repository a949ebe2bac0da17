// The disassembler and the one-line assembler: every opcode's text
// assembles back to an instruction with the same text and length, and the
// undocumented ones read as the opcode documents name them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "monitor/commands.h"
#include "monitor/disasm.h"

namespace {

std::optional<uint16_t> hex_value(const std::string& text) { return parse_value(text); }

TEST(Disassembler, EveryOpcodeAssemblesBackToItsOwnText) {
    for (unsigned code = 0; code < 256; code++) {
        std::vector<uint8_t> mem(0x10000);
        mem[0x1000] = uint8_t(code), mem[0x1001] = 0x34, mem[0x1002] = 0x12;
        const Disassembly d = disassemble(mem.data(), 0x1000);
        std::string error;
        const auto a = assemble(d.text, 0x1000, hex_value, error);
        ASSERT_TRUE(a) << d.text << ": " << error;
        EXPECT_EQ(a->length, d.length) << d.text;
        std::vector<uint8_t> again(0x10000);
        std::memcpy(again.data() + 0x1000, a->bytes, a->length);
        EXPECT_EQ(disassemble(again.data(), 0x1000).text, d.text) << "opcode " << code;
    }
}

TEST(Disassembler, NamesModesAndLabels) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    };
    const Case cases[] = {
        {{0xA9, 0x01}, "LDA #$01"},      {{0x6C, 0x14, 0x03}, "JMP ($0314)"}, {{0xB3, 0x10}, "LAX ($10),Y"},
        {{0xCB, 0x10}, "AXS #$10"},      {{0x02}, "JAM"},                     {{0x80, 0x10}, "NOP #$10"},
        {{0xD0, 0xFE}, "BNE $1000"},     {{0x0A}, "ASL A"},                   {{0x9F, 0x00, 0x20}, "AHX $2000,Y"},
        {{0x20, 0xD2, 0xFF}, "JSR chrout"}, {{0xE7, 0x20}, "ISC $20"},       {{0x96, 0x20}, "STX $20,Y"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> mem(0x10000);
        std::memcpy(mem.data() + 0x1000, c.bytes.data(), c.bytes.size());
        const Disassembly d = disassemble(mem.data(), 0x1000, [](uint16_t a) { return a == 0xFFD2 ? "chrout" : ""; });
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.length, c.bytes.size()) << c.text;
    }
}

TEST(Assembler, ChoosesTheShortFormAndReportsFaults) {
    struct Case {
        const char* line;
        std::vector<uint8_t> bytes;  // empty: an error containing `error`
        const char* error;
    };
    const Case cases[] = {
        {"lda $10", {0xA5, 0x10}, ""},      {"lda $0110", {0xAD, 0x10, 0x01}, ""},
        {"nop", {0xEA}, ""},                {"sbc #1", {0xE9, 0x01}, ""},
        {"isb $20", {0xE7, 0x20}, ""},      {"bne $1000", {0xD0, 0xFE}, ""},
        {"asl", {0x0A}, ""},                {"lda ($10", {}, "bad operand"},
        {"foo #1", {}, "unknown instruction"}, {"bne $2000", {}, "branch out of range"},
        {"jsr #1", {}, "no such addressing mode"}, {"lda #$100", {}, "no such addressing mode"},
        {"lda nowhere", {}, "bad value"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto a = assemble(c.line, 0x1000, hex_value, error);
        if (c.bytes.empty()) {
            EXPECT_FALSE(a) << c.line;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.line << ": " << error;
        } else {
            ASSERT_TRUE(a) << c.line << ": " << error;
            EXPECT_EQ(std::vector<uint8_t>(a->bytes, a->bytes + a->length), c.bytes) << c.line;
        }
    }
}

}  // namespace
