// A small .d64 reader of the tests' own, written from the disk format and
// not from the emulator's code, to read back what the drives wrote.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

struct D64Reader {
    struct Entry {
        uint8_t type = 0, record_length = 0;
        unsigned track = 0, sector = 0, side_track = 0, side_sector = 0, blocks = 0;
    };
    std::string image;
    std::map<std::string, Entry> entries;
    bool valid = false;
    std::string error;

    explicit D64Reader(std::string bytes) : image(std::move(bytes)) {
        if (image.size() != 174848 && image.size() != 175531) {
            error = "size";
            return;
        }
        std::set<unsigned> seen;
        for (unsigned t = 18, s = 1; t != 0;) {
            const uint8_t* d = sector(t, s);
            if (!d || !seen.insert(t * 100 + s).second) {
                error = "directory chain";
                return;
            }
            for (unsigned slot = 0; slot < 8; slot++) {
                const uint8_t* e = d + slot * 32;
                if (e[2] == 0) continue;
                std::string name;
                for (unsigned i = 5; i < 21 && e[i] != 0xA0; i++) name += char(e[i]);
                entries[name] = {e[2], e[23], e[3], e[4], e[21], e[22], unsigned(e[30] | e[31] << 8)};
            }
            t = d[0];
            s = d[1];
        }
        valid = true;
    }

    static unsigned sectors_of(unsigned track) { return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17; }

    const uint8_t* sector(unsigned track, unsigned s) const {
        if (track < 1 || track > 35 || s >= sectors_of(track)) return nullptr;
        unsigned index = s;
        for (unsigned t = 1; t < track; t++) index += sectors_of(t);
        return reinterpret_cast<const uint8_t*>(image.data()) + index * 256;
    }

    bool has(const std::string& name) const { return entries.count(name) != 0; }
    uint8_t type_of(const std::string& name) const { return has(name) ? entries.at(name).type : 0; }

    // A chain's data; "<bad chain>" for a link out of range or a loop.
    std::string chain(unsigned t, unsigned s, unsigned* blocks = nullptr) const {
        std::string out;
        std::set<unsigned> seen;
        while (t != 0) {
            const uint8_t* d = sector(t, s);
            if (!d || !seen.insert(t * 100 + s).second) return "<bad chain>";
            unsigned end = d[0] == 0 ? d[1] + 1u : 256;
            out.append(reinterpret_cast<const char*>(d) + 2, end - 2);
            t = d[0];
            s = d[1];
        }
        if (blocks) *blocks = unsigned(seen.size());
        return out;
    }

    std::string file(const std::string& name) const {
        if (!has(name)) return "<missing>";
        return chain(entries.at(name).track, entries.at(name).sector);
    }

    unsigned free_blocks() const {
        const uint8_t* bam = sector(18, 0);
        unsigned free = 0;
        for (unsigned t = 1; t <= 35; t++)
            if (t != 18) free += bam[4 * t];
        return free;
    }
};
