// Fuzz target: readbasic on every expansion state and BASIC start, with a
// program file of any length and contents (or none, a FIFO, a directory); then
// writebasic with any start and end pointers, and the saved file loaded back.
//
// Input: memdef, memexp, BASIC start selector and word, end pointer word,
// file kind and save mode, block states (4 bytes), memory seed (4), then the file: a
// length selector and the bytes (repeated to that length).
//
// After the load the whole address space, the block states, memexp, config
// and the expansion dialogs must be as the reference model says (a refused
// load changes no memory; nothing outside the loaded range and the BASIC
// pointers changes). The save must write exactly the header and the bytes
// between the pointers, change no memory, and write nothing when there is
// nothing to save (an older file stays as it was); no other file is left
// behind; loading its file back follows the model again.
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "fuzz_support.h"
#include "loader_model.h"
#include "ui/headless.h"

namespace {

uint16_t pick_start(uint8_t selector, uint16_t raw) {
    switch (selector & 7) {
    case 0: return 0x0401;
    case 1: return 0x1001;
    case 2: return 0x1201;
    case 3: return 0xFFFF;  // the fill before the machine has started
    default: return raw;
    }
}

std::vector<uint8_t> read_back(const std::string& path, bool& exists) {
    std::vector<uint8_t> bytes;
    int fd = open(path.c_str(), O_RDONLY);
    exists = fd >= 0;
    if (fd < 0) return bytes;
    uint8_t buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    close(fd);
    return bytes;
}

void set_word(uint16_t addr, uint16_t value) {
    memory[addr] = uint8_t(value);
    memory[addr + 1] = uint8_t(value >> 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    InFuzzDir in_dir;
    FuzzInput in{data, size};
    uint8_t expansion = in.byte();
    uint8_t chosen = in.byte();
    uint8_t start_selector = in.byte();
    uint16_t start = pick_start(start_selector, in.word());
    uint16_t end_raw = in.word();
    uint8_t kind = in.byte();
    uint8_t states[16];
    fuzz_block_states(in, states);
    uint32_t seed = in.dword();
    static const std::vector<size_t> LENGTHS = {0,     1,     2,     3,     100,   4096,  11772, 11773,
                                                11774, 19964, 19965, 19966, 25000, 25001, 25002, 25003,
                                                30000, 40000, 65536, 65538,
                                                // both sides of the RAM an expansion gives BASIC
                                                3585,  3586,  6657,  6658,  8194,  8195,  28161, 28162};
    ModelFile file{FileKind::REGULAR, fuzz_file_contents(in, LENGTHS)};

    fuzz_new_machine(0);
    fuzz_fill_memory(seed);
    for (int i = 0; i < 16; i++) rombank[i] = states[i];
    memdef = uint8_t(expansion % 6);
    memexp = chosen % 6;
    config = 0;
    set_word(0x2B, start);
    headless.wrongmemory_dialogs = 0;
    headless.last_wrongmemory = -1;

    const std::string name = "prog.prg";
    switch (kind & 3) {
    case 1: fuzz_remove(name); mkfifo(name.c_str(), 0644); file.kind = FileKind::NOT_REGULAR; break;
    case 2: fuzz_remove(name); file.kind = FileKind::MISSING; break;
    case 3: fuzz_remove(name); mkdir(name.c_str(), 0755); file.kind = FileKind::NOT_REGULAR; break;
    default: fuzz_write_file(name, file.bytes); break;
    }

    ModelMachine expected = model_capture();
    int want = model_readbasic(expected, file);
    int got = readbasic(name.c_str());
    FUZZ_CHECK_AT(got == want, "readbasic returned %d, expected %d", got, want);
    model_expect(expected, "readbasic");
    fuzz_remove(name);

    // Save: the end pointer as the load left it, or any other.
    if (kind & 4) set_word(0x2D, (kind & 8) ? uint16_t(start + (end_raw & 0x7FFF)) : end_raw);
    // Over an older file, or where there was none.
    const std::string saved = "saved.prg";
    const std::vector<uint8_t> older = {0x01, 0x10, 0xAA, 0x55};
    bool had_older = kind & 16;
    if (had_older) fuzz_write_file(saved, older); else fuzz_remove(saved);
    ModelMachine before_save = model_capture();
    std::vector<uint8_t> want_file;
    bool something = model_writebasic(before_save, want_file);
    int wrote = writebasic(saved.c_str());
    model_expect(before_save, "writebasic");
    FUZZ_CHECK_AT(fuzz_only_file_here(saved), "the save left another file in its directory");
    bool exists;
    std::vector<uint8_t> on_disk = read_back(saved, exists);
    if (!something) {
        FUZZ_CHECK(wrote == -1);
        FUZZ_CHECK_AT(exists == had_older, "nothing to save, yet the file %s", had_older ? "went" : "appeared");
        FUZZ_CHECK_AT(!exists || on_disk == older, "nothing to save, yet the older file changed");
        fuzz_remove(saved);
        return 0;
    }
    FUZZ_CHECK_AT(wrote == int(want_file.size()) - 2, "writebasic returned %d, expected %d", wrote,
                  int(want_file.size()) - 2);
    FUZZ_CHECK_AT(on_disk == want_file, "saved file of %zu bytes differs from the %zu expected", on_disk.size(),
                  want_file.size());

    // And back in, on the same machine.
    ModelFile again{FileKind::REGULAR, want_file};
    ModelMachine reloaded = model_capture();
    want = model_readbasic(reloaded, again);
    got = readbasic(saved.c_str());
    FUZZ_CHECK_AT(got == want, "reloading returned %d, expected %d", got, want);
    model_expect(reloaded, "readbasic of the saved file");
    fuzz_remove(saved);
    return 0;
}
