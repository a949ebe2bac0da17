#include "png.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "../core/host.h"
#include "../core/tarvikon.h"
#include "../core/vic.h"

RgbImage capture_picture(unsigned scale, unsigned wide) {
    if (scale == 0) scale = 1;
    const unsigned across = scale * (wide ? wide : 1);
    // A byte of the frame image is a colour's pixel value: the colour code on
    // a headless or true-colour host, an allocated cell on an 8-bit display.
    uint8_t rgb_of[256][3] = {};
    for (const VicColor& c : vic_colors) {
        uint8_t* p = rgb_of[c.pixel & 0xFF];
        p[0] = uint8_t(c.red >> 8), p[1] = uint8_t(c.green >> 8), p[2] = uint8_t(c.blue >> 8);
    }
    RgbImage image;
    const unsigned first = overscan, last = last_line > FRAME_LINES ? FRAME_LINES : last_line;
    const unsigned left = Frame.view_left, cells = screen_width;
    if (!frame_image || last <= first || left + cells > FRAME_CELLS) return image;
    image.width = cells * across;
    image.height = (last - first) * scale;
    image.rgb.resize(size_t(image.width) * image.height * 3);
    uint8_t* out = image.rgb.data();
    for (unsigned line = first; line < last; line++) {
        const uint8_t* row = frame_image + size_t(line) * FRAME_LINE_BYTES + 2 * left;
        uint8_t* start = out;
        for (unsigned cell = 0; cell < cells; cell++)
            for (unsigned i = 0; i < across; i++, out += 3) std::memcpy(out, rgb_of[row[2 * cell]], 3);
        for (unsigned i = 1; i < scale; i++, out += image.width * 3) std::memcpy(out, start, image.width * 3);
    }
    return image;
}

namespace {

// libpng reports errors by longjmp: nothing here may live across it.
bool encode(png_structp png, png_infop info, FILE* file, const RgbImage& image) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned y = 0; y < image.height; y++) png_write_row(png, image.rgb.data() + size_t(y) * image.width * 3);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool write_png(const std::string& path, const RgbImage& image, std::string& error) {
    if (image.width == 0 || image.height == 0) {
        error = "there is no picture yet";
        return false;
    }
    const std::string temporary = path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = info && encode(png, info, file, image);
    png_destroy_write_struct(&png, &info);
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    error = written ? std::strerror(errno) : "the PNG could not be written";
    std::remove(temporary.c_str());
    return false;
}
