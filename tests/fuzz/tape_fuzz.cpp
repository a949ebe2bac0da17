// Fuzz target: the .tap and .t64 readers, the kernal format read from the
// pulses, and the datasette playing the image into a running machine.
//
// Input: one byte of mode (bits 0-1 which image: 0 the rest of the input as
// a .tap, 1 as a .t64, 2 a tape of two kernal files, 3 a .t64 of the same
// two files, both with patches of three bytes each: offset (16 bits) and
// value; bit 2 play the image for a few frames with the motor running),
// then the image or the patches.
//
// Checked: no access outside the image (it is an exact heap block); a .tap
// parses exactly when its header is whole with version 0 or 1, keeps at most
// the bytes there are, and every pulse moves the position on and is at
// least a cycle long, ending at the data's end; written out it reads back
// the same; each kernal block read moves the position on, and an unpatched
// tape gives exactly its four blocks; every .t64 file keeps at most the
// bytes the image holds, within the range its header gives, with a name of
// at most 16 bytes.
#include <cstring>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "devices/datasette.h"
#include "devices/kernal_tape.h"
#include "devices/tap.h"
#include "fuzz_support.h"
#include "../support/tape_image.h"

namespace {

const std::vector<TapeFile>& two_files() {
    static const std::vector<TapeFile> files = {{1, 0x1001, 0x1004, "ONE", {1, 2, 3}},
                                                {3, 0x2000, 0x2005, "TWO", {5, 4, 3, 2, 1}}};
    return files;
}

std::vector<uint8_t> image_from(FuzzInput& in, uint8_t mode, bool& patched) {
    patched = false;
    if ((mode & 3) < 2) return {in.rest(), in.rest() + in.left()};
    std::vector<uint8_t> image = (mode & 3) == 2 ? kernal_tap(two_files()) : t64_of(two_files());
    while (in.left() >= 3) {
        uint16_t at = in.word();
        uint8_t value = in.byte();
        if (at < image.size()) {
            patched |= image[at] != value;
            image[at] = value;
        }
    }
    return image;
}

void check_tap(const std::vector<uint8_t>& file, bool patched, bool built) {
    TapImage image;
    const bool whole_header = file.size() >= 20 && std::memcmp(file.data(), "C64-TAPE-RAW", 12) == 0 && file[12] <= 1;
    FUZZ_CHECK(tap_parse(file, image) == whole_header);
    if (!whole_header) return;
    FUZZ_CHECK(image.data.size() <= file.size() - 20);
    size_t pos = 0, last = 0;
    for (uint32_t c; tap_next_pulse(image, pos, c); last = pos) FUZZ_CHECK(pos > last && c >= 1);
    FUZZ_CHECK(pos <= image.data.size());
    TapImage again;
    FUZZ_CHECK(tap_parse(tap_file(image), again) && again.data == image.data && again.version == image.version);

    std::vector<uint8_t> block;
    unsigned blocks = 0;
    for (size_t at = 0, before = 0; kernal_tape_block(image, at, block); before = at, blocks++)
        FUZZ_CHECK(at > before && at <= image.data.size());
    if (built && !patched) FUZZ_CHECK(blocks == 4);
}

void check_t64(const std::vector<uint8_t>& file) {
    std::vector<TapeFile> files;
    if (!t64_parse(file, files)) return;
    for (const TapeFile& f : files) {
        FUZZ_CHECK(!f.data.empty() && f.data.size() <= file.size());
        FUZZ_CHECK(f.data.size() <= (f.end ? f.end : 0x10000u) - f.start || f.end <= f.start);
        FUZZ_CHECK(f.name.size() <= 16 && (f.type == 1 || f.type == 3));
        FUZZ_CHECK(kernal_header(f).size() == 192);
    }
}

// The image on the datasette with PLAY held and the motor on, under a
// processor running whatever the fill holds.
void play(const std::vector<uint8_t>& file) {
    InFuzzDir here;
    fuzz_new_machine(1);
    fuzz_write_file("tape.tap", file);
    if (tape_attach("tape.tap")) {
        tape_play();
        machine_start();
        for (int frame = 0; frame < 4; frame++) {
            memory[VIA1_BASE + VIA_PCR] = PCR_CA2_LOW;  // the motor on, whatever ran
            run_frame();
        }
    }
    tape_eject();
    fuzz_remove("tape.tap");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    FuzzInput in{data, size};
    const uint8_t mode = in.byte();
    bool patched;
    const std::vector<uint8_t> image = image_from(in, mode, patched);
    check_tap(image, patched, (mode & 3) == 2);
    check_t64(image);
    if (mode & 4) play(image);
    return 0;
}
