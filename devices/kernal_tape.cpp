#include "kernal_tape.h"

namespace {

constexpr unsigned LEADER_PULSES = 32;      // fewer short pulses in a row are no leader
constexpr unsigned SYNC_BYTES = 9;          // $89..$81, or $09..$01 in the repeat
constexpr uint8_t FIRST_SYNC = 0x89, REPEAT_SYNC = 0x09;
constexpr size_t LEADER_SEARCH = 4096;      // pulses skipped at most before a leader
constexpr unsigned LEADER_ATTEMPTS = 8;

enum Pulse { SHORT, MEDIUM, LONG, OTHER };

struct Reader {
    const TapImage& image;
    size_t pos;
    uint32_t short_cycles = 0;

    bool next(uint32_t& cycles) { return tap_next_pulse(image, pos, cycles); }

    // Medium is about 1.4 and long 1.9 short pulses: the limits lie between.
    Pulse classify(uint32_t c) const {
        if (c * 10 < short_cycles * 7) return OTHER;
        if (c * 10 < short_cycles * 12) return SHORT;
        if (c * 10 < short_cycles * 16) return MEDIUM;
        if (c * 10 < short_cycles * 23) return LONG;
        return OTHER;
    }
    bool next_kind(Pulse& p) {
        uint32_t c;
        if (!next(c)) return false;
        p = classify(c);
        return true;
    }

    // Finds a leader and learns the short pulse's length from it.
    bool leader() {
        size_t limit = pos + LEADER_SEARCH;
        while (pos < limit) {
            size_t start = pos;
            uint32_t first, c;
            if (!next(first)) return false;
            unsigned run = 1;
            uint64_t sum = first;
            while (run < LEADER_PULSES && next(c) && c * 8 < first * 9 && c * 9 > first * 8) {
                sum += c;
                run++;
            }
            if (run == LEADER_PULSES) {
                short_cycles = uint32_t(sum / run);
                return true;
            }
            pos = start + 1;
        }
        return false;
    }

    // One byte after its marker; `end` is set for the end-of-data marker.
    bool byte(uint8_t& value, bool& end) {
        Pulse a, b;
        if (!next_kind(a) || !next_kind(b) || a != LONG) return false;
        end = b == SHORT;
        if (end) return true;
        if (b != MEDIUM) return false;
        unsigned ones = 0;
        value = 0;
        for (unsigned bit = 0; bit < 9; bit++) {
            if (!next_kind(a) || !next_kind(b)) return false;
            bool one = a == MEDIUM && b == SHORT;
            if (!one && !(a == SHORT && b == MEDIUM)) return false;
            if (bit < 8 && one) value |= uint8_t(1 << bit);
            ones += one;
        }
        return ones % 2 == 1;
    }

    // A whole copy: the data without sync and checksum. `sync` is its first
    // byte when one was read, even if the copy then fails.
    bool copy(uint8_t& sync, std::vector<uint8_t>& data) {
        std::vector<uint8_t> bytes;
        // A glitch before the first byte: the leader is looked for again after it.
        for (unsigned attempt = 0; bytes.empty() && attempt < LEADER_ATTEMPTS; attempt++) {
            if (!leader()) return false;
            Pulse p;
            size_t before;
            do {
                before = pos;
                if (!next_kind(p)) return false;
            } while (p == SHORT);
            pos = before;
            for (;;) {
                uint8_t v;
                bool end;
                if (!byte(v, end)) {
                    if (!bytes.empty()) return false;
                    break;
                }
                if (end) break;
                if (bytes.empty()) sync = v;
                bytes.push_back(v);
            }
        }
        if (bytes.size() < SYNC_BYTES + 1) return false;
        for (unsigned i = 0; i < SYNC_BYTES; i++)
            if ((bytes[i] & 0x7F) != (sync & 0x7F) - i) return false;
        uint8_t check = 0;
        for (size_t i = SYNC_BYTES; i + 1 < bytes.size(); i++) check ^= bytes[i];
        if (check != bytes.back()) return false;
        data.assign(bytes.begin() + SYNC_BYTES, bytes.end() - 1);
        return true;
    }
};

}  // namespace

bool kernal_tape_block(const TapImage& image, size_t& pos, std::vector<uint8_t>& data) {
    Reader r{image, pos};
    uint8_t sync = 0;
    if (!r.copy(sync, data) || (sync != FIRST_SYNC && sync != REPEAT_SYNC)) {
        // As the kernal does, the repeat stands in for a damaged first copy.
        Reader repeat{image, r.pos};
        if (sync != FIRST_SYNC || !repeat.copy(sync, data) || sync != REPEAT_SYNC) return false;
        r.pos = repeat.pos;
    }
    pos = r.pos;
    if (sync == FIRST_SYNC) {
        // The repeat is read past when it is there.
        std::vector<uint8_t> repeat;
        Reader again{image, pos};
        if (again.copy(sync, repeat) && sync == REPEAT_SYNC) pos = again.pos;
    }
    return true;
}
