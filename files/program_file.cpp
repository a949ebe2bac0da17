// Program files by their kind, the memory they need, and memory images.
#include "program_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "../core/memory.h"
#include "fileio.h"
#include "fileutil.h"

namespace {

constexpr uint16_t START_3K = 0x0401, START_UNEXPANDED = 0x1001, START_EXPANDED = 0x1201;
constexpr uint32_t LOW_3K_START = 0x0400, LOW_3K_END = 0x1000;
constexpr uint32_t HIGH_START = 0x2000, HIGH_BLOCK = 0x2000;
constexpr uint32_t SMALL_BASIC_END = 0x1E00;  // the screen, without RAM at $2000

// Zero-page cells that the kernal's LOAD and BASIC's LOAD leave behind.
constexpr uint16_t STATUS = 0x90, SECONDARY = 0xB9, LOAD_ADDRESS = 0xC3;
constexpr uint8_t END_OF_FILE = 0x40, DRIVE = 8, ABSOLUTE = 1;

// The 8 KB blocks from $2000 that each expansion fits (bit 0: $2000).
constexpr uint8_t HIGH_BLOCKS[] = {0, 0, 1, 3, 7, 7};
constexpr bool HAS_LOW_3K[] = {false, true, false, false, false, true};

bool holds_basic_at(const ProgramFile& f, uint16_t start) {
    uint32_t end = f.address + uint32_t(f.data.size());
    if (start < f.address || start + 5u > end) return false;
    const uint8_t* at = f.data.data() + (start - f.address);
    uint32_t link = uint32_t(at[0] | at[1] << 8);
    // A first line: linked forward inside the file, ended by its zero byte,
    // and followed by the next link.
    return link >= start + 5u && link + 2 <= end && f.data[link - 1 - f.address] == 0;
}

bool overlaps(const ProgramFile& f, uint32_t from, uint32_t to) {
    uint32_t end = f.address + uint32_t(f.data.size());
    return f.address < to && end > from && !f.data.empty();
}

// The layout the image's own blocks ask for, its BASIC start unconsidered.
uint32_t layout_of(bool low, uint8_t high) {
    uint32_t e = (high & 4) ? EXP_24K : (high & 2) ? EXP_16K : (high & 1) ? EXP_8K : EXP_NONE;
    if (low) e = e == EXP_NONE ? EXP_3K : EXP_ALL;
    return e;
}

MemoryNeeds blocks_of(const ProgramFile& f) {
    MemoryNeeds n;
    if (program_kind(f) != ProgramKind::IMAGE) return n;
    n.low_3k = overlaps(f, LOW_3K_START, LOW_3K_END);
    for (unsigned i = 0; i < 3; i++)
        if (overlaps(f, HIGH_START + i * HIGH_BLOCK, HIGH_START + (i + 1) * HIGH_BLOCK)) n.high_8k |= uint8_t(1 << i);
    return n;
}

}  // namespace

bool read_program_file(const std::string& path, ProgramFile& file) {
    std::vector<uint8_t> bytes;
    if (read_file_start(path.c_str(), 2 + MEMORY_SIZE, bytes) == -1 || bytes.size() < 2) return false;
    file = program_from_bytes(path, bytes);
    return true;
}

ProgramFile program_from_bytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    ProgramFile file;
    file.name = name;
    file.address = uint16_t(bytes[0] | bytes[1] << 8);
    const size_t room = MEMORY_SIZE - file.address;
    file.data.assign(bytes.begin() + 2, bytes.begin() + 2 + std::min(bytes.size() - 2, room));
    return file;
}

ProgramKind program_kind(const ProgramFile& file) {
    switch (file.address) {
    case START_3K:
    case START_UNEXPANDED:
    case START_EXPANDED: return ProgramKind::BASIC;
    case 0xA000:
        if (file.data.size() >= 9 && std::memcmp(&file.data[4], CARTRIDGE_SIGNATURE, sizeof CARTRIDGE_SIGNATURE) == 0)
            return ProgramKind::CARTRIDGE;
        return ProgramKind::IMAGE;
    default: return ProgramKind::IMAGE;
    }
}

uint16_t basic_start_of(uint32_t expansion) {
    if (expansion == EXP_3K) return START_3K;
    return expansion == EXP_NONE || expansion > EXP_ALL ? START_UNEXPANDED : START_EXPANDED;
}

uint16_t run_start_of(const ProgramFile& file) {
    switch (program_kind(file)) {
    case ProgramKind::BASIC: return file.data.empty() ? 0 : file.address;
    case ProgramKind::CARTRIDGE: return 0;
    case ProgramKind::IMAGE: break;
    }
    MemoryNeeds own = blocks_of(file);
    for (uint16_t start : {basic_start_of(layout_of(own.low_3k, own.high_8k)), START_EXPANDED, START_UNEXPANDED, START_3K})
        if (holds_basic_at(file, start)) return start;
    return 0;
}

void add_needs(MemoryNeeds& needs, const ProgramFile& file) {
    MemoryNeeds own = blocks_of(file);
    needs.low_3k = needs.low_3k || own.low_3k;
    needs.high_8k |= own.high_8k;
}

bool fits(const MemoryNeeds& needs, uint32_t expansion) {
    if (expansion > EXP_ALL) return false;
    if ((needs.low_3k && !HAS_LOW_3K[expansion]) || (needs.high_8k & ~HIGH_BLOCKS[expansion])) return false;
    if (!needs.run_start) return true;
    if (basic_start_of(expansion) != needs.run_start) return false;
    if (needs.run_start != START_EXPANDED) return needs.run_bytes <= SMALL_BASIC_END - needs.run_start;
    uint32_t room = expansion == EXP_ALL ? uint32_t(EXP_24K) : expansion;
    return int(room) >= basic_program_expansion(0x12, off_t(needs.run_bytes) + 2);
}

uint32_t expansion_for(const MemoryNeeds& needs) {
    bool low = needs.low_3k;
    uint8_t high = needs.high_8k;
    // BASIC at $1201 runs alike on 8, 16 and 24 KB and often needs more;
    // a compiled program keeps its stack and buffers at the top of the
    // memory, whatever part its own bytes cover.
    if (needs.run_start == START_EXPANDED || high) high = 7;
    if (needs.run_start == START_3K) low = true;
    uint32_t e = layout_of(low, high);
    if (needs.run_start && basic_start_of(e) != needs.run_start)
        e = needs.run_start == START_3K ? EXP_3K : needs.run_start == START_UNEXPANDED ? EXP_NONE : EXP_24K;
    return e;
}

void load_memory_image(const ProgramFile& file) {
    printf("Loading program %s...to $%x...", file.name.c_str(), unsigned(file.address));
    uint32_t end = file.address;
    for (uint8_t byte : file.data) WRITMEM(uint16_t(end++), byte);
    printf("got %d ", int(file.data.size()));
    fputs("bytes \n", stdout);
    for (uint16_t pointer : BASIC_END_POINTERS) set_memory_word(pointer, uint16_t(end));
    leave_as_drive_load(ABSOLUTE);
}

void leave_as_drive_load(uint8_t secondary) {
    set_memory_word(LOAD_ADDRESS, memory_word(BASIC_START));
    memory[STATUS] |= END_OF_FILE;
    memory[SECONDARY] = secondary;
    memory[LOAD_DEVICE] = DRIVE;
}

std::string start_it_with_sys(const ProgramFile& file) {
    char line[64];
    snprintf(line, sizeof line, "Loaded $%x-$%x; start it with SYS\n", unsigned(file.address),
             unsigned(file.address + file.data.size() - (file.data.empty() ? 0 : 1)));
    return line;
}

bool cartridge_starts_at_reset() {
    return std::memcmp(memory + CARTRIDGE_SIGNATURE_ADDRESS, CARTRIDGE_SIGNATURE, sizeof CARTRIDGE_SIGNATURE) == 0;
}
