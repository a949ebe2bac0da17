// The datasette's deck, its lines into the VIAs, and the kernal trap that
// reads standard blocks at once.
#include "datasette.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <unistd.h>
#include <vector>

#include "../core/hooks.h"
#include "../core/memory.h"
#include "../core/pacing.h"
#include "../core/snapshot.h"
#include "../core/tarvikon.h"
#include "../core/via.h"
#include "../files/fileutil.h"
#include "kernal_tape.h"
#include "kernal_trap.h"
#include "tap.h"

bool tape_warp = true;
bool tape_instant_load = true;

namespace {

constexpr size_t IMAGE_LIMIT = 64 << 20;  // far beyond any real tape
constexpr uint8_t STATUS_SHORT_BLOCK = 0x04, STATUS_LONG_BLOCK = 0x08;
constexpr uint8_t STATUS_READ_ERROR = 0x10;  // also a VERIFY mismatch
constexpr uint16_t MOTOR_INTERLOCK = 0xC0;    // nonzero: the interrupt leaves the motor alone
constexpr int TRAP_CYCLES = 2;

// The kernal's block read: the trap point just after it has waited for PLAY,
// and where the routine ends once the block is in.
constexpr uint16_t READ_BLOCK = 0xF8CE, READ_BLOCK_END = 0xF957;
constexpr uint8_t READ_BLOCK_CODE[] = {0x20, 0x94, 0xF8, 0xB0, 0x1F, 0x78, 0xA9, 0x00, 0x85, 0xAA};  // at $F8C9
constexpr uint8_t READ_BLOCK_END_CODE[] = {0xA9, 0x00, 0x8D, 0xA0, 0x02, 0x60};

enum class Kind { NONE, TAP, T64 };
enum class Keys { NONE, PLAY, RECORD };
constexpr const char* KEY_NAMES[] = {"STOP", "PLAY", "RECORD"};

struct Deck {
    Kind kind = Kind::NONE;
    std::string path;
    TapImage tap;
    size_t pos = 0;              // .tap: the next pulse
    std::vector<TapeFile> files;
    size_t block = 0;            // .t64: header of file block / 2 when even, else its data
    uint64_t tape_cycles = 0;    // tape passed under the head: the counter
    Keys keys = Keys::NONE;
    bool running = false;        // motor on with a key down
    uint64_t pulse_due = 0;      // playing: when the pulse under the head ends
    bool have_edge = false;      // recording: a rising edge seen since the motor started
    uint64_t last_edge = 0;
    bool dirty = false;          // recorded pulses not yet in the file
};
Deck deck;

void write_recording() {
    if (!deck.dirty) return;
    deck.dirty = false;
    std::vector<uint8_t> file = tap_file(deck.tap);
    if (replace_file(deck.path.c_str(), {{file.data(), file.size()}}) != 0)
        printf("Writing tape image %s...failed\n", deck.path.c_str());
}

// ---- playing and recording ----------------------------------------------------------

void pulse_end();

void start_pulse(uint64_t from) {
    uint32_t c;
    if (!tap_next_pulse(deck.tap, deck.pos, c)) {
        deck.keys = Keys::NONE;  // the end of the tape: the keys come up
        return;
    }
    deck.tape_cycles += c;
    deck.pulse_due = from + c;
    call_at_cycle(deck.pulse_due, pulse_end);
}

void pulse_end() {
    cassette_read_edge();
    start_pulse(deck.pulse_due);
}

void record_edge(bool high) {
    if (!high) return;
    uint64_t now = machine_cycle();
    if (deck.have_edge) {
        tap_append_pulse(deck.tap, uint32_t(std::min<uint64_t>(now - deck.last_edge, UINT32_MAX)));
        deck.tape_cycles += now - deck.last_edge;
        deck.pos = deck.tap.data.size();
        deck.dirty = true;
    }
    deck.have_edge = true;
    deck.last_edge = now;
}

void start_motor() {
    deck.running = true;
    if (deck.keys == Keys::RECORD) {
        deck.tap.data.resize(deck.pos);  // recording replaces what follows
        deck.have_edge = false;
        cassette_write_watch = record_edge;
    } else if (deck.kind == Kind::TAP) {
        start_pulse(machine_cycle());
    }
}

void stop_motor() {
    deck.running = false;
    cancel_cycle_call();
    cassette_write_watch = nullptr;
    write_recording();
}

void datasette_frame() {
    cassette_keys = deck.keys != Keys::NONE;
    bool run = deck.keys != Keys::NONE && cassette_motor_on();
    if (run && !deck.running) start_motor();
    if (!run && deck.running) stop_motor();
    // Warp while the tape moves and the machine listens to it (the read
    // line's interrupt on) or records: PLAY held at READY runs the motor too.
    const bool listened = deck.keys == Keys::RECORD || (*Via2.ier & IFR_CA1);
    device_warp = deck.running && tape_warp && deck.kind == Kind::TAP && listened;
}

// ---- the kernal's block read, at once -----------------------------------------------

// The next block on the tape, the tape moved past it; false when none
// reads back in the kernal's format here.
bool next_block(std::vector<uint8_t>& block) {
    if (deck.kind == Kind::T64) {
        size_t file = deck.block / 2;
        if (file >= deck.files.size()) return false;
        block = deck.block % 2 == 0 ? kernal_header(deck.files[file]) : deck.files[file].data;
        deck.block++;
        return true;
    }
    size_t pos = deck.pos;
    if (!kernal_tape_block(deck.tap, pos, block)) return false;
    for (uint32_t c; deck.pos < pos && tap_next_pulse(deck.tap, deck.pos, c);) deck.tape_cycles += c;
    return true;
}

bool read_block_trap() {
    std::vector<uint8_t> block;
    if (!tape_instant_load || deck.keys != Keys::PLAY || !next_block(block)) return false;
    // The kernal's running pointer and end: the tape buffer for a header.
    const uint16_t from = memory_word(KERNAL_START), to = memory_word(KERNAL_END);
    const bool verify = memory[KERNAL_VERIFY_FLAG] != 0;
    const size_t wanted = uint16_t(to - from), n = std::min(block.size(), wanted);
    if (block.size() != wanted) memory[KERNAL_STATUS] |= block.size() < wanted ? STATUS_SHORT_BLOCK : STATUS_LONG_BLOCK;
    for (size_t i = 0; i < n; i++) {
        uint16_t address = uint16_t(from + i);
        if (!verify) WRITMEM(address, block[i]);
        else if (READMEM(address) != block[i]) memory[KERNAL_STATUS] |= STATUS_READ_ERROR;
    }
    // As the kernal's read leaves them: the motor off, and its interlock set
    // so that the key held down does not start it again.
    memory[VIA1_BASE + VIA_PCR] |= PCR_CA2_MASK;
    memory[MOTOR_INTERLOCK] = memory[VIA1_BASE + VIA_PCR];
    Flags[FLAG_C] = 0;
    Register.PC = READ_BLOCK_END;
    cycles = TRAP_CYCLES;
    return true;
}

bool holds(uint16_t address, const uint8_t* code, size_t length) {
    return std::equal(code, code + length, memory + address);
}

bool is_tape_kernal() {
    return holds(READ_BLOCK - 5, READ_BLOCK_CODE, sizeof READ_BLOCK_CODE) &&
           holds(READ_BLOCK_END, READ_BLOCK_END_CODE, sizeof READ_BLOCK_END_CODE);
}

constexpr KernalTrap TRAPS[] = {{READ_BLOCK, read_block_trap}};

// ---- the deck in a snapshot ---------------------------------------------------------

// The image is named, not kept: loading attaches it again unless it is the
// one in the deck. Recorded pulses not yet written are not kept.
struct DeckNumbers {
    uint8_t kind, keys, running, have_edge;
    uint64_t pos, block, tape_cycles, pulse_due, last_edge;
};

std::vector<StateField> deck_fields(DeckNumbers& n) {
    return {{"kind", &n.kind, 1},           {"keys", &n.keys, 1},
            {"running", &n.running, 1},     {"have_edge", &n.have_edge, 1},
            {"pos", &n.pos, 8},             {"block", &n.block, 8},
            {"tape_cycles", &n.tape_cycles, 8}, {"pulse_due", &n.pulse_due, 8},
            {"last_edge", &n.last_edge, 8}};
}

void save_deck(std::vector<uint8_t>& body) {
    DeckNumbers n{uint8_t(deck.kind), uint8_t(deck.keys), deck.running, deck.have_edge, deck.pos, deck.block,
                  deck.tape_cycles, deck.pulse_due, deck.last_edge};
    put_field(body, "path", deck.path.data(), uint32_t(deck.path.size()));
    const std::vector<StateField> fields = deck_fields(n);
    put_fields(body, fields.data(), fields.size());
}

// The image the section names, read only when it is not the one in the deck.
bool image_of(const std::string& path, Kind kind, Deck& d) {
    if (kind == Kind::NONE) return true;
    if (path == deck.path && kind == deck.kind) {
        d.tap = deck.tap;
        d.files = deck.files;
        return true;
    }
    std::vector<uint8_t> bytes;
    const off_t length = read_file_start(path.c_str(), IMAGE_LIMIT, bytes);
    if (length == -1 || size_t(length) != bytes.size()) return kind == Kind::TAP && access(path.c_str(), F_OK) != 0;
    return kind == Kind::TAP ? tap_parse(bytes, d.tap) : t64_parse(bytes, d.files);
}

bool load_deck(const uint8_t* body, size_t size, bool apply) {
    std::vector<FieldView> found;
    DeckNumbers n{};
    const std::vector<StateField> fields = deck_fields(n);
    const FieldView* path = nullptr;
    if (!parse_fields(body, size, found) || !get_fields(found, fields.data(), fields.size(), true) ||
        !(path = find_field(found, "path")) || n.kind > uint8_t(Kind::T64) || n.keys > uint8_t(Keys::RECORD))
        return false;
    Deck d;
    d.kind = Kind(n.kind);
    d.path.assign(reinterpret_cast<const char*>(path->data), path->size);
    if (!image_of(d.path, d.kind, d)) return false;
    if (n.pos > d.tap.data.size() || n.block > 2 * d.files.size()) return false;
    if (!apply) return true;
    if (d.path != deck.path) write_recording();
    d.pos = size_t(n.pos);
    d.block = size_t(n.block);
    d.tape_cycles = n.tape_cycles;
    d.keys = Keys(n.keys);
    d.running = n.running;
    d.pulse_due = n.pulse_due;
    d.have_edge = n.have_edge;
    d.last_edge = n.last_edge;
    deck = std::move(d);
    cassette_write_watch = deck.running && deck.keys == Keys::RECORD ? record_edge : nullptr;
    if (deck.running && deck.keys == Keys::PLAY && deck.kind == Kind::TAP) call_at_cycle(deck.pulse_due, pulse_end);
    return true;
}

}  // namespace

bool tape_attach(const std::string& path) {
    printf("Attaching tape image %s...", path.c_str());
    Deck d;
    std::vector<uint8_t> bytes;
    const off_t length = read_file_start(path.c_str(), IMAGE_LIMIT, bytes);
    if (length != -1 && size_t(length) == bytes.size()) {
        if (tap_parse(bytes, d.tap)) d.kind = Kind::TAP;
        else if (t64_parse(bytes, d.files)) d.kind = Kind::T64;
    } else if (is_tap_name(path.c_str()) && access(path.c_str(), F_OK) != 0) {
        d.kind = Kind::TAP;  // a new tape
    }
    if (d.kind == Kind::NONE) {
        fputs("failed\n", stdout);
        return false;
    }
    tape_eject();
    d.path = path;
    deck = std::move(d);
    fputs("OK\n", stdout);
    return true;
}

void tape_play() {
    if (deck.kind != Kind::NONE) deck.keys = Keys::PLAY;
}

void tape_record() {
    if (deck.kind == Kind::NONE) {
        std::string name = "tape.tap";
        for (unsigned n = 2; access(name.c_str(), F_OK) == 0; n++) name = "tape-" + std::to_string(n) + ".tap";
        if (!tape_attach(name)) return;
    }
    if (deck.kind == Kind::T64) {
        fputs("A .t64 image cannot be recorded on\n", stdout);
        return;
    }
    deck.keys = Keys::RECORD;
}

void tape_stop() {
    deck.keys = Keys::NONE;
    if (deck.running) stop_motor();
    cassette_keys = 0;
    device_warp = 0;
}

void tape_rewind() {
    tape_stop();
    deck.pos = deck.block = 0;
    deck.tape_cycles = 0;
}

void tape_eject() {
    tape_stop();
    deck = Deck{};
}

bool tape_first_program(std::vector<uint8_t>& program) {
    if (deck.kind != Kind::T64 || deck.files.empty()) return false;
    const TapeFile& f = deck.files.front();
    program = {uint8_t(f.start), uint8_t(f.start >> 8)};
    program.insert(program.end(), f.data.begin(), f.data.end());
    return true;
}

std::string tape_status() {
    if (deck.kind == Kind::NONE) return "";
    unsigned counter = deck.kind == Kind::T64 ? unsigned(deck.block / 2) : unsigned(deck.tape_cycles / PAL_CLOCK_HZ % 1000);
    char text[32];
    snprintf(text, sizeof text, "Tape %03u %s", counter, KEY_NAMES[int(deck.keys)]);
    return text;
}

void add_datasette_hooks() {
    static bool flush_at_exit = false;
    if (!std::exchange(flush_at_exit, true)) std::atexit(write_recording);
    add_kernal_traps(is_tape_kernal, TRAPS, unsigned(std::size(TRAPS)));
    add_frame_call(datasette_frame);
    add_state_section("datasette", save_deck, load_deck);
}
