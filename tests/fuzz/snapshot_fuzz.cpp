// Fuzz target: the snapshot reader on any file, and on a real snapshot with
// patched bytes whose checksum is made right again (so that the fuzzer gets
// past it to the sections and fields).
//
// Input: one byte of mode (bit 0: the rest of the input is the file as it
// is; otherwise patches of three bytes each, offset (16 bits) and value, to
// a snapshot of a running test machine; bit 1 the checksum left as the
// patches make it; bit 2 load with agreement to other ROMs or another
// standard; bit 3 the offsets counted back from the end, where the devices'
// sections are), then the file or the patches.
//
// Checked: no access outside the 64 KB image or the frame image; a refused
// load changes nothing of the machine's state; a load that was accepted
// runs on for two frames, and its state saved and loaded again is the same.
#include <cstring>

#include "core/memory.h"
#include "core/snapshot.h"
#include "core/tarvikon.h"
#include "devices/dos.h"
#include "fuzz_support.h"

namespace {

// Snapshot bytes of a test machine part-way through a little program that
// writes the screen and the VIC's colours, with a block buffer open on
// drive 8 (made once).
const std::vector<uint8_t>& base_snapshot() {
    static const std::vector<uint8_t> bytes = [] {
        fuzz_new_machine(1);
        const uint8_t program[] = {0xE8, 0x8A, 0x9D, 0x00, 0x1E, 0x8D, 0x0F, 0x90, 0x4C, 0x00, 0x02};
        std::memcpy(memory + 0x0200, program, sizeof program);  // INX TXA STA $1E00,X STA $900F JMP $0200
        Register.PC = 0x0200;
        interrupt = intdef = 1;
        for (int i = 0; i < 5000; i++) run_turn();
        dos_open(8, 2, "#");
        dos_write(8, 2, 0x42);
        return save_machine_state(true);
    }();
    return bytes;
}

void reseal(std::vector<uint8_t>& b) {
    const uint32_t crc = crc32_of(b.data(), b.size() - 4);
    for (int i = 0; i < 4; i++) b[b.size() - 4 + i] = uint8_t(crc >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    InFuzzDir in_dir;
    FuzzInput in{data, size};
    const uint8_t mode = in.byte();
    std::vector<uint8_t> file = base_snapshot();
    if (mode & 1) {
        file.assign(in.rest(), in.rest() + in.left());
    } else {
        while (in.left() >= 3) {
            const size_t at = mode & 8 ? file.size() - 1 - in.word() : in.word();
            const uint8_t value = in.byte();
            if (at < file.size()) file[at] = value;
        }
        if (!(mode & 2)) reseal(file);
    }

    fuzz_new_machine(1);
    const std::vector<uint8_t> before = save_machine_state(true);
    const StateCheck c = load_machine_state(file.data(), file.size(), mode & 4);
    const bool loaded = c.refusal == StateRefusal::NONE || ((mode & 4) && c.refusal != StateRefusal::DAMAGED);
    if (!loaded) {
        FUZZ_CHECK(!c.reason.empty());
        FUZZ_CHECK(save_machine_state(true) == before);
        return 0;
    }
    run_frame();
    run_frame();
    const std::vector<uint8_t> after = save_machine_state(true);
    FUZZ_CHECK(load_machine_state(after.data(), after.size(), false).refusal == StateRefusal::NONE);
    FUZZ_CHECK(save_machine_state(true) == after);
    return 0;
}
