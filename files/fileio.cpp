// System ROMs, cartridge images, the version patch and the start-up memory
// layout.
#include "fileio.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "../core/hooks.h"
#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "fileutil.h"

bool starting_up = false;

namespace {

constexpr int CRT_READ_LIMIT = 8192;
// A raw image this long carries a 2-byte load address; so does a .crt image
// of one of CRT_HEADER_LENGTHS.
constexpr off_t RAW_HEADER_LENGTHS[] = {4098, 8194};
constexpr off_t CRT_HEADER_LENGTHS[] = {4098, 8193, 8194};

template <size_t N>
bool has_header(off_t length, const off_t (&lengths)[N]) {
    for (off_t l : lengths)
        if (length == l) return true;
    return false;
}

// The header's byte 0 is ignored: images always load on a page boundary.
// Returns the load address, or -1 when the two bytes cannot be read.
long read_header(int fd) {
    uint8_t header[2];
    if (read_up_to(fd, header, 1) != 1 || read_up_to(fd, header + 1, 1) != 1) return -1;
    return long(header[1]) << 8;
}

// Opens an image and finds its length; an empty file is as useless as a
// missing one. Prints "failed\n" and returns -1 on any of these.
int open_image(const char* path, off_t& length) {
    int fd = open_regular(path);
    if (fd == -1) {
        fputs("failed\n", stdout);
        return -1;
    }
    length = file_length(fd);
    if (length <= 0) return fail_and_close(fd);
    return fd;
}

// Where a raw image goes by its suffix, and the blocks it occupies.
struct CartSlot {
    uint16_t address;
    uint16_t size;        // bytes of the blocks the suffix marks
    uint8_t block;        // marked before loading
    int8_t second_block;  // marked when more than 4 KB arrived; -1 for none
    const char* text;
};
constexpr CartSlot SLOT_2000 = {0x2000, 0x2000, 2, 3, " at $2000..."};
constexpr CartSlot SLOT_6000 = {0x6000, 0x2000, 6, 7, " at $6000..."};
constexpr CartSlot SLOT_A000 = {0xA000, 0x2000, 10, 11, " at $a000..."};
constexpr CartSlot SLOT_B000 = {0xB000, 0x1000, 11, -1, " at $b000..."};

void load_raw(const char* name, const CartSlot& slot) {
    rombank[slot.block] = BLOCK_ROM;
    fputs(slot.text, stdout);
    if (readfile(name, slot.address, slot.size) > 4096 && slot.second_block >= 0)
        rombank[slot.second_block] = BLOCK_ROM;
}

bool is_r(char c) { return c == 'r' || c == 'R'; }

}  // namespace

const char* suffix_dot(const char* name) {
    // Dots in folder names ("./", "../", "games.v2/", "/home/john.doe/")
    // say nothing about the file.
    const char* slash = std::strrchr(name, '/');
    return std::strchr(slash ? slash + 1 : name, '.');
}

bool is_program_name(const char* name) {
    const char* dot = suffix_dot(name);
    return dot && (dot[1] == 'p' || dot[1] == 'P') && is_r(dot[2]);
}

int readrom(const char* path, uint16_t address, int size) {
    int fd = open_regular(path);
    if (fd == -1) {
        fputs("failed\n", stdout);
        return -1;
    }
    // Read aside first: the reset keeps running on the old kernal when the
    // new one is short, so a failed load must leave the old image whole.
    std::vector<uint8_t> image(std::min(size_t(size < 0 ? 0 : size), size_t(MEMORY_SIZE - address)));
    ssize_t got = read_up_to(fd, image.data(), image.size());
    close(fd);
    if (got != size) {
        printf("%d ", int(got));
        fputs("failed !\n", stdout);
        return -1;
    }
    std::copy(image.begin(), image.end(), memory + address);
    return 0;
}

int readfile(const char* path, uint16_t default_address, size_t area_size) {
    off_t length;
    int fd = open_image(path, length);
    if (fd == -1) return -1;
    long address = default_address;
    if (has_header(length, RAW_HEADER_LENGTHS)) {
        address = read_header(fd);
        if (address == -1) return fail_and_close(fd);
        printf("...header found, address $%lx...", address);
        length -= 2;
    }
    ssize_t got = read_into_memory(fd, uint16_t(address), area_size);
    if (got == -1) fputs("failed\n", stdout);
    printf("got %d ", int(got));
    fputs("bytes \n", stdout);
    say_left_out(length, got, uint32_t(address));
    close(fd);
    return int(got);
}

int readcrt(const char* path) {
    off_t length;
    int fd = open_image(path, length);
    if (fd == -1) return -1;
    long address = 0xA000;
    if (has_header(length, CRT_HEADER_LENGTHS)) {
        address = read_header(fd);
        if (address == -1) return fail_and_close(fd);
        fputs("...header found", stdout);
        length -= 2;
    }
    off_t unread = length;
    if (length > CRT_READ_LIMIT) {
        // A 16 KB image: its first half belongs at $6000.
        fputs("...16k image...at $6000...", stdout);
        ssize_t got = read_into_memory(fd, 0x6000, CRT_READ_LIMIT);
        if (got == -1) fputs("failed\n", stdout);
        rombank[6] = rombank[7] = BLOCK_ROM;
        printf("got %d ", int(got));
        fputs("bytes", stdout);
        if (got > 0) unread -= got;
        address = 0xA000;
    }
    printf("...at $%lx...", address);
    ssize_t got = read_into_memory(fd, uint16_t(address), CRT_READ_LIMIT);
    if (got == -1) fputs("failed\n", stdout);
    printf("got %d ", int(got));
    fputs("bytes\n", stdout);
    say_left_out(unread, got, uint32_t(address));
    rombank[10] = rombank[11] = BLOCK_ROM;
    close(fd);
    return int(got);
}

void load_cartridge_file(const char* name) {
    memdef = 0;
    if (starting_up && memexp != 0) config = 1;
    fputs("Loading game cartridge ", stdout);
    fputs(name, stdout);
    if (is_chip_cartridge(name)) {
        read_chip_cartridge(name);
        return;
    }

    const char* dot = suffix_dot(name);
    if (!dot) {
        fputs("...no suffix, loading cart", stdout);
        load_raw(name, SLOT_A000);
        return;
    }
    char c1 = dot[1];
    char c2 = c1 ? dot[2] : '\0';
    switch (c1) {
    case '2': load_raw(name, SLOT_2000); return;
    case '6': load_raw(name, SLOT_6000); return;
    case 'a':
    case 'A': load_raw(name, SLOT_A000); return;
    case 'b':
    case 'B': load_raw(name, SLOT_B000); return;
    case 'c':
    case 'C':
        if (is_r(c2)) {
            readcrt(name);
            return;
        }
        break;
    case 'p':
    case 'P':
        if (is_r(c2)) {
            readbasic(name);
            return;
        }
        break;
    default: break;
    }
    fputs("...no valid suffix, loading cart", stdout);
    load_raw(name, SLOT_A000);
}

void patch_rom_version() {
    install_kernal_traps();
    if (ram & NO_VERSION_PATCH) return;
    say_verbose("Patching ROM with Tarvikon Version...");
    std::memcpy(memory + VERSION_TEXT_ADDRESS, VERSION_TEXT, sizeof VERSION_TEXT - 1);
    say_verbose("OK\n");
}

void load_system_roms() {
    say_verbose("Reading the ROMS...");
    const bool ntsc = vid_time == 0;
    say_verbose(ntsc ? "NTSC timing...kernel.ntsc..." : "PAL timing...kernel.pal...");
    if (readrom(ntsc ? "roms/kernel.ntsc" : "roms/kernel.pal", 0xE000, 8192) == -1) exit(-1);
    say_verbose("basic.rom...");
    if (readrom("roms/basic.rom", 0xC000, 8192) == -1) exit(-1);
    say_verbose("chargen.rom...");
    if (readrom("roms/chargen.rom", 0x8000, 4096) == -1) exit(-1);
    say_verbose("OK\n");
}

void insert_memory_expansion() {
    // At start-up every block is RAM or a cartridge's ROM, and a file
    // argument has set memdef to 0, so the reset's layout rule gives the
    // start-up layout too.
    say_verbose("Inserting memory expansion cartridge...");
    apply_expansion_layout(memdef);
    say_verbose("OK\n");
}

void apply_ram_override() {
    if (!(ram & RAM_AT_A000)) return;
    fputs("Using cartridge memory space $a000-$bfff as RAM...OK\n", stdout);
    rombank[10] = rombank[11] = BLOCK_RAM;
}
