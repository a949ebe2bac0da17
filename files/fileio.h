// Loaders and savers that move files into and out of the address space:
// system ROMs, cartridge images, BASIC programs, the configuration file and
// the debug dump. Each prints its own progress and failures on stdout and
// never writes outside the 64 KB image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "../core/host.h"  // readrom, patch_rom_version and dump, which the core calls

// ---- system ROMs and cartridges ----------------------------------------------

// A raw cartridge image: a 4098 or 8194 byte file starts with a load-address
// header, anything else goes to `default_address`. At most `area_size` bytes
// are read (the blocks that the name's suffix marks), the rest is left out
// and said. Returns the data bytes read, or -1.
int readfile(const char* path, uint16_t default_address, size_t area_size);

// A .crt image (header when 4098, 8193 or 8194 bytes long; 16 KB images
// split over $6000 and $A000). Marks its blocks; returns the count of its
// last read, or -1.
int readcrt(const char* path);

// A cartridge image that starts with "VIC20 CARTRIDGE", whatever its name,
// and its loader: every chip of bank 0 at its address, its blocks marked.
// Returns the chips loaded, or -1.
bool is_chip_cartridge(const char* path);
int read_chip_cartridge(const char* path);

// The first dot of the file's own name (after the last '/'), or null.
const char* suffix_dot(const char* name);

// Chooses the loader by the characters after the suffix dot of the name and
// marks the blocks that the suffix names.
void load_cartridge_file(const char* name);

// True for the names that load_cartridge_file hands to readbasic: "pr" in
// either case right after the suffix dot.
bool is_program_name(const char* name);

constexpr uint16_t VERSION_TEXT_ADDRESS = 0xE43C;
constexpr char VERSION_TEXT[] = "TARVIKON 0.8";

// Start-up: loads kernal, BASIC and character ROMs; exits with -1 on failure.
void load_system_roms();
// Start-up, after the file arguments: the expansion by memdef, then "-ram".
void insert_memory_expansion();
void apply_ram_override();

// True while start-up runs (a cartridge argument then marks config).
extern bool starting_up;

// ---- BASIC programs and dump --------------------------------------------------

// Loads a program file to the BASIC start (or its own address for images)
// and sets the BASIC end pointers; -1 when nothing was loaded, also when the
// program needs another expansion (then memexp and config are set) or does
// not fit into the RAM from the BASIC start on (said, nothing changed).
// A cartridge image ($A0) loads what fits into $A000-$BFFF, another image
// up to 25000 bytes; either says what it left out.
int readbasic(const char* name);

// The least expansion a BASIC program file needs by its header page and
// length (header included): $04 the 3 KB one, $10 none, $12 8, 16 or 24 KB;
// -1 for a page that is no BASIC program's.
int basic_program_expansion(uint8_t page, off_t length);

// Saves the program between the BASIC start and end pointers with its load
// address; the byte count, or -1.
int writebasic(const char* name);

// BASIC pointers in the zero page, low byte first.
constexpr uint16_t BASIC_START = 0x2B;  // start of the program
constexpr uint16_t BASIC_END = 0x2D;    // end of the program
constexpr uint16_t BASIC_END_POINTERS[] = {0x2D, 0x2F, 0x31, 0xAE, 0x35};
constexpr uint16_t LOAD_DEVICE = 0xBA;  // set to 1 after a load

// Longest page-$12 file (header included) for the 8 KB and 16 KB expansions.
constexpr long LIMIT_8K = 11773;
constexpr long LIMIT_16K = 19965;

