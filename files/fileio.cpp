// Placeholder until the loaders land.
#include "fileio.h"
bool starting_up = false;
int readrom(const char*, uint16_t, int) { return -1; }
int readfile(const char*, uint16_t) { return -1; }
int readcrt(const char*) { return -1; }
void load_game_cartridge(const char*) {}
void patch_rom_version() {}
void load_system_roms() {}
void insert_memory_expansion() {}
void apply_ram_override() {}
int readbasic(const char*) { return -1; }
int writebasic(const char*) { return -1; }
void dump() {}
void read_config() {}
int save_config() { return -1; }
