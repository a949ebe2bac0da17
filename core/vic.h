// The VIC (6560 NTSC / 6561 PAL): register decoding and the line renderer.
//
// Register writes are decoded into Frame and the address and colour globals
// below, so that render_line() reads only ready-made values. The picture is
// drawn one raster line at a time into frame_image; a write that changes the
// picture in the middle of a line first lets the line be drawn up to the beam.
#pragma once

#include <cstdint>

#include "tarvikon.h"

constexpr uint16_t VIC_BASE = 0x9000;
enum VicRegister : uint8_t {
    VIC_HORIGIN = 0x0, VIC_VORIGIN = 0x1, VIC_COLUMNS = 0x2, VIC_ROWS = 0x3,
    VIC_RASTER = 0x4, VIC_ADDRESSES = 0x5, VIC_PEN_X = 0x6, VIC_PEN_Y = 0x7,
    VIC_PADDLE_X = 0x8, VIC_PADDLE_Y = 0x9, VIC_BASS = 0xA, VIC_ALTO = 0xB,
    VIC_SOPRANO = 0xC, VIC_NOISE = 0xD, VIC_VOLUME = 0xE, VIC_COLORS = 0xF,
};

struct VicChip {
    uint8_t* reg[16];  // $9000-$900F in memory
    uint8_t lightpen_x;
    uint8_t lightpen_y;
};
extern VicChip Vic;

struct FrameGeometry {
    uint16_t columns;
    uint16_t left_border;
    uint16_t text_top;
    uint16_t text_width;
    uint16_t text_height;
    uint32_t view_left;
};
extern FrameGeometry Frame;

extern uint16_t vidpoint;   // character matrix (screen memory)
extern uint16_t colpoint;   // colour RAM matrix
extern uint16_t charaddr;   // character generator
extern uint8_t doublesize;  // character height: 8 or 16
extern uint32_t bordpixel, backpix, auxpix;

// One emulated colour. The X side allocates the cell and fills pixel and
// double_pixel (the pixel value in two adjacent bytes); the headless side
// uses the colour code itself as the pixel.
struct VicColor {
    uint16_t red, green, blue;
    uint32_t pixel;
    uint32_t double_pixel;
};
enum VicColorCode : uint8_t {
    COLOR_BLACK, COLOR_WHITE, COLOR_RED, COLOR_CYAN, COLOR_PURPLE, COLOR_GREEN, COLOR_BLUE, COLOR_YELLOW,
    COLOR_ORANGE, COLOR_LTORANGE, COLOR_PINK, COLOR_LTCYAN, COLOR_LTPURPLE, COLOR_LTGREEN, COLOR_LTBLUE,
    COLOR_LTYELLOW, COLOR_GREY, COLOR_WHITE2, VIC_COLOR_COUNT
};
extern VicColor vic_colors[VIC_COLOR_COUNT];

void wire_vic();

// Draws raster line `raster` into frame_image: the part the beam has not
// drawn yet, or all of it.
void render_line();

// The cycles after the current instruction's bus access during which a
// read of the raster register still gives what it gives in that access.
unsigned raster_value_holds();

// Whether the current frame is drawn: only then does a write need the
// beam to catch up first.
inline bool frame_drawn() { return intdef == 1; }

// Draws the current line up to where the beam is when the instruction being
// executed makes its bus access, so that what it writes shows from there on.
void vic_catch_up();

// Pages of $0000-$1FFF that hold the screen matrix or the character set,
// nonzero where a processor write may change what the VIC reads.
extern uint8_t vic_pages[0x20];

// Stores a write to a watched page. When the VIC reads that byte for the
// line being drawn (a screen cell of the character row or, cheaper to test
// than the one pattern row, anywhere in the character set), the beam first
// catches up.
void vic_ram_write(uint16_t addr, uint8_t value);

// A write to the colour cells of the character row being drawn: the beam
// catches up first too.
inline bool vic_reads_color(uint16_t addr) { return uint16_t(addr - colpoint - x) < Frame.columns; }

// Fields. The 6560 with $9000 bit 7 set alternates fields of 263 and 262
// lines (262.5 on average, as the NTSC standard has it); the second one
// starts half a line into the first one's last line, so a television shows
// it half a line lower. The 6561 ignores the bit.
extern uint8_t field_odd;    // the current field is the lower one
extern uint8_t field_extra;  // lines the current field has beyond last_line

// Chooses the field that begins now, at raster line 0.
void next_field();

// Register side effects, for the dispatch table.
void install_vic_handlers();

// How far the beam has drawn a row of the image in a frame, and how many
// text columns the VIC has fetched on it so far.
struct DrawnPart {
    uint32_t frame;
    uint16_t row;
    uint16_t cells;
    uint16_t columns;
};
extern DrawnPart vic_drawn;

// Decodes every register from its byte again, with none of a write's side
// effects: for a machine whose registers were loaded as a whole.
void vic_decode_registers();
