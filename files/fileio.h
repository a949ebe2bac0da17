// Loaders and savers that move files into and out of the address space:
// system ROMs, cartridge images, BASIC programs, the configuration file and
// the debug dump. Each prints its own progress and failures on stdout.
#pragma once

#include <cstdint>

// ---- system ROMs and cartridges ----------------------------------------------
int readrom(const char* path, uint16_t address, int size);
int readfile(const char* path, uint16_t default_address);
int readcrt(const char* path);
void load_game_cartridge(const char* name);
void patch_rom_version();
// Start-up: loads kernal, BASIC and character ROMs; exits with -1 on failure.
void load_system_roms();
// Start-up, after the file arguments: the expansion by memdef, then "-ram".
void insert_memory_expansion();
void apply_ram_override();

// True while start-up runs (a cartridge argument then marks config).
extern bool starting_up;

// ---- BASIC programs and dump --------------------------------------------------
int readbasic(const char* name);
int writebasic(const char* name);
void dump();

// ---- configuration file ---------------------------------------------------------
void read_config();
int save_config();
