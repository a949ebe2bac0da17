// Helpers for the files/ tests: a working directory for the duration of a
// test, image contents, and the ROM directory made of links to the shared
// images.
#pragma once

#include <cstdint>
#include <string>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

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
