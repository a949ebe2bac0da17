// A reference model of the cartridge and program loaders, written apart
// from files/ from the rules of the file formats, for the fuzz targets to
// compare the real loaders with: the whole address space, the block states,
// the settings the loaders touch and the dialogs they ask for.
//
// Where the rules leave a choice open, the model takes the one the program
// made and says so:
//  - an empty file, or a program file shorter than its 2-byte header, is
//    refused like a missing one ("failed", nothing loaded, no block marked);
//  - a load that would run past $FFFF stops at the end of the image, and the
//    count is what arrived;
//  - a BASIC program (page $04, $10, $12) loads whole or not at all: one
//    longer than the RAM from the BASIC start to the top of the expansion
//    is refused without a change;
//  - a raw cartridge loads no more than the blocks its suffix marks hold,
//    a page-$A0 program no more than $A000-$BFFF;
//  - a memory image marks only cartridge and expansion blocks (0, 2-7, 10,
//    11), never internal RAM, the character ROM, the I/O page, BASIC or the
//    kernal, and no block past block 15.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ModelMachine {
    std::vector<uint8_t> mem;  // 65536 bytes
    uint8_t bank[16];
    uint8_t memdef;
    uint32_t memexp;
    uint8_t config;
    int dialogs = 0;        // expansion dialogs asked for
    int last_dialog = -1;   // the expansion the last one named
};

// What the loader finds at the path: a regular file with these contents,
// nothing, or something that is not a regular file (directory, FIFO).
enum class FileKind { REGULAR, MISSING, NOT_REGULAR };

struct ModelFile {
    FileKind kind;
    std::vector<uint8_t> bytes;
};

// The machine as the emulator's globals hold it now, and back.
ModelMachine model_capture();

int model_readfile(ModelMachine& m, const ModelFile& f, uint16_t default_address, size_t area);
int model_readcrt(ModelMachine& m, const ModelFile& f);
int model_readbasic(ModelMachine& m, const ModelFile& f);
void model_load_game_cartridge(ModelMachine& m, const std::string& name, const ModelFile& f, bool starting_up);

// The program file that saving the program between the BASIC pointers
// writes, or false when there is nothing to save.
bool model_writebasic(const ModelMachine& m, std::vector<uint8_t>& file);

// Compares the emulator's globals with the model; reports the first
// difference through the fuzz check (and aborts).
void model_expect(const ModelMachine& m, const char* after);
