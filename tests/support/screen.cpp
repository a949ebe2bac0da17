#include "screen.h"

#include <cstring>
#include <map>

namespace {

constexpr unsigned LINE_BYTES = 520;  // one raster line of the frame image
constexpr unsigned LINE_CELLS = 260;
constexpr int GLYPHS = 256;

int pixel_code(const uint8_t* image, unsigned line, unsigned cell) {
    const uint8_t* p = image + line * LINE_BYTES + 2 * cell;
    return p[0] == p[1] ? p[0] : -1;  // both bytes of a cell are equal
}

}  // namespace

char screen_char(int code) {
    if (code < 0) return '~';
    code &= 0x7F;
    if (code == 0) return '@';
    if (code <= 26) return char('A' + code - 1);
    if (code == 27) return '[';
    if (code == 29) return ']';
    if (code >= 32 && code < 64) return char(code);
    if (code == 96) return ' ';  // shifted space: blank as well
    return '~';
}

std::vector<std::string> ScreenText::rows() const {
    std::vector<std::string> out;
    for (const auto& row : cells) {
        std::string s;
        for (const ScreenCell& c : row) s += screen_char(c.code);
        out.push_back(s);
    }
    return out;
}

bool ScreenText::contains(const std::string& text) const {
    for (const std::string& row : rows())
        if (row.find(text) != std::string::npos) return true;
    return false;
}

ScreenText read_matrix(const uint8_t* memory) {
    ScreenText s;
    uint8_t columns_reg = memory[0x9002], rows_reg = memory[0x9003], address_reg = memory[0x9005];
    unsigned screen = (columns_reg & 0x80) << 2 | (address_reg & 0x70) << 6;
    unsigned color = 0x9400 + ((columns_reg & 0x80) << 2);
    unsigned columns = columns_reg & 0x7F, rows = (rows_reg & 0x7E) >> 1;
    s.border = memory[0x900F] & 7;
    s.background = memory[0x900F] >> 4;
    for (unsigned r = 0; r < rows; r++) {
        std::vector<ScreenCell> row;
        for (unsigned c = 0; c < columns; c++) {
            unsigned i = r * columns + c;
            row.push_back({memory[(screen + i) & 0xFFFF], memory[(color + i) & 0xFFFF] & 7});
        }
        s.cells.push_back(row);
    }
    return s;
}

ScreenText decode_frame(const uint8_t* image, unsigned last_line, const uint8_t* chargen) {
    ScreenText s;
    s.border = pixel_code(image, 0, 0);
    unsigned top = LINE_CELLS, bottom = 0, left = LINE_CELLS, right = 0;
    bool any = false;
    for (unsigned line = 0; line <= last_line; line++)
        for (unsigned k = 0; k < LINE_CELLS; k++) {
            if (pixel_code(image, line, k) == s.border) continue;
            if (!any) top = line;
            any = true;
            bottom = line;
            if (k < left) left = k;
            if (k > right) right = k;
        }
    if (!any) {
        s.error = "no text area: the whole picture is border";
        return s;
    }
    unsigned width = right - left + 1, height = bottom - top + 1;
    if (width % 8 || height % 8) {
        s.error = "text area of " + std::to_string(width) + "x" + std::to_string(height) + " is not whole cells";
        return s;
    }
    s.left = left;
    s.top = top;

    std::map<int, unsigned> counts;
    for (unsigned line = top; line <= bottom; line++)
        for (unsigned k = left; k <= right; k++) counts[pixel_code(image, line, k)]++;
    unsigned best = 0;
    for (auto [code, n] : counts)
        if (n > best) best = n, s.background = code;

    for (unsigned row = 0; row < height / 8; row++) {
        std::vector<ScreenCell> cells;
        for (unsigned col = 0; col < width / 8; col++) {
            ScreenCell cell;
            uint8_t pattern[8];
            bool mixed = false;
            for (unsigned py = 0; py < 8; py++) {
                pattern[py] = 0;
                for (unsigned px = 0; px < 8; px++) {
                    int code = pixel_code(image, top + 8 * row + py, left + 8 * col + px);
                    if (code == s.background) continue;
                    pattern[py] |= uint8_t(0x80 >> px);
                    if (cell.color == -1) cell.color = code;
                    else if (cell.color != code) mixed = true;
                }
            }
            if (!mixed)
                for (int g = 0; g < GLYPHS; g++)
                    if (std::memcmp(chargen + 8 * g, pattern, 8) == 0) {
                        cell.code = g;
                        break;
                    }
            cells.push_back(cell);
        }
        s.cells.push_back(cells);
    }
    return s;
}
