// Tape images: the .tap pulse image and the .t64 container, read into
// memory whole and checked so that nothing past their end is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- .tap: "C64-TAPE-RAW", version, three reserved bytes, data length, data ----

constexpr char TAP_SIGNATURE[] = "C64-TAPE-RAW";
constexpr size_t TAP_HEADER_SIZE = 20;
constexpr uint32_t TAP_UNIT = 8;  // cycles per count of a pulse byte

// A pulse image's data bytes. Version 0 counts a zero byte as a long pause;
// version 1 follows it with the pulse's length in cycles (3 bytes, low first).
struct TapImage {
    uint8_t version = 1;
    std::vector<uint8_t> data;
};

// False (image untouched) for a file that is no .tap: short, another
// signature, an unknown version. A data length beyond the file's end is cut
// to what is there.
bool tap_parse(const std::vector<uint8_t>& file, TapImage& image);

// The pulse at `pos` in cycles, and `pos` moved past it; false at the end
// (or in a pulse cut short by the end).
bool tap_next_pulse(const TapImage& image, size_t& pos, uint32_t& cycles);

// Appends a pulse of `cycles` (a long one as zero and three bytes).
void tap_append_pulse(TapImage& image, uint32_t cycles);

// The file: header and data.
std::vector<uint8_t> tap_file(const TapImage& image);

// ---- .t64: a 64-byte header, 32-byte directory entries, the files' data ----

// A file as the kernal's tape header gives it.
struct TapeFile {
    uint8_t type;             // kernal header type: 1 relocatable (a BASIC start), 3 absolute
    uint16_t start, end;      // end is the first address after the data
    std::string name;         // PETSCII, trailing padding removed, at most 16 bytes
    std::vector<uint8_t> data;
};

constexpr char T64_SIGNATURE[] = "C64S tape";  // "C64S tape image file" and "C64S tape file"

// The programs in directory order; false for a file that is no .t64. An
// entry whose data is cut short by the file's end keeps what is there and
// the end address the directory gives; empty and unused entries are left out.
bool t64_parse(const std::vector<uint8_t>& file, std::vector<TapeFile>& files);

// The kernal's header block of a file: type, start, end, the name padded
// with spaces to 192 bytes.
std::vector<uint8_t> kernal_header(const TapeFile& file);

// True for a name ending in ".tap" or ".t64" (any case).
bool is_tap_name(const char* name);
bool is_t64_name(const char* name);
