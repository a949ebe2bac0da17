// BASIC program files, loaded and saved straight into and out of memory
// without the emulated kernal, and the debug dump.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "../core/host.h"
#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "fileio.h"
#include "fileutil.h"

namespace {

// Memory images other than cartridges are read up to this many bytes.
constexpr size_t IMAGE_READ_LIMIT = 25000;
constexpr size_t CARTRIDGE_AREA_SIZE = 0x2000;  // $A000-$BFFF

// The BASIC start that a program saved on each kind of machine needs.
constexpr uint16_t START_3K = 0x0401, START_UNEXPANDED = 0x1001, START_EXPANDED = 0x1201;

// Where BASIC's memory ends (exclusive) with each expansion in effect:
// without RAM at $2000 the screen sits at $1E00.
constexpr uint32_t BASIC_MEMORY_END[] = {0x1E00, 0x1E00, 0x4000, 0x6000, 0x8000};
constexpr uint32_t EXPANSION_RAM_END = 0x8000;

// The end of the RAM from `start` on that the expansion in effect gives; a
// block without RAM (a cartridge, say) ends it sooner.
uint32_t basic_memory_end(uint16_t start) {
    uint32_t end = memdef <= EXP_24K ? BASIC_MEMORY_END[memdef] : EXPANSION_RAM_END;
    for (uint32_t block = start >> 12; block << 12 < end; block++)
        if (rombank[block] != BLOCK_RAM) return std::max(uint32_t(start), block << 12);
    return end;
}

// Blocks whose state the address map uses. A memory image loaded over the
// system ROMs or the I/O page must not mark them, or removing the cartridge
// would wipe the kernal, BASIC, character ROM or the chips.
constexpr bool CARTRIDGE_BLOCK[16] = {true, false, true,  true,  true,  true,  true,  true,
                                      false, false, true, true, false, false, false, false};

void mark_image_block(unsigned block) {
    if (block < 16 && CARTRIDGE_BLOCK[block]) rombank[block] = BLOCK_ROM;
}

// The program needs another expansion: remember it for the next reset and
// tell the user. Nothing is loaded.
int refuse(int fd, uint32_t needed) {
    memexp = needed;
    show_wrongmemory_dialog(int(needed));
    config = 1;
    close(fd);
    return -1;
}

}  // namespace

int basic_program_expansion(uint8_t page, off_t length) {
    switch (page) {
    case 0x04: return EXP_3K;
    case 0x10: return EXP_NONE;
    case 0x12: return length <= LIMIT_8K ? EXP_8K : length <= LIMIT_16K ? EXP_16K : EXP_24K;
    default: return -1;
    }
}

int readbasic(const char* name) {
    printf("Loading program %s...", name);
    uint16_t start = memory_word(BASIC_START);
    int fd = open_regular(name);
    if (fd == -1) {
        fputs("failed\n", stdout);
        return -1;
    }
    // Without both header bytes there is no load address to go by.
    off_t length = file_length(fd);
    uint8_t low, page;
    if (length == -1 || read_up_to(fd, &low, 1) != 1 || read_up_to(fd, &page, 1) != 1) return fail_and_close(fd);
    const off_t data_bytes = length - 2;

    uint16_t address = start;
    bool set_pointers = true;
    size_t room = 0;         // bytes that may be read
    bool whole_only = true;  // a BASIC program loads whole or not at all
    switch (page) {
    case 0x04:
        if (start != START_3K) return refuse(fd, EXP_3K);
        break;
    case 0x10:
        if (start != START_UNEXPANDED) return refuse(fd, EXP_NONE);
        break;
    case 0x12:
        if (start != START_EXPANDED) {
            return refuse(fd, uint32_t(basic_program_expansion(page, length)));
        }
        // The layout with every expansion holds what 24 KB holds.
        if (length > LIMIT_16K && memdef < EXP_24K) return refuse(fd, EXP_24K);
        if (length > LIMIT_8K && length <= LIMIT_16K && memdef < EXP_16K) return refuse(fd, EXP_16K);
        break;
    case 0xA0:
        fputs("to $a000...", stdout);
        address = 0xA000;
        rombank[10] = rombank[11] = BLOCK_ROM;
        config = 1;
        room = CARTRIDGE_AREA_SIZE;
        whole_only = false;
        break;
    default:
        // A memory image: it goes to its own address and leaves BASIC alone.
        address = uint16_t(page << 8 | low);
        printf("to $%x...", unsigned(address));
        mark_image_block(page >> 4);
        mark_image_block((page >> 4) + 1u);
        set_pointers = false;
        room = IMAGE_READ_LIMIT;
        whole_only = false;
        break;
    }
    if (whole_only) {
        uint32_t end = basic_memory_end(address);
        room = end > address ? end - address : 0;
        if (size_t(data_bytes) > room) {
            printf("%ld bytes do not fit in the memory from $%04x to $%04x, not loaded\n", long(data_bytes),
                   unsigned(address), unsigned(end - 1));
            close(fd);
            return -1;
        }
    }

    ssize_t got = read_into_memory(fd, address, room);
    if (got == -1) return fail_and_close(fd);
    printf("got %d ", int(got));
    fputs("bytes \n", stdout);
    say_left_out(data_bytes, got, address);
    close(fd);
    if (set_pointers) {
        uint16_t end = uint16_t(address + got);
        for (uint16_t pointer : BASIC_END_POINTERS) set_memory_word(pointer, end);
    }
    memory[LOAD_DEVICE] = 1;
    return int(got);
}

int writebasic(const char* name) {
    printf("Saving program %s...", name);
    uint16_t start = memory_word(BASIC_START);
    uint16_t end = memory_word(BASIC_END);
    // An end below the start is no program at all; saving it would write
    // whatever lies between the wrapped addresses.
    if (end == start + 2 || end < start) {
        fputs("nothing to be saved...", stdout);
        return -1;
    }
    size_t count = size_t(end - start);
    // The message below is printed only once the whole program is on disk; a
    // save that fails keeps the file that was there.
    if (replace_file(name, {{memory + BASIC_START, 2}, {memory + start, count}}) != 0) {
        fputs("failed\n", stdout);
        return -1;
    }
    printf("wrote  %d ", int(count));
    fputs("bytes \n", stdout);
    return int(count);
}

void dump() {
    fputs("Dump to disk...", stdout);
    int fd = open_for_writing("dump.txt");
    FILE* out = fd == -1 ? nullptr : fdopen(fd, "w");
    if (!out) {
        if (fd != -1) close(fd);
        fputs("failed\n", stdout);
        exit(-1);
    }
    for (unsigned addr = 0; addr < MEMORY_SIZE; addr++) fprintf(out, "Adr: %x Opc: %x\n", addr, unsigned(memory[addr]));
    bool failed = ferror(out) != 0;
    if (fclose(out) != 0 || failed) {
        fputs("failed\n", stdout);
        return;
    }
    fputs("OK\n", stdout);
}
