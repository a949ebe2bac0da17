#include "screen_text.h"

#include "memory.h"
#include "vic.h"

namespace {

// Screen codes 64-127 of the upper-case and graphics set, by the shape of
// each glyph; the closest box-drawing, block or legacy-computing character.
constexpr char32_t GRAPHICS[64] = {
    //  0        1        2        3        4        5        6        7
    0x2500,  0x2660,  0x2502,  0x1FB77, 0x1FB76, 0x1FB7A, 0x1FB78, 0x1FB71,  // 64
    0x1FB74, 0x256E,  0x2570,  0x256F,  0x1FB7C, 0x2572,  0x2571,  0x1FB7D,  // 72
    0x1FB7E, 0x25CF,  0x1FB7B, 0x2665,  0x1FB70, 0x256D,  0x2573,  0x25CB,   // 80
    0x2663,  0x1FB75, 0x2666,  0x253C,  0x1FB8C, 0x2502,  0x03C0,  0x25E5,   // 88
    0x00A0,  0x258C,  0x2584,  0x2594,  0x2581,  0x258F,  0x2592,  0x2595,   // 96
    0x1FB8F, 0x25E4,  0x1FB87, 0x251C,  0x2597,  0x2514,  0x2510,  0x2582,   // 104
    0x250C,  0x2534,  0x252C,  0x2524,  0x258E,  0x258D,  0x1FB88, 0x1FB82,  // 112
    0x1FB83, 0x2583,  0x1FB7F, 0x2596,  0x259D,  0x2518,  0x2598,  0x259A,   // 120
};

char32_t screen_code_char(uint8_t code, bool lower_case_set) {
    code &= 0x7F;
    if (code == 0) return '@';
    if (code <= 26) return char32_t((lower_case_set ? 'a' : 'A') + code - 1);
    if (code < 64) {
        constexpr char32_t ARROWS[5] = {'[', 0x00A3, ']', 0x2191, 0x2190};  // [ £ ] ↑ ←
        return code < 32 ? ARROWS[code - 27] : char32_t(code);
    }
    if (lower_case_set) {
        if (code >= 65 && code <= 90) return char32_t('A' + code - 65);
        if (code == 94) return 0x1FB95;  // checkerboard
        if (code == 95) return 0x1FB98;  // diagonal stripes
        if (code == 122) return 0x2713;  // check mark
    }
    return GRAPHICS[code - 64];
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string screen_code_utf8(uint8_t code, bool lower_case_set) {
    std::string out;
    append_utf8(out, screen_code_char(code, lower_case_set));
    return out;
}

std::string screen_text() {
    // The character generator's second kilobyte pair ($8800, $8C00) holds
    // the lower-case set; a set in RAM is read as the upper-case one.
    const bool lower = (charaddr & 0xF800) == 0x8800;
    const unsigned columns = memory[VIC_BASE + VIC_COLUMNS] & 0x7F;
    const unsigned rows = (memory[VIC_BASE + VIC_ROWS] >> 1) & 0x3F;
    std::string text;
    for (unsigned r = 0; r < rows; r++) {
        std::string row;
        size_t kept = 0;
        for (unsigned c = 0; c < columns; c++) {
            const uint8_t code = memory[uint16_t(vidpoint + r * columns + c)];
            const char32_t ch = screen_code_char(code, lower);
            append_utf8(row, ch);
            if (ch != ' ' && ch != 0x00A0) kept = row.size();
        }
        row.resize(kept);
        text += row + '\n';
    }
    return text;
}
