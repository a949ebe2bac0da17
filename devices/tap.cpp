// The .tap and .t64 readers and the .tap writer.
#include "tap.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <strings.h>

namespace {

constexpr size_t TAP_VERSION_AT = 12, TAP_LENGTH_AT = 16;
constexpr uint32_t TAP_LONG_PAUSE = 256 * TAP_UNIT;  // a version 0 zero byte
constexpr uint32_t TAP_LONGEST = 0xFFFFFF;

constexpr size_t T64_HEADER_SIZE = 64, T64_ENTRY_SIZE = 32;
constexpr size_t T64_MAX_ENTRIES_AT = 34, T64_USED_ENTRIES_AT = 36;
constexpr uint8_t T64_NORMAL_FILE = 1;
// BASIC saves its programs relocatable; anything else is taken as saved with ,1,1.
constexpr uint16_t BASIC_STARTS[] = {0x0401, 0x1001, 0x1201};
constexpr size_t NAME_LENGTH = 16;
constexpr size_t KERNAL_HEADER_SIZE = 192;
constexpr uint8_t KERNAL_RELOCATABLE = 1, KERNAL_ABSOLUTE = 3;

uint32_t le(const std::vector<uint8_t>& b, size_t at, unsigned bytes) {
    uint32_t v = 0;
    for (unsigned i = 0; i < bytes; i++) v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}

bool ends_with(const char* name, const char* suffix) {
    size_t n = std::strlen(name), s = std::strlen(suffix);
    return n > s && strcasecmp(name + n - s, suffix) == 0;
}

}  // namespace

bool tap_parse(const std::vector<uint8_t>& file, TapImage& image) {
    if (file.size() < TAP_HEADER_SIZE || std::memcmp(file.data(), TAP_SIGNATURE, 12) != 0) return false;
    if (file[TAP_VERSION_AT] > 1) return false;
    size_t length = std::min<size_t>(le(file, TAP_LENGTH_AT, 4), file.size() - TAP_HEADER_SIZE);
    image.version = file[TAP_VERSION_AT];
    image.data.assign(file.begin() + TAP_HEADER_SIZE, file.begin() + TAP_HEADER_SIZE + ptrdiff_t(length));
    return true;
}

bool tap_next_pulse(const TapImage& image, size_t& pos, uint32_t& cycles) {
    const std::vector<uint8_t>& d = image.data;
    if (pos >= d.size()) return false;
    uint8_t b = d[pos];
    if (b != 0) {
        cycles = b * TAP_UNIT;
        pos++;
        return true;
    }
    if (image.version == 0) {
        cycles = TAP_LONG_PAUSE;
        pos++;
        return true;
    }
    if (pos + 4 > d.size()) {
        pos = d.size();
        return false;
    }
    cycles = std::max<uint32_t>(le(d, pos + 1, 3), 1);
    pos += 4;
    return true;
}

void tap_append_pulse(TapImage& image, uint32_t cycles) {
    uint32_t count = (cycles + TAP_UNIT / 2) / TAP_UNIT;
    if (count >= 1 && count <= 255) {
        image.data.push_back(uint8_t(count));
        return;
    }
    cycles = std::clamp<uint32_t>(cycles, 1, TAP_LONGEST);
    image.version = 1;
    for (uint8_t b : {uint8_t(0), uint8_t(cycles), uint8_t(cycles >> 8), uint8_t(cycles >> 16)}) image.data.push_back(b);
}

std::vector<uint8_t> tap_file(const TapImage& image) {
    std::vector<uint8_t> file(TAP_SIGNATURE, TAP_SIGNATURE + 12);
    uint32_t n = uint32_t(image.data.size());
    for (uint8_t b : {image.version, uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16),
                      uint8_t(n >> 24)})
        file.push_back(b);
    file.insert(file.end(), image.data.begin(), image.data.end());
    return file;
}

bool t64_parse(const std::vector<uint8_t>& file, std::vector<TapeFile>& files) {
    if (file.size() < T64_HEADER_SIZE || std::memcmp(file.data(), T64_SIGNATURE, 9) != 0) return false;
    // Some writers leave the used count at 0: the table size then bounds the walk.
    size_t entries = std::max(le(file, T64_MAX_ENTRIES_AT, 2), le(file, T64_USED_ENTRIES_AT, 2));
    entries = std::min(entries, (file.size() - T64_HEADER_SIZE) / T64_ENTRY_SIZE);
    files.clear();
    for (size_t i = 0; i < entries; i++) {
        size_t e = T64_HEADER_SIZE + i * T64_ENTRY_SIZE;
        if (file[e] != T64_NORMAL_FILE) continue;
        TapeFile f;
        f.start = uint16_t(le(file, e + 2, 2));
        f.type = std::count(std::begin(BASIC_STARTS), std::end(BASIC_STARTS), f.start) ? KERNAL_RELOCATABLE
                                                                                        : KERNAL_ABSOLUTE;
        uint32_t end = le(file, e + 4, 2);
        size_t offset = le(file, e + 8, 4);
        // Some writers leave the end at 0: the file's data then runs to its end.
        // Data cut short keeps the end the directory gives, as a tape cut short.
        const size_t there = offset < file.size() ? file.size() - offset : 0;
        if (end <= f.start) end = std::min<uint32_t>(0x10000, f.start + uint32_t(there));
        size_t length = std::min<size_t>(end - f.start, there);
        f.end = uint16_t(end);
        f.data.assign(file.begin() + ptrdiff_t(std::min(offset, file.size())),
                      file.begin() + ptrdiff_t(std::min(offset, file.size()) + length));
        f.name.assign(file.begin() + ptrdiff_t(e + 16), file.begin() + ptrdiff_t(e + 16 + NAME_LENGTH));
        while (!f.name.empty() && (f.name.back() == ' ' || f.name.back() == char(0xA0) || f.name.back() == 0))
            f.name.pop_back();
        if (!f.data.empty()) files.push_back(std::move(f));
    }
    return true;
}

std::vector<uint8_t> kernal_header(const TapeFile& f) {
    std::vector<uint8_t> h(KERNAL_HEADER_SIZE, ' ');
    h[0] = f.type;
    h[1] = uint8_t(f.start);
    h[2] = uint8_t(f.start >> 8);
    h[3] = uint8_t(f.end);
    h[4] = uint8_t(f.end >> 8);
    std::copy(f.name.begin(), f.name.begin() + ptrdiff_t(std::min(f.name.size(), NAME_LENGTH)), h.begin() + 5);
    return h;
}

bool is_tap_name(const char* name) { return ends_with(name, ".tap"); }
bool is_t64_name(const char* name) { return ends_with(name, ".t64"); }
