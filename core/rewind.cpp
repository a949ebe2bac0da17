// The rewind ring: the newest state whole, the older ones as differences,
// each turning the state after it into itself.
#include "rewind.h"

#include <cstring>
#include <deque>

#include "snapshot.h"
#include "tarvikon.h"

bool rewind_on = true;
bool rewind_held = false;

namespace {

std::vector<uint8_t> newest;                // the latest state, whole
std::deque<std::vector<uint8_t>> older;     // older.back() turns newest into the state before it
size_t older_bytes = 0;
std::vector<uint8_t> reached;               // the state the last step back restored
unsigned frames_since = 0;
bool shown_once = false;  // held: the state reached has been shown for one frame

// A difference: a kind byte, the target's size, then for a target of the
// same size as its base runs of (bytes kept, bytes new, the new bytes);
// for one of another size the target whole.
constexpr uint8_t WHOLE = 0, RUNS = 1;

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}
uint32_t get_u32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

// The first index from `at` where a and b differ, found a block at a time:
// most of a state is as it was.
size_t same_until(const uint8_t* a, const uint8_t* b, size_t at, size_t size) {
    for (size_t block : {4096, 256, 16})
        while (at + block <= size && std::memcmp(a + at, b + at, block) == 0) at += block;
    while (at < size && a[at] == b[at]) at++;
    return at;
}
size_t differ_until(const uint8_t* a, const uint8_t* b, size_t at, size_t size) {
    while (at < size && a[at] != b[at]) at++;
    return at;
}

size_t state_limit() { return REWIND_SECONDS * (vid_time ? 50u : 60u) / REWIND_INTERVAL; }

void trim() {
    while (!older.empty() && (older.size() + 1 > state_limit() || older_bytes + newest.size() > REWIND_BYTE_LIMIT)) {
        older_bytes -= older.front().size();
        older.pop_front();
    }
}

}  // namespace

std::vector<uint8_t> state_difference(const std::vector<uint8_t>& from, const std::vector<uint8_t>& to) {
    std::vector<uint8_t> out;
    out.push_back(from.size() == to.size() ? RUNS : WHOLE);
    put_u32(out, uint32_t(to.size()));
    if (from.size() != to.size()) {
        out.insert(out.end(), to.begin(), to.end());
        return out;
    }
    // A short stretch of equal bytes stays inside the new bytes: a run costs 8.
    for (size_t at = 0; at < to.size();) {
        const size_t kept_end = same_until(from.data(), to.data(), at, to.size());
        size_t new_end = differ_until(from.data(), to.data(), kept_end, to.size());
        for (size_t next; new_end < to.size(); new_end = differ_until(from.data(), to.data(), next, to.size())) {
            next = same_until(from.data(), to.data(), new_end, to.size());
            if (next - new_end > 8 || next == to.size()) break;
        }
        put_u32(out, uint32_t(kept_end - at));
        put_u32(out, uint32_t(new_end - kept_end));
        out.insert(out.end(), to.begin() + long(kept_end), to.begin() + long(new_end));
        at = new_end;
    }
    return out;
}

std::vector<uint8_t> apply_difference(const std::vector<uint8_t>& from, const std::vector<uint8_t>& difference) {
    const uint8_t* d = difference.data();
    const size_t size = get_u32(d + 1);
    if (d[0] == WHOLE) return {d + 5, d + 5 + size};
    std::vector<uint8_t> to(from);
    size_t at = 0;
    for (size_t i = 5; i < difference.size();) {
        at += get_u32(d + i);
        const uint32_t count = get_u32(d + i + 4);
        std::memcpy(to.data() + at, d + i + 8, count);
        at += count;
        i += 8 + count;
    }
    return to;
}

void rewind_capture() {
    static std::vector<uint8_t> state;  // its room kept, as newest's is when they swap
    save_ring_state(state);
    if (!newest.empty()) {
        older.push_back(state_difference(state, newest));
        older_bytes += older.back().size();
    }
    std::swap(newest, state);
    trim();
}

bool rewind_step_back() {
    if (newest.empty()) return false;
    if (!load_ring_state(newest)) {
        rewind_clear();  // a state from before a change of standard
        return false;
    }
    reached = std::move(newest);
    newest.clear();
    if (!older.empty()) {
        newest = apply_difference(reached, older.back());
        older_bytes -= older.back().size();
        older.pop_back();
    }
    frames_since = 0;
    return true;
}

void rewind_clear() {
    newest.clear();
    older.clear();
    older_bytes = 0;
    reached.clear();
    frames_since = 0;
}

size_t rewind_states() { return older.size() + !newest.empty(); }
size_t rewind_bytes() { return older_bytes + newest.size() + older.size() * sizeof(std::vector<uint8_t>); }

void rewind_between_frames() {
    if (!rewind_on) {
        if (!newest.empty()) rewind_clear();
        return;
    }
    if (rewind_held) {
        // At the oldest state the picture stands still there.
        shown_once = !shown_once;
        if ((!shown_once || !rewind_step_back()) && !reached.empty()) load_ring_state(reached);
        return;
    }
    shown_once = false;
    reached.clear();
    if (++frames_since >= REWIND_INTERVAL) {
        frames_since = 0;
        rewind_capture();
    }
}
