// Reads the text off a screenshot of the emulator: screen_text <xwd file> <chargen.rom> [scale]
//
// The screenshot is a ZPixmap dump from xwd, of 8 or 32 bits per pixel. A character cell is 8x8 VIC
// pixels, and a VIC pixel is 2x1 host pixels (4x2 doubled). Every cell grid
// offset is tried; a cell whose pixels take exactly two values laid out as a
// glyph of a letter, digit or punctuation mark is that character. The offset that
// reads the most characters wins, and its rows are printed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // one byte per pixel, row by row
    uint8_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

std::vector<uint8_t> slurp(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t be32(const std::vector<uint8_t>& b, size_t word) {
    size_t i = word * 4;
    return uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3];
}

// Header words of an xwd dump (all 32-bit big-endian).
constexpr size_t XWD_HEADER_SIZE = 0, XWD_FORMAT = 2, XWD_WIDTH = 4, XWD_HEIGHT = 5, XWD_BITS_PER_PIXEL = 11,
                 XWD_BYTES_PER_LINE = 12, XWD_NCOLORS = 19;
constexpr uint32_t ZPIXMAP = 2, XWD_COLOR_SIZE = 12;

bool load_xwd(const char* path, Image& img) {
    std::vector<uint8_t> b = slurp(path);
    if (b.size() < 100) return false;
    const uint32_t bits = be32(b, XWD_BITS_PER_PIXEL), bytes = bits / 8;
    if (be32(b, XWD_FORMAT) != ZPIXMAP || (bits != 8 && bits != 32)) return false;
    size_t data = size_t(be32(b, XWD_HEADER_SIZE)) + size_t(be32(b, XWD_NCOLORS)) * XWD_COLOR_SIZE;
    img.width = int(be32(b, XWD_WIDTH));
    img.height = int(be32(b, XWD_HEIGHT));
    size_t line = be32(b, XWD_BYTES_PER_LINE);
    if (line < bytes * size_t(img.width) || data + line * size_t(img.height) > b.size()) return false;
    // Only which pixels are alike matters: each value becomes a number of its own.
    std::unordered_map<uint32_t, uint8_t> numbers;
    img.pixels.resize(size_t(img.width) * img.height);
    for (int y = 0; y < img.height; y++)
        for (int x = 0; x < img.width; x++) {
            uint32_t v = 0;
            for (uint32_t i = 0; i < bytes; i++) v = v << 8 | b[data + line * size_t(y) + bytes * size_t(x) + i];
            img.pixels[size_t(y) * img.width + x] = numbers.emplace(v, uint8_t(numbers.size())).first->second;
        }
    return true;
}

// Screen code (0 to 63) to the character it shows.
char screen_char(int code) {
    if (code == 0) return '@';
    if (code <= 26) return char('A' + code - 1);
    if (code == 27) return '[';
    if (code == 28) return '#';  // the pound sign
    if (code == 29) return ']';
    if (code == 30) return '^';  // up arrow
    if (code == 31) return '_';  // left arrow
    return char(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: screen_text <xwd file> <chargen.rom> [scale]\n");
        return 2;
    }
    Image img;
    if (!load_xwd(argv[1], img)) {
        std::fprintf(stderr, "screen_text: %s is not an 8- or 32-bit ZPixmap xwd dump\n", argv[1]);
        return 2;
    }
    std::vector<uint8_t> rom = slurp(argv[2]);
    if (rom.size() < 1024) {
        std::fprintf(stderr, "screen_text: %s is too short for a character set\n", argv[2]);
        return 2;
    }
    const int scale = argc > 3 ? std::stoi(argv[3]) : 1;
    const int px = 2 * scale, py = scale;  // host pixels per VIC pixel
    const int cw = 8 * px, ch = 8 * py;    // host pixels per character cell

    // Glyph bits, row 0 in the top byte; a reversed character is the same glyph
    // with the colours swapped, so both polarities map to the code.
    std::unordered_map<uint64_t, int> glyphs;
    // Only letters, digits and punctuation: block graphics would also match
    // the edges of the border and the menu bar.
    for (int code = 63; code >= 0; code--) {
        uint64_t bits = 0;
        for (int row = 0; row < 8; row++) bits = bits << 8 | rom[size_t(code) * 8 + row];
        if (bits == 0 || bits == ~uint64_t(0)) continue;  // blank cells read as nothing
        glyphs[bits] = code;
        glyphs[~bits] = code;
    }

    // The glyph a cell shows, or -1. Bit set = pixel differs from the top-left one.
    auto read_cell = [&](int x0, int y0) -> int {
        uint8_t first = img.at(x0, y0), other = first;
        bool two = false;
        uint64_t bits = 0;
        for (int row = 0; row < 8; row++)
            for (int col = 0; col < 8; col++) {
                uint8_t v = img.at(x0 + col * px, y0 + row * py);
                for (int dy = 0; dy < py; dy++)
                    for (int dx = 0; dx < px; dx++)
                        if (img.at(x0 + col * px + dx, y0 + row * py + dy) != v) return -1;
                if (v != first) {
                    if (two && v != other) return -1;
                    two = true;
                    other = v;
                }
                bits = bits << 1 | (v != first);
            }
        auto it = glyphs.find(bits);
        return it == glyphs.end() ? -1 : it->second;
    };

    int best_count = -1;
    std::vector<std::string> best_rows;
    for (int oy = 0; oy < ch; oy++)
        for (int ox = 0; ox < cw; ox++) {
            int count = 0;
            std::vector<std::string> rows;
            for (int y0 = oy; y0 + ch <= img.height; y0 += ch) {
                std::string row;
                for (int x0 = ox; x0 + cw <= img.width; x0 += cw) {
                    int code = read_cell(x0, y0);
                    if (code >= 0) count++;
                    row += code >= 0 ? screen_char(code) : ' ';
                }
                rows.push_back(row);
            }
            if (count > best_count) {
                best_count = count;
                best_rows = rows;
            }
        }
    // Rows without a character are left out, and so is the margin the rows share.
    size_t margin = std::string::npos;
    for (const std::string& row : best_rows)
        if (row.find_first_not_of(' ') != std::string::npos) margin = std::min(margin, row.find_first_not_of(' '));
    for (std::string& row : best_rows) {
        if (row.find_first_not_of(' ') == std::string::npos) continue;
        row.erase(row.find_last_not_of(' ') + 1);
        std::printf("%s\n", row.c_str() + margin);
    }
    return 0;
}
