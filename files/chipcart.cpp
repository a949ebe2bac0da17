// Cartridge images with a descriptive header: the text "VIC20 CARTRIDGE",
// the header's length, then one packet per ROM chip.
//
//   header   $00 signature, $10 header length (4 bytes, big-endian),
//            $20 the cartridge's name
//   packet   "CHIP", packet length (4, big-endian, its own 16 bytes
//            included), chip type (2), bank (2), load address (2),
//            image size (2), then the image
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "../core/memory.h"
#include "fileio.h"
#include "fileutil.h"

namespace {

constexpr char SIGNATURE[] = "VIC20 CARTRIDGE";
constexpr size_t SIGNATURE_LENGTH = sizeof SIGNATURE - 1;
constexpr size_t DEFAULT_HEADER_LENGTH = 0x50;
constexpr size_t CHIP_HEADER_LENGTH = 16;
// Bigger than any cartridge: every chip together fills at most 64 KB.
constexpr size_t FILE_READ_LIMIT = 0x20000;

// The blocks a cartridge can occupy; chips elsewhere would land on RAM that
// is always fitted, the I/O page or the system ROMs.
constexpr bool CARTRIDGE_BLOCK[16] = {false, false, true,  true,  true,  true,  true,  true,
                                      false, false, true,  true,  false, false, false, false};

uint32_t big_endian(const uint8_t* p, unsigned size) {
    uint32_t value = 0;
    for (unsigned i = 0; i < size; i++) value = value << 8 | p[i];
    return value;
}

bool chip_fits(uint32_t address, uint32_t size) {
    if (size == 0 || address + size > MEMORY_SIZE) return false;
    for (uint32_t block = address >> 12; block <= (address + size - 1) >> 12; block++)
        if (!CARTRIDGE_BLOCK[block]) return false;
    return true;
}

// Loads one chip; false when the packet is damaged.
bool load_chip(const std::vector<uint8_t>& file, size_t& at) {
    if (file.size() - at < CHIP_HEADER_LENGTH || std::memcmp(&file[at], "CHIP", 4) != 0) return false;
    const uint8_t* chip = &file[at];
    uint32_t packet = big_endian(chip + 4, 4), bank = big_endian(chip + 10, 2);
    uint32_t address = big_endian(chip + 12, 2), size = big_endian(chip + 14, 2);
    if (packet < CHIP_HEADER_LENGTH || packet > file.size() - at) return false;
    size = std::min<uint32_t>(size, packet - uint32_t(CHIP_HEADER_LENGTH));
    at += packet;
    if (bank != 0 || !chip_fits(address, size)) {
        printf("...chip for $%x bank %u left out", unsigned(address), unsigned(bank));
        return true;
    }
    printf("...at $%x...got %u bytes", unsigned(address), unsigned(size));
    std::memcpy(memory + address, chip + CHIP_HEADER_LENGTH, size);
    for (uint32_t block = address >> 12; block <= (address + size - 1) >> 12; block++) rombank[block] = BLOCK_ROM;
    return true;
}

}  // namespace

bool is_chip_cartridge(const char* path) {
    int fd = open_regular(path);
    if (fd == -1) return false;
    uint8_t head[SIGNATURE_LENGTH];
    bool found = read_up_to(fd, head, sizeof head) == ssize_t(sizeof head) &&
                 std::memcmp(head, SIGNATURE, SIGNATURE_LENGTH) == 0;
    close(fd);
    return found;
}

int read_chip_cartridge(const char* path) {
    fputs("...cartridge with header", stdout);
    int fd = open_regular(path);
    if (fd == -1) {
        fputs("...failed\n", stdout);
        return -1;
    }
    std::vector<uint8_t> file(FILE_READ_LIMIT);
    ssize_t got = read_up_to(fd, file.data(), file.size());
    close(fd);
    file.resize(got > 0 ? size_t(got) : 0);
    size_t at = file.size() >= 0x14 ? big_endian(&file[0x10], 4) : 0;
    // Some writers leave the length out; the header is then the usual size.
    if (at < 0x20 || at > file.size()) at = DEFAULT_HEADER_LENGTH;
    int chips = 0;
    while (at < file.size()) {
        if (!load_chip(file, at)) {
            fputs("...damaged chip packet", stdout);
            break;
        }
        chips++;
    }
    fputs(chips ? "\n" : "...no chip...failed\n", stdout);
    return chips ? chips : -1;
}
