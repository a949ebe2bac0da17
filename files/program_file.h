// Program files (a two-byte load address, then the bytes) by their kind,
// the memory each needs, and memory images loaded as LOAD"NAME",8,1 does.
//
// A file for one of the BASIC starts ($0401, $1001, $1201) is a BASIC
// program; one for $A000 with the cartridge signature at $A004 is a
// cartridge that starts at reset; anything else is a memory image, loaded at
// its own address. An image starts with RUN when it puts a BASIC program at
// the BASIC start of the layout it runs on (a SYS stub, or a file for $1200
// whose BASIC begins at $1201); otherwise it is loaded and the user is told
// where.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramFile {
    std::string name;
    uint16_t address = 0;       // the load address in the file
    std::vector<uint8_t> data;  // the bytes after it, cut at the end of the address space
};

enum class ProgramKind { BASIC, CARTRIDGE, IMAGE };

// False (nothing printed) when the file cannot be read or lacks the header.
bool read_program_file(const std::string& path, ProgramFile& file);

// The same from a file's bytes already read (from a disk or tape image),
// at least the two of the header.
ProgramFile program_from_bytes(const std::string& name, const std::vector<uint8_t>& bytes);
ProgramKind program_kind(const ProgramFile& file);

// Where BASIC starts with an expansion index in effect.
uint16_t basic_start_of(uint32_t expansion);

// What the programs of one start need of the memory: the expansion blocks
// their bytes cover, and the BASIC start of the one that is to RUN.
struct MemoryNeeds {
    bool low_3k = false;    // $0400-$0FFF
    uint8_t high_8k = 0;    // 8 KB blocks from $2000: bit 0 $2000, bit 1 $4000, bit 2 $6000
    uint16_t run_start = 0;  // 0 when nothing is to RUN
    uint32_t run_bytes = 0;  // the BASIC program's length, for BASIC files
};
void add_needs(MemoryNeeds& needs, const ProgramFile& file);
// The BASIC start at which the file runs with RUN, or 0 when it cannot.
uint16_t run_start_of(const ProgramFile& file);
// True when the programs run on that expansion as they are.
bool fits(const MemoryNeeds& needs, uint32_t expansion);
// The expansion picked for them: 24 KB for BASIC at $1201 and for an image
// in any of the blocks from $2000, the 3 KB block for one there (every
// layout has RAM at $A000); when both cannot be had, the program that is to
// RUN wins.
uint32_t expansion_for(const MemoryNeeds& needs);

// Loads an image at its own address as the kernal's LOAD with secondary
// address 1 from drive 8 does (each byte as the processor writes it), and
// leaves the pointers as BASIC's LOAD in direct mode does. Prints
// "Loading program NAME...to $XXXX...got N bytes \n".
void load_memory_image(const ProgramFile& file);
// The kernal's cells as LOAD"NAME",8 (secondary 0) or ,8,1 leaves them:
// device 8 at $BA, the secondary address, the end of file in the status.
void leave_as_drive_load(uint8_t secondary);
// "Loaded $2000-$727f; start it with SYS\n" for an image that does not RUN.
std::string start_it_with_sys(const ProgramFile& file);

constexpr uint16_t CARTRIDGE_SIGNATURE_ADDRESS = 0xA004;
constexpr uint8_t CARTRIDGE_SIGNATURE[] = {0x41, 0x30, 0xC3, 0xC2, 0xCD};  // "A0CBM"
// True when memory holds a cartridge that the kernal starts at reset.
bool cartridge_starts_at_reset();
