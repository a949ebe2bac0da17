// Helpers for the files/ tests: a working directory for the duration of a
// test, image contents, and the ROM directory made of links to the shared
// images.
#pragma once

#include <cstdint>
#include <string>
#include <initializer_list>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "core/tarvikon.h"
#include "files/fileio.h"
#include "support.h"

// Makes `dir` the working directory until the object goes.
struct InDir {
    std::string previous;
    explicit InDir(const std::string& dir) {
        char buf[4096];
        previous = getcwd(buf, sizeof buf) ? buf : "/";
        if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir;
    }
    ~InDir() {
        if (chdir(previous.c_str()) != 0) ADD_FAILURE() << "cannot return to " << previous;
    }
};

// n bytes that differ from their neighbours and from the $FF fill.
inline std::string pattern(size_t n, uint8_t seed = 1) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = char(uint8_t((i * 7 + seed) % 251));
    return s;
}

inline std::string header(uint8_t low, uint8_t page) { return std::string{char(low), char(page)}; }

// True when memory from `address` on holds `bytes`.
inline bool memory_holds(const uint8_t* memory, uint32_t address, const std::string& bytes) {
    return std::string(reinterpret_cast<const char*>(memory + address), bytes.size()) == bytes;
}

// roms/ below `dir` with links to the shared ROM images named (all four by
// default).
inline void link_roms(const std::string& dir,
                      std::initializer_list<const char*> names = {"kernel.ntsc", "kernel.pal", "basic.rom",
                                                                    "chargen.rom"}) {
    std::string roms = dir + "/roms";
    mkdir(roms.c_str(), 0755);
    for (const char* name : names) {
        std::string target = shared_path(std::string("roms/") + name);
        if (symlink(target.c_str(), (roms + "/" + name).c_str()) != 0) ADD_FAILURE() << "cannot link " << target;
    }
}

inline std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Where a sector starts in a 35-track image.
inline size_t d64_offset(unsigned track, unsigned sector) {
    size_t at = 0;
    for (unsigned t = 1; t < track; t++) at += t <= 17 ? 21 : t <= 24 ? 19 : t <= 30 ? 18 : 17;
    return (at + sector) * 256;
}

// The real kernal of the timing, BASIC and the character ROM, read into memory.
inline void read_real_roms(uint8_t timing) {
    ASSERT_EQ(readrom(shared_path(timing ? "roms/kernel.pal" : "roms/kernel.ntsc").c_str(), 0xE000, 8192), 0);
    ASSERT_EQ(readrom(shared_path("roms/basic.rom").c_str(), 0xC000, 8192), 0);
    ASSERT_EQ(readrom(shared_path("roms/chargen.rom").c_str(), 0x8000, 4096), 0);
}

// A machine of the timing started on the real ROMs as the program starts
// it (version patch, expansion), before its first frame.
inline void start_real_machine(uint8_t timing) {
    new_machine(timing);
    ASSERT_NO_FATAL_FAILURE(read_real_roms(timing));
    patch_rom_version();
    insert_memory_expansion();
    machine_start();
}

inline size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
    return n;
}
