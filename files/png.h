// Pictures as PNG files (libpng): the VIC's picture as the window shows it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
    unsigned width = 0, height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, rows top to bottom
};

// The visible picture (raster lines overscan to last_line, the window's
// columns) from the frame image: each VIC pixel `scale` pixels high and
// `scale * wide` pixels wide (the window shows it twice as wide as high).
// An interlaced picture gives its even field.
RgbImage capture_picture(unsigned scale = 1, unsigned wide = 1);

// Writes the image as an 8-bit RGB PNG, to a new file renamed into place, so
// that a failed write leaves no half file; false with `error` set.
bool write_png(const std::string& path, const RgbImage& image, std::string& error);
