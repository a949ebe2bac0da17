// Fuzz target: load_game_cartridge with every suffix rule, a file of any
// length and contents (or a missing file, a FIFO or a directory in its
// place), on any block states, expansion settings and BASIC start, at
// start-up or later.
//
// Input: name selector, two raw suffix characters, settings, block states
// (4 bytes), memory seed (4), BASIC start selector and word, then the file:
// a length selector and the bytes (repeated to that length).
//
// The whole address space, the block states, memdef, memexp, config and the
// expansion dialogs must come out as the reference model says; so a refused
// or failed load changes no memory, and nothing outside the loaded range
// changes.
#include <string>
#include <sys/stat.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "start/launch.h"
#include "fuzz_support.h"
#include "loader_model.h"
#include "ui/headless.h"

namespace {

// Names that reach every branch of the suffix rules: no dot, each known
// first character with and without a second one, the ".cr"/".pr" pairs and
// their near misses, a dot followed by a slash, a dot in a directory name,
// disk images and their near misses.
const char* const NAMES[] = {
    "x",      "x.20",   "x.2",   "x.60",   "x.6F",    "x.a0",    "x.A0",   "x.a",     "x.b0",
    "x.B",    "x.crt",  "x.CRT", "x.cR",   "x.c",     "x.c0",    "x.prg",  "x.PRG",   "x.pR",
    "x.p",    "x.p0",   "x.",    "x.40",   "x.zz",    "x.R",     "./x.a0", "d.z/x",   "x.a0.prg",
    "x.prg.a0", "x.Cr",  "x.pr",  "x.90",  "x.e0",  "x.d64",  "x.D64",  "x.a0.d64", "x.d6", "x.d64x",
    "d.z/x.a0", "d.z/../x.60", "./x.prg",
};
constexpr unsigned NAME_COUNT = sizeof NAMES / sizeof NAMES[0];

// The suffix characters of a raw name: anything a file name may hold.
char name_char(uint8_t b) {
    if (b == 0 || b == '/') return '_';
    return char(b);
}

uint16_t basic_start(uint8_t selector, uint16_t raw) {
    switch (selector & 7) {
    case 0: return 0x0401;
    case 1: return 0x1001;
    case 2: return 0x1201;
    case 3: return 0xFFFF;
    default: return raw;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    InFuzzDir in_dir;
    FuzzInput in{data, size};
    uint8_t which = in.byte();
    char c1 = name_char(in.byte()), c2 = name_char(in.byte());
    uint8_t settings = in.byte();
    uint8_t states[16];
    fuzz_block_states(in, states);
    uint32_t seed = in.dword();
    uint8_t start_selector = in.byte();
    uint16_t start = basic_start(start_selector, in.word());
    static const std::vector<size_t> LENGTHS = {0,     1,     2,     3,     4095,  4096,  4097,  4098,
                                                4099,  8191,  8192,  8193,  8194,  8195,  12288, 16383,
                                                16384, 16385, 16386, 16387, 24576, 25002, 32768, 65536};
    ModelFile file{FileKind::REGULAR, fuzz_file_contents(in, LENGTHS)};

    std::string name;
    if (which < NAME_COUNT) {
        name = NAMES[which];
    } else {
        name = std::string("x.") + c1;
        if (which & 1) name += c2;
    }

    fuzz_new_machine(0);
    fuzz_fill_memory(seed);
    for (int i = 0; i < 16; i++) rombank[i] = states[i];
    memory[0x2B] = uint8_t(start);
    memory[0x2C] = uint8_t(start >> 8);
    bool at_start_up = settings & 1;
    memexp = (settings >> 1) & 7;
    memdef = uint8_t(settings >> 6);
    config = 0;
    starting_up = at_start_up;
    headless.wrongmemory_dialogs = 0;
    headless.last_wrongmemory = -1;

    // The file, or what stands in its place.
    mkdir("d.z", 0755);
    switch ((settings >> 4) & 3) {
    case 1: fuzz_remove(name); mkfifo(name.c_str(), 0644); file.kind = FileKind::NOT_REGULAR; break;
    case 2: fuzz_remove(name); file.kind = FileKind::MISSING; break;
    case 3: fuzz_remove(name); mkdir(name.c_str(), 0755); file.kind = FileKind::NOT_REGULAR; break;
    default: fuzz_write_file(name, file.bytes); break;
    }

    ModelMachine expected = model_capture();
    model_load_game_cartridge(expected, name, file, at_start_up);
    load_game_cartridge(name.c_str());
    starting_up = false;
    model_expect(expected, "load_game_cartridge");

    fuzz_remove(name);
    return 0;
}
