// Reading the VIC 20 screen back in tests, two independent ways: the
// character codes in the screen matrix, and the characters that the frame
// image shows, recognised by matching every 8x8 cell against the glyphs of
// the character generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One character cell: its screen code and its colour code (-1 when the
// cell shows no foreground pixel, or when nothing matched).
struct ScreenCell {
    int code = -1;
    int color = -1;
};

struct ScreenText {
    std::vector<std::vector<ScreenCell>> cells;  // [row][column]
    int border = -1, background = -1;            // colour codes
    unsigned left = 0, top = 0;                  // first cell and line of the text area
    std::string error;                           // why decoding failed, empty when it did not

    // The rows as text, screen codes turned into ASCII (see screen_char).
    std::vector<std::string> rows() const;
    bool contains(const std::string& text) const;
};

// ASCII for a screen code of the upper-case set: letters, digits and
// punctuation; a reversed character reads as its normal twin; anything
// else (graphics, unrecognised cells) is '~'.
char screen_char(int code);

// The screen matrix as the VIC's registers place it in `memory` (64 KB image):
// codes and colour RAM (low three bits) for each cell.
ScreenText read_matrix(const uint8_t* memory);

// The frame image (headless: each cell holds its colour code twice) between
// raster lines 0 and last_line. The text area is the box of cells that are
// not in the border colour (taken from the top-left cell); its most common
// colour is the background. `chargen` is the 2 KB upper-case character set.
ScreenText decode_frame(const uint8_t* image, unsigned last_line, const uint8_t* chargen);
