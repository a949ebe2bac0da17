// Input record and playback at the point where host input reaches the machine.
#include "replay.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "hooks.h"
#include "memory.h"
#include "tarvikon.h"
#include "via.h"
#include "vic.h"

namespace {

constexpr char MAGIC[8] = {'T', 'V', 'K', 'I', 'N', 'P', 'U', 'T'};
constexpr uint16_t VERSION = 1;
constexpr size_t RECORD_SIZE = 8 + INPUT_LINES_SIZE;

struct Record {
    uint64_t cycle;
    InputLines lines;
};

FILE* recording = nullptr;
InputLines recorded{};
std::vector<Record> records;
size_t next_record = 0;
bool playing = false;
InputLines released{};

void put_le(uint8_t* at, uint64_t v, unsigned size) {
    for (unsigned i = 0; i < size; i++) at[i] = uint8_t(v >> (8 * i));
}
uint64_t get_le(const uint8_t* at, unsigned size) {
    uint64_t v = 0;
    for (unsigned i = 0; i < size; i++) v |= uint64_t(at[i]) << (8 * i);
    return v;
}

void record_changes() {
    const InputLines now = input_lines_bytes();
    if (now == recorded) return;
    recorded = now;
    uint8_t record[RECORD_SIZE];
    put_le(record, machine_cycle(), 8);
    std::memcpy(record + 8, now.data(), INPUT_LINES_SIZE);
    if (fwrite(record, RECORD_SIZE, 1, recording) != 1 || fflush(recording) != 0) {
        fputs("Recording input...failed, recording stopped\n", stdout);
        stop_replay();
    }
}

// Before the first record the machine sees no input, and the host's is
// overruled until the last record has been played.
void play_changes() {
    while (next_record < records.size() && records[next_record].cycle <= machine_cycle()) next_record++;
    set_input_lines(next_record ? records[next_record - 1].lines : released);
    if (next_record == records.size()) {
        playing = false;
        input_reached_call = nullptr;
    }
}

InputLines lines_at_rest() {
    const InputLines saved = input_lines_bytes();
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    joystick = joystick2 = 0xFF;
    InputLines rest = input_lines_bytes();
    set_input_lines(saved);
    return rest;
}

}  // namespace

InputLines input_lines_bytes() {
    InputLines b{};
    std::memcpy(b.data(), keyrow, 8);
    std::memcpy(b.data() + 8, keycol, 8);
    put_le(b.data() + 16, uint32_t(keycount), 4);
    put_le(b.data() + 20, joystick, 2);
    put_le(b.data() + 22, joystick2, 2);
    b[24] = memory[VIC_BASE + VIC_PADDLE_X];
    b[25] = memory[VIC_BASE + VIC_PADDLE_Y];
    b[26] = Vic.lightpen_x;
    b[27] = Vic.lightpen_y;
    return b;
}

void set_input_lines(const InputLines& b) {
    std::memcpy(keyrow, b.data(), 8);
    std::memcpy(keycol, b.data() + 8, 8);
    keycount = int32_t(get_le(b.data() + 16, 4));
    joystick = uint16_t(get_le(b.data() + 20, 2));
    joystick2 = uint16_t(get_le(b.data() + 22, 2));
    memory[VIC_BASE + VIC_PADDLE_X] = b[24];
    memory[VIC_BASE + VIC_PADDLE_Y] = b[25];
    Vic.lightpen_x = b[26];
    Vic.lightpen_y = b[27];
}

bool start_recording(const char* path) {
    stop_replay();
    printf("Recording input to %s...", path);
    recording = fopen(path, "wb");
    uint8_t header[sizeof MAGIC + 2];
    std::memcpy(header, MAGIC, sizeof MAGIC);
    put_le(header + sizeof MAGIC, VERSION, 2);
    if (!recording || fwrite(header, sizeof header, 1, recording) != 1 || fflush(recording) != 0) {
        if (recording) fclose(recording);
        recording = nullptr;
        fputs("failed\n", stdout);
        return false;
    }
    recorded = lines_at_rest();
    input_reached_call = record_changes;
    fputs("OK\n", stdout);
    return true;
}

bool start_playback(const char* path) {
    stop_replay();
    printf("Playing back input from %s...", path);
    FILE* f = fopen(path, "rb");
    std::vector<uint8_t> bytes;
    if (f) {
        uint8_t chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
        fclose(f);
    }
    const size_t header = sizeof MAGIC + 2;
    if (!f || bytes.size() < header || std::memcmp(bytes.data(), MAGIC, sizeof MAGIC) != 0 ||
        get_le(bytes.data() + sizeof MAGIC, 2) > VERSION || (bytes.size() - header) % RECORD_SIZE != 0) {
        fputs(f ? "failed: not an input recording\n" : "failed\n", stdout);
        return false;
    }
    records.clear();
    for (size_t at = header; at < bytes.size(); at += RECORD_SIZE) {
        Record r;
        r.cycle = get_le(bytes.data() + at, 8);
        std::memcpy(r.lines.data(), bytes.data() + at + 8, INPUT_LINES_SIZE);
        records.push_back(r);
    }
    next_record = 0;
    released = lines_at_rest();
    playing = true;
    input_reached_call = play_changes;
    fputs("OK\n", stdout);
    return true;
}

void stop_replay() {
    if (recording) fclose(recording);
    recording = nullptr;
    playing = false;
    records.clear();
    next_record = 0;
    input_reached_call = nullptr;
}

bool playback_running() { return playing; }
