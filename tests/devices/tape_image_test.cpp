// The .tap and .t64 readers on whole, cut and damaged images, and the
// kernal format read back from the pulses the tests write.
#include <string>
#include <vector>

#include "core/cpu.h"
#include "core/hooks.h"
#include "core/via.h"
#include "devices/datasette.h"
#include "devices/kernal_tape.h"
#include "devices/tap.h"
#include "files_support.h"
#include "tape_image.h"

namespace {

const std::vector<TapeFile> FILES = {{1, 0x1001, 0x1004, "ONE", {1, 2, 3}}, {3, 0x2000, 0x2002, "TWO", {9, 8}}};

std::vector<uint32_t> pulses(const TapImage& image) {
    std::vector<uint32_t> out;
    size_t pos = 0;
    for (uint32_t c; tap_next_pulse(image, pos, c);) out.push_back(c);
    return out;
}

// Every block the kernal's format gives from the start.
std::vector<std::vector<uint8_t>> blocks(const std::vector<uint8_t>& file) {
    TapImage image;
    EXPECT_TRUE(tap_parse(file, image));
    std::vector<std::vector<uint8_t>> out;
    size_t pos = 0;
    for (std::vector<uint8_t> b; kernal_tape_block(image, pos, b);) out.push_back(b);
    return out;
}

TEST(TapImage, HeaderVersionsPausesAndCutImages) {
    const std::string head = "C64-TAPE-RAW";
    const struct {
        std::string file;
        bool parses;
        std::vector<uint32_t> pulses;
    } cases[] = {
        {"", false, {}},
        {head + std::string(7, 0), false, {}},  // a byte short of the header
        {head + std::string("\2\0\0\0\0\0\0\0", 8), false, {}},
        {"C64-TAPE-RAX" + std::string(8, 0) + "\x10", false, {}},
        {head + std::string("\0\0\0\0\3\0\0\0\x10\0\x20", 11), true, {128, 2048, 256}},
        {head + std::string("\1\0\0\0\x08\0\0\0\x10\0\x40\x0d\x03\0\x01\x02", 16), true, {128, 200000}},
        {head + std::string("\1\0\0\0\xff\xff\0\0\x10\x20\0\x01", 12), true, {128, 256}},  // length past the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.size());
        TapImage image;
        ASSERT_EQ(tap_parse(bytes_of(c.file), image), c.parses);
        EXPECT_EQ(pulses(image), c.pulses);
    }
    TapImage written;
    for (uint32_t c : {300u, 5000u, 8u}) tap_append_pulse(written, c);
    TapImage read;
    ASSERT_TRUE(tap_parse(tap_file(written), read));
    EXPECT_EQ(pulses(read), (std::vector<uint32_t>{304, 5000, 8}));
}

TEST(TapImage, KernalBlocksWholeCutAndMendedByTheRepeat) {
    const std::vector<uint8_t> tap = kernal_tap(FILES);
    const std::vector<std::vector<uint8_t>> whole = blocks(tap);
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_EQ(whole[0], kernal_header(FILES[0]));
    EXPECT_EQ(whole[1], FILES[0].data);
    EXPECT_EQ(whole[3], FILES[1].data);

    // Cut inside the last data block: the blocks before it only.
    EXPECT_EQ(blocks({tap.begin(), tap.end() - 600}).size(), 3u);
    // A long pulse in the first copy of the first data block, and one in the
    // next leader: the repeat reads, the leader is found after the glitch.
    std::vector<uint8_t> damaged = tap;
    const size_t second_block = 20 + 1500 + 80 + 2 * (20 * (9 + 192 + 1) + 2);
    damaged[second_block + 1500 + 30] = 85;
    damaged[second_block + 2 * 1500] = 85;
    EXPECT_EQ(blocks(damaged), whole);
    // Leader and nothing else, and pulses of any length: no block.
    EXPECT_TRUE(blocks(tap_file(TapImage{1, std::vector<uint8_t>(5000, 44)})).empty());
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); i++) noise[i] = uint8_t(i * 37 % 251 + 1);
    EXPECT_TRUE(blocks(tap_file(TapImage{1, noise})).empty());
}

TEST(T64Image, DirectoryEntriesAndDataCutOrMissing) {
    const std::vector<uint8_t> t64 = t64_of(FILES);
    std::vector<TapeFile> files;
    ASSERT_TRUE(t64_parse(t64, files));
    ASSERT_EQ(files.size(), 2u);
    for (size_t i = 0; i < 2; i++)  // type, addresses and name, and the data
        EXPECT_TRUE(kernal_header(files[i]) == kernal_header(FILES[i]) && files[i].data == FILES[i].data) << i;
    // Cut inside the last file: what is there, the end as given; before it:
    // the file is left out.
    ASSERT_TRUE(t64_parse({t64.begin(), t64.end() - 1}, files));
    EXPECT_EQ(files.back().data, std::vector<uint8_t>{9});
    EXPECT_EQ(files.back().end, 0x2002);
    ASSERT_TRUE(t64_parse({t64.begin(), t64.end() - 2}, files));
    EXPECT_EQ(files.size(), 1u);
    // An end below the start (some writers leave $0000) reads to the end of the file.
    std::vector<uint8_t> low_end = t64;
    low_end[64 + 32 + 4] = low_end[64 + 32 + 5] = 0;
    ASSERT_TRUE(t64_parse(low_end, files));
    EXPECT_EQ(files.back().data, FILES[1].data);
    // A directory claiming 65535 entries in a bare header; no signature.
    std::vector<uint8_t> bare(t64.begin(), t64.begin() + 64);
    bare[34] = bare[35] = 0xFF;
    EXPECT_TRUE(t64_parse(bare, files));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(t64_parse(bytes_of("C64S tapf image file" + std::string(60, 0)), files));
}

// What a loader timing the pulses sees: the read line's flag rises at the
// cycle each pulse ends, to within the instruction (a JMP loop: 3 cycles).
TEST(Datasette, EachPulseEndsAtItsCycleWhileTheMotorRuns) {
    new_machine(1);
    TempDir dir;
    TapImage image;
    const std::vector<uint32_t> lengths = {400, 1000, 352, 504, 680, 2040, 70000, 9};
    for (uint32_t c : lengths) tap_append_pulse(image, c);
    const std::vector<uint8_t> file = tap_file(image);
    write_file(dir.file("t.tap"), std::string(file.begin(), file.end()));
    capture_stdout([&] { ASSERT_TRUE(tape_attach(dir.file("t.tap"))); });
    tape_play();
    machine_start();
    memory[0x1000] = 0x4C, memory[0x1001] = 0x00, memory[0x1002] = 0x10;  // JMP $1000
    Register.PC = 0x1000;
    run_frame();  // no motor: no pulse
    EXPECT_FALSE(*Via2.ifr & IFR_CA1);
    memory[VIA1_BASE + VIA_PCR] = PCR_CA2_LOW;
    run_frame();  // the deck sees the motor at the frame's end
    std::vector<uint64_t> edges;
    for (unsigned step = 0; step < 100000 && edges.size() < lengths.size(); step++) {
        run_step();
        if (!(*Via2.ifr & IFR_CA1)) continue;
        edges.push_back(machine_cycle());
        *Via2.ifr &= uint8_t(~IFR_CA1);
    }
    ASSERT_EQ(edges.size(), lengths.size());
    for (size_t i = 1; i < edges.size(); i++) EXPECT_NEAR(double(edges[i] - edges[i - 1]), lengths[i], 3) << i;
    EXPECT_EQ(tape_status(), "Tape 000 STOP");  // the keys came up at the end
    tape_eject();
}

}  // namespace
