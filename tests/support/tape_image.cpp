#include "tape_image.h"

#include <cstring>

namespace {

// Pulse lengths of the VIC 20 kernal's SAVE, in units of 8 cycles.
constexpr uint8_t SHORT = 44, MEDIUM = 63, LONG = 85;

void put_byte(std::vector<uint8_t>& p, uint8_t v) {
    p.insert(p.end(), {LONG, MEDIUM});
    unsigned ones = 0;
    for (unsigned bit = 0; bit < 9; bit++) {
        bool one = bit < 8 ? (v >> bit) & 1 : ones % 2 == 0;
        ones += one;
        p.insert(p.end(), {one ? MEDIUM : SHORT, one ? SHORT : MEDIUM});
    }
}

void put_block(std::vector<uint8_t>& p, const std::vector<uint8_t>& data) {
    for (uint8_t sync : {0x89, 0x09}) {
        p.insert(p.end(), sync == 0x89 ? 1500 : 80, SHORT);
        for (uint8_t i = 0; i < 9; i++) put_byte(p, uint8_t(sync - i));
        uint8_t check = 0;
        for (uint8_t b : data) {
            put_byte(p, b);
            check ^= b;
        }
        put_byte(p, check);
        p.insert(p.end(), {LONG, SHORT});
    }
}

}  // namespace

std::vector<uint8_t> kernal_tap(const std::vector<TapeFile>& files) {
    TapImage image;
    for (const TapeFile& f : files) {
        put_block(image.data, kernal_header(f));
        put_block(image.data, f.data);
    }
    image.data.insert(image.data.end(), 200, SHORT);  // the tape runs on a little
    return tap_file(image);
}

std::vector<uint8_t> t64_of(const std::vector<TapeFile>& files) {
    std::vector<uint8_t> t(64 + 32 * files.size(), 0);
    std::memcpy(t.data(), "C64S tape image file", 20);
    t[32] = 1;
    t[34] = t[36] = uint8_t(files.size());
    for (size_t i = 0; i < files.size(); i++) {
        size_t offset = t.size();
        uint8_t entry[32] = {1, 0x82, uint8_t(files[i].start), uint8_t(files[i].start >> 8), uint8_t(files[i].end),
                             uint8_t(files[i].end >> 8), 0, 0, uint8_t(offset), uint8_t(offset >> 8),
                             uint8_t(offset >> 16)};
        std::memset(entry + 16, ' ', 16);
        std::memcpy(entry + 16, files[i].name.data(), files[i].name.size());
        std::memcpy(&t[64 + 32 * i], entry, 32);
        t.insert(t.end(), files[i].data.begin(), files[i].data.end());
    }
    return t;
}
