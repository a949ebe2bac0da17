// The VIC: register decoding, raster and light-pen reads, sound forwarding
// and the line renderer.
#include "vic.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "cpu_table.h"
#include "host.h"
#include "memory.h"
#include "tarvikon.h"

VicChip Vic;
FrameGeometry Frame;
uint16_t vidpoint = 0, colpoint = 0x9400, charaddr = 0x8000;
uint8_t doublesize = 8;
uint32_t bordpixel = 0, backpix = 0, auxpix = 0;
// The colours' light, in colour-code order; the host fills in the pixels.
VicColor vic_colors[VIC_COLOR_COUNT] = {
    {0, 0, 0, 0, 0},             {59000, 59000, 59000, 0, 0}, {65535, 12000, 12000, 0, 0},
    {0, 56000, 56000, 0, 0},     {65535, 10000, 65535, 0, 0}, {0, 57000, 0, 0, 0},
    {10000, 20000, 60000, 0, 0}, {62000, 62000, 0, 0, 0},     {65535, 20000, 10000, 0, 0},
    {65535, 35000, 25000, 0, 0}, {65535, 25000, 25000, 0, 0}, {15000, 65535, 65535, 0, 0},
    {65535, 35000, 55000, 0, 0}, {0, 65535, 25000, 0, 0},     {45000, 50000, 65535, 0, 0},
    {65535, 65535, 0, 0, 0},     {53000, 53000, 53000, 0, 0}, {65535, 65535, 65535, 0, 0},
};
uint8_t frame_interlaced = 0;
uint8_t field_odd = 0, field_extra = 0;
uint8_t vic_pages[0x20];
DrawnPart vic_drawn;

namespace {

constexpr uint16_t MAX_LEFT_ORIGIN = 60;  // in units of 4 VIC pixels
constexpr uint16_t NTSC_MAX_COLUMNS = 31, PAL_MAX_COLUMNS = 32;
constexpr uint16_t NTSC_MAX_ROWS2 = 59, PAL_MAX_ROWS2 = 71;  // twice the rows
constexpr uint8_t COLUMNS_ADDRESS_BIT = 0x80;                  // $9002 bit 7
constexpr uint8_t ROWS_DOUBLE_HEIGHT = 0x01;                   // $9003 bit 0
constexpr uint8_t COLORS_NORMAL = 0x08;                        // $900F bit 3: 0 reverses the characters
constexpr uint8_t CHARGEN_IN_RAM = 0x08;                       // $9005 bit 3
constexpr uint8_t COLOR_MULTI = 0x08;                          // colour RAM bit 3
constexpr uint8_t HORIGIN_INTERLACE = 0x80;                    // $9000 bit 7

// Beam timing, the same on both chips: four pixels per processor cycle, cell
// 0 of a line put out in its cycle BEAM_LEAD, so that the horizontal blank
// (cells past the visible ones, then cycles 0 to 6) spans the moment the
// raster line counts on. A register write shows from the cycle after the
// one it is made in.
constexpr unsigned PIXELS_PER_CYCLE = 4;
constexpr unsigned BEAM_LEAD = 7;
constexpr unsigned WRITE_DELAY = 1;

// The cycle of an instruction, counted from 0, in which it makes its last
// bus access: stores and read-modify-write write back then, loads read then
// (one cycle early when an indexed load crosses a page).
constexpr std::array<uint8_t, 256> LAST_ACCESS = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned op = 0; op < 256; op++) {
        const unsigned n = cpu_table::OPCODES[op].cycles;  // 0 for the halt opcodes
        t[op] = uint8_t(n ? n - 1 : 0);
    }
    return t;
}();
inline unsigned access_cycle() { return line_cycles + LAST_ACCESS[memory[Register.PC]]; }

// The beam at the current instruction's bus access: its raster line and
// the cycle into that line. Late in an instruction that began at the end of
// a line, it is already on the next one.
struct Beam {
    unsigned line, cycle;
};
Beam beam_at_access() {
    Beam b{raster, access_cycle()};
    if (b.cycle < scanline) return b;
    b.cycle -= scanline;
    b.line = b.line + 1 > last_line + field_extra ? 0 : b.line + 1;
    return b;
}

unsigned beam_line() { return beam_at_access().line; }

}  // namespace

unsigned raster_value_holds() {
    const Beam b = beam_at_access();
    // It reads line / 2, which changes where the next even line or the next field begins.
    const unsigned change = std::min((b.line | 1) + 1, last_line + field_extra + 1);
    return (change - b.line) * scanline - b.cycle - 1;
}

namespace {

// Sound message code of each sound register, $900A-$900E.
constexpr uint8_t SOUND_CODE[5] = {1, 2, 3, 4, 0};

// The VIC sees its own 16 KB: of the processor's map, $2000-$3FFF folds onto
// $8000-$9FFF, $4000-$7FFF onto $0000-$3FFF and $A000-$FFFF onto $0000-$5FFF.
// Adding these per-block offsets is the same as adding $6000 to $2000-$7FFF,
// then $6000 again to whatever is above $9FFF.
constexpr uint16_t VIC_WRAP[16] = {0,      0,      0x6000, 0x6000, 0xC000, 0xC000, 0xC000, 0xC000,
                                   0,      0,      0x6000, 0x6000, 0x6000, 0x6000, 0x6000, 0x6000};
inline uint16_t vic_address(uint16_t a) { return uint16_t(a + VIC_WRAP[a >> 12]); }

inline uint32_t color_pixel(unsigned code) { return vic_colors[code].double_pixel; }

// Bit patterns as cell masks: cell k (left to right) is all ones when bit
// 7 - k of the pattern is set. Built in cell order, so copying a row of
// eight into two 64-bit words keeps each cell in its place on any byte order.
struct PatternMasks {
    uint16_t cells[256][8];
    PatternMasks() {
        for (unsigned p = 0; p < 256; p++)
            for (unsigned k = 0; k < 8; k++) cells[p][k] = (p >> (7 - k)) & 1 ? 0xFFFF : 0;
    }
};
const PatternMasks pattern_masks;

inline uint64_t broadcast(uint32_t double_pixel) { return uint64_t(uint16_t(double_pixel)) * 0x0001000100010001ull; }

// Fills cells [from, to) of a line, eight cells per store where it can.
inline void fill_cells(uint8_t* line, unsigned from, unsigned to, uint32_t double_pixel) {
    if (to > FRAME_CELLS) to = FRAME_CELLS;
    const uint64_t four = broadcast(double_pixel);
    const uint64_t eight[2] = {four, four};
    unsigned k = from;
    for (; k + 8 <= to; k += 8) std::memcpy(line + 2 * k, eight, 16);
    for (; k < to; k++) std::memcpy(line + 2 * k, &four, 2);
}

void mark_pages(unsigned from, unsigned length) {
    if (length == 0) return;
    for (unsigned page = from >> 8; page < 0x20 && page <= (from + length - 1) >> 8; page++) vic_pages[page] = 1;
}

// The whole screen matrix as far as the rows reach, and the character set.
void watch_vic_pages() {
    std::memset(vic_pages, 0, sizeof vic_pages);
    mark_pages(vidpoint, Frame.columns * (Frame.text_height / doublesize + 1u));
    mark_pages(charaddr, 256u * doublesize);
}

void decode_columns(uint8_t v) {
    uint16_t columns = v & 0x7F;
    uint16_t cap = scanline == NTSC_SCANLINE ? NTSC_MAX_COLUMNS : PAL_MAX_COLUMNS;
    Frame.columns = columns > cap ? cap : columns;
    Frame.text_width = uint16_t(8 * Frame.columns);
    colpoint = uint16_t(COLOR_RAM_START + (v & COLUMNS_ADDRESS_BIT) * 4);
    vidpoint = uint16_t((v & COLUMNS_ADDRESS_BIT) * 4 + (*Vic.reg[VIC_ADDRESSES] & 0x70) * 64);
}

void decode_rows(uint8_t v) {
    uint16_t rows2 = v & 0x7E;
    uint16_t cap = scanline == NTSC_SCANLINE ? NTSC_MAX_ROWS2 : PAL_MAX_ROWS2;
    if (rows2 > cap) rows2 = cap;
    if (v & ROWS_DOUBLE_HEIGHT) {
        doublesize = 16;
        uint32_t height = 8u * rows2;
        Frame.text_height = uint16_t(height > last_line ? last_line : height);
    } else {
        doublesize = 8;
        Frame.text_height = uint16_t(4 * rows2);
    }
}

void decode_addresses(uint8_t v) {
    vidpoint = uint16_t((*Vic.reg[VIC_COLUMNS] & COLUMNS_ADDRESS_BIT) * 4 + (v & 0x70) * 64);
    charaddr = uint16_t((v & 7) * 0x400 + ((v & CHARGEN_IN_RAM) ? 0 : 0x8000));
}

bool vic_write(uint16_t& addr, uint8_t& value) {
    uint8_t v = value;
    const unsigned reg = addr - VIC_BASE;
    if (reg < VIC_BASS || reg > VIC_NOISE) vic_catch_up();  // the voices change no pixel
    switch (reg) {
    case VIC_HORIGIN: {
        uint16_t h = v & 0x7F;
        Frame.left_border = uint16_t(4 * (h > MAX_LEFT_ORIGIN ? MAX_LEFT_ORIGIN : h));
        break;
    }
    case VIC_VORIGIN: Frame.text_top = uint16_t(2 * v); break;
    case VIC_COLUMNS:
        decode_columns(v);
        watch_vic_pages();
        break;
    case VIC_ROWS:
        decode_rows(v);
        watch_vic_pages();
        break;
    case VIC_ADDRESSES:
        decode_addresses(v);
        watch_vic_pages();
        break;
    case VIC_BASS:
    case VIC_ALTO:
    case VIC_SOPRANO:
    case VIC_NOISE: forward_sound(SOUND_CODE[addr - VIC_BASE - VIC_BASS], v); break;
    case VIC_VOLUME:
        auxpix = color_pixel(v >> 4);
        forward_sound(SOUND_CODE[VIC_VOLUME - VIC_BASS], v);
        break;
    case VIC_COLORS:
        bordpixel = color_pixel(v & 7);
        backpix = color_pixel(v >> 4);
        break;
    default: break;
    }
    return true;
}

uint8_t vic_read(uint16_t addr) {
    uint8_t* reg = memory + addr;
    switch (addr - VIC_BASE) {
    case VIC_ROWS: *reg = uint8_t((*reg & 0x7F) | (beam_line() & 1) << 7); break;
    case VIC_RASTER: return uint8_t(beam_line() >> 1);
    case VIC_PEN_X: *reg = Vic.lightpen_x; break;
    case VIC_PEN_Y: *reg = Vic.lightpen_y; break;
    default: break;
    }
    return *reg;
}

constexpr uint8_t READ_HANDLED[] = {VIC_ROWS, VIC_RASTER, VIC_PEN_X, VIC_PEN_Y};
constexpr uint8_t WRITE_HANDLED[] = {VIC_HORIGIN, VIC_VORIGIN, VIC_COLUMNS, VIC_ROWS, VIC_ADDRESSES,
                                     VIC_BASS,    VIC_ALTO,    VIC_SOPRANO, VIC_NOISE, VIC_VOLUME, VIC_COLORS};

}  // namespace

void vic_decode_registers() {
    const uint8_t* reg = memory + VIC_BASE;
    const uint16_t h = reg[VIC_HORIGIN] & 0x7F;
    Frame.left_border = uint16_t(4 * (h > MAX_LEFT_ORIGIN ? MAX_LEFT_ORIGIN : h));
    Frame.text_top = uint16_t(2 * reg[VIC_VORIGIN]);
    decode_columns(reg[VIC_COLUMNS]);
    decode_rows(reg[VIC_ROWS]);
    decode_addresses(reg[VIC_ADDRESSES]);
    watch_vic_pages();
    auxpix = color_pixel(reg[VIC_VOLUME] >> 4);
    bordpixel = color_pixel(reg[VIC_COLORS] & 7);
    backpix = color_pixel(reg[VIC_COLORS] >> 4);
}

void wire_vic() {
    for (unsigned r = 0; r < 16; r++) Vic.reg[r] = memory + VIC_BASE + r;
}

void install_vic_handlers() {
    for (uint8_t reg : READ_HANDLED) io_read[VIC_BASE + reg - IO_BASE] = vic_read;
    for (uint8_t reg : WRITE_HANDLED) io_write[VIC_BASE + reg - IO_BASE] = vic_write;
}

void next_field() {
    if (scanline != NTSC_SCANLINE || !(*Vic.reg[VIC_HORIGIN] & HORIGIN_INTERLACE)) {
        frame_interlaced = field_odd = field_extra = 0;
        return;
    }
    frame_interlaced = 1;
    field_odd = field_extra == 2;  // the lower field follows the long one
    field_extra = field_odd ? 1 : 2;
}

namespace {

// What drawing one line of a character row needs, read once per line: the
// frame image stores could otherwise alias the globals and force a reload
// per character.
struct TextLine {
    const uint8_t* mem;
    uint16_t screen, colors, glyph_row;
    bool direct;  // screen, colours and patterns each in one unfolded stretch
    const uint8_t* glyphs;
    uint64_t bg, invert;
    uint64_t diff[8];  // foreground XOR background, per character colour
    uint16_t multi[4];

    TextLine(unsigned columns) {
        mem = memory;
        screen = uint16_t(vidpoint + x);
        colors = uint16_t(colpoint + x);
        glyph_row = uint16_t(charaddr + y);
        // Usually the row's codes and colours do not run past $FFFF and the
        // whole character set lies in one stretch that the VIC sees unfolded,
        // so that plain pointers reach them. A set spans at most two 4 KB
        // blocks, and blocks with the same offset fold onto adjacent ones.
        unsigned set_end = glyph_row + 255u * doublesize;
        direct = (doublesize == 8 || doublesize == 16) && set_end <= 0xFFFF &&
                 VIC_WRAP[glyph_row >> 12] == VIC_WRAP[set_end >> 12] && screen + columns <= 0x10000 &&
                 colors + columns <= 0x10000;
        glyphs = mem + vic_address(glyph_row);
        bg = broadcast(backpix);
        invert = (*Vic.reg[VIC_COLORS] & COLORS_NORMAL) ? 0 : ~uint64_t(0);
        for (unsigned code = 0; code < 8; code++) diff[code] = broadcast(color_pixel(code)) ^ bg;
        multi[0] = uint16_t(backpix);
        multi[1] = uint16_t(bordpixel);
        multi[2] = 0;  // the character colour, per cell
        multi[3] = uint16_t(auxpix);
    }

    // Eight cells as 16 bytes: foreground where the pattern bit is set,
    // background elsewhere (the other way round in reverse mode), or in
    // multicolour two cells per bit pair.
    void draw(uint8_t pattern, uint8_t color, uint8_t* out) const {
        if (!(color & COLOR_MULTI)) {
            uint64_t mask[2];
            std::memcpy(mask, pattern_masks.cells[pattern], sizeof mask);
            const uint64_t d = diff[color & 7];
            const uint64_t result[2] = {bg ^ (d & (mask[0] ^ invert)), bg ^ (d & (mask[1] ^ invert))};
            std::memcpy(out, result, sizeof result);
            return;
        }
        const uint16_t pair_color[4] = {multi[0], multi[1], uint16_t(diff[color & 7] ^ bg), multi[3]};
        uint16_t result[8];
        for (unsigned pair = 0; pair < 4; pair++)
            result[2 * pair] = result[2 * pair + 1] = pair_color[(pattern >> (6 - 2 * pair)) & 3];
        std::memcpy(out, result, sizeof result);
    }

    // Column c with every address folded and wrapped as the VIC does.
    void draw_column(unsigned c, uint8_t* out) const {
        uint8_t code = mem[uint16_t(screen + c)];
        uint8_t pattern = mem[vic_address(uint16_t(glyph_row + doublesize * code))];
        draw(pattern, mem[uint16_t(colors + c)], out);
    }

    // Columns first to first + count - 1 through the plain pointers;
    // HEIGHT_SHIFT is log2 of the character height.
    template <unsigned HEIGHT_SHIFT>
    void draw_direct(unsigned first, unsigned count, uint8_t* out) const {
        const uint8_t* codes = mem + screen + first;
        const uint8_t* color = mem + colors + first;
        for (unsigned c = 0; c < count; c++, out += 16) draw(glyphs[unsigned(codes[c]) << HEIGHT_SHIFT], color[c], out);
    }

    [[gnu::always_inline]] void draw_columns(unsigned first, unsigned count, uint8_t* out) const {
        if (!direct) {
            for (unsigned c = 0; c < count; c++) draw_column(first + c, out + 16 * c);
        } else if (doublesize == 8) {
            draw_direct<3>(first, count, out);
        } else {
            draw_direct<4>(first, count, out);
        }
    }
};

inline bool in_text_rows(unsigned r) { return r >= Frame.text_top && r < unsigned(Frame.text_top) + Frame.text_height; }

// Cells [from, to) of the text area, which begins at cell `left`; whole
// columns go straight into the line, a column cut by either end through a
// scratch cell row.
[[gnu::always_inline]] inline void draw_text(uint8_t* line, unsigned left, unsigned from, unsigned to) {
    const TextLine text(Frame.columns);
    for (unsigned k = from; k < to;) {
        const unsigned c = (k - left) / 8, start = left + 8 * c;
        if (k == start && start + 8 <= to) {
            const unsigned count = (to - start) / 8;
            text.draw_columns(c, count, line + 2 * start);
            k = start + 8 * count;
        } else {
            uint8_t column[16];
            text.draw_column(c, column);
            const unsigned end = std::min(start + 8, to);
            std::memcpy(line + 2 * k, column + 2 * (k - start), 2 * (end - k));
            k = end;
        }
    }
}

// Cells [from, to) of raster line r from the registers as they are now.
// The text area's cells run past cell 259 when the left border and the text
// width add up to more than a line holds; those cells are clipped, so that
// no line writes into the next one or, on the last line, past the image.
[[gnu::always_inline]] inline void draw_cells(uint8_t* line, unsigned r, unsigned from, unsigned to) {
    const uint32_t border = bordpixel;
    if (!in_text_rows(r)) {
        fill_cells(line, from, to, border);
        return;
    }
    const unsigned left = Frame.left_border;
    const unsigned text_end = std::min(left + Frame.text_width, FRAME_CELLS);
    fill_cells(line, from, std::min(to, left), border);
    const unsigned text_from = std::max(from, left), text_to = std::min(to, text_end);
    if (text_from < text_to) draw_text(line, left, text_from, text_to);
    fill_cells(line, std::max(from, text_end), to, border);
}

// The columns whose cells the beam has reached by cell `to` of a text line.
inline unsigned columns_reached(unsigned to) {
    const unsigned left = Frame.left_border;
    return to <= left ? 0 : std::min<unsigned>(Frame.columns, (to - left + 7) / 8);
}

inline unsigned image_row(unsigned r) { return field_odd ? FRAME_LINES + r : r; }

}  // namespace

void vic_catch_up() {
    if (!frame_drawn() || raster >= FRAME_LINES) return;
    const int shown = int(PIXELS_PER_CYCLE) * (int(access_cycle() + WRITE_DELAY) - int(BEAM_LEAD));
    if (shown <= 0) return;
    const unsigned row = image_row(raster), to = std::min(unsigned(shown), FRAME_CELLS);
    if (vic_drawn.row != row || vic_drawn.frame != frame_count) vic_drawn = {frame_count, uint16_t(row), 0, 0};
    if (to <= vic_drawn.cells) return;
    draw_cells(frame_image + row * FRAME_LINE_BYTES, raster, vic_drawn.cells, to);
    vic_drawn.cells = uint16_t(to);
    if (in_text_rows(raster)) vic_drawn.columns = uint16_t(std::max(columns_reached(to), unsigned(vic_drawn.columns)));
}

void vic_ram_write(uint16_t addr, uint8_t value) {
    if (uint16_t(addr - vidpoint - x) < Frame.columns || uint16_t(addr - charaddr) < 256u * doublesize) vic_catch_up();
    memory[addr] = value;
}

void render_line() {
    const unsigned r = raster;
    if (r >= FRAME_LINES) return;
    const unsigned row = image_row(r);
    uint8_t* const line = frame_image + row * FRAME_LINE_BYTES;
    // The columns fetched on the line: those the beam reached before the
    // count changed, and the current count's when the beam had not yet
    // passed their cells.
    unsigned fetched = Frame.columns;
    if (vic_drawn.cells && vic_drawn.row == row && vic_drawn.frame == frame_count) {
        if (vic_drawn.cells >= Frame.left_border + 8u * Frame.columns) fetched = 0;
        draw_cells(line, r, vic_drawn.cells, FRAME_CELLS);
        fetched = std::max(fetched, unsigned(vic_drawn.columns));
        vic_drawn.cells = vic_drawn.columns = 0;
    } else {
        draw_cells(line, r, 0, FRAME_CELLS);  // the whole line, inlined for constant ends
    }
    if (!in_text_rows(r)) return;
    y++;
    // The next character row starts as many cells on as the VIC fetched on
    // this row's last line, whatever the count holds when the line ends.
    if (y == doublesize) {
        x = uint16_t(x + fetched);
        y = 0;
    }
}
