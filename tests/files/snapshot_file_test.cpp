// Snapshot files: what is refused, with its one line, leaving the machine
// as it was; what a later version may add that is skipped; the save's
// temporary file renamed into place.
#include <dirent.h>

#include <functional>

#include "core/memory.h"
#include "core/snapshot.h"
#include "core/tarvikon.h"
#include "files/snapshot_file.h"
#include "support.h"

namespace {

using Bytes = std::string;

uint32_t le32(const Bytes& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

// The file with its checksum made right again after a change.
Bytes resealed(Bytes b) {
    const uint32_t crc = crc32_of(reinterpret_cast<const uint8_t*>(b.data()), b.size() - 4);
    for (int i = 0; i < 4; i++) b[b.size() - 4 + i] = char(crc >> (8 * i));
    return b;
}

// Where each section starts, and where the checksum does.
std::vector<size_t> section_starts(const Bytes& b) {
    std::vector<size_t> starts;
    for (size_t at = 12; at < b.size() - 4; at += 1 + uint8_t(b[at]) + 4 + le32(b, at + 1 + uint8_t(b[at])))
        starts.push_back(at);
    starts.push_back(b.size() - 4);
    return starts;
}

class SnapshotFile : public testing::Test {
protected:
    TempDir dir;
    Bytes good;
    void SetUp() override {
        new_machine(1);
        ASSERT_TRUE(load_test_program("raster_bands_71") || !require_all());
        for (int i = 0; i < 2000; i++) run_step();
        ASSERT_EQ(capture_stdout([&] { save_snapshot_file(dir.file("good.snap").c_str()); }),
                  "Saving snapshot " + dir.file("good.snap") + "...OK\n");
        good = read_file(dir.file("good.snap"));
    }
    // Loads `bytes` as a file: what it says, and whether the machine stayed as it was.
    std::string load(const Bytes& bytes, bool agreed = false, bool* untouched = nullptr) {
        write_file(dir.file("x.snap"), bytes);
        const std::vector<uint8_t> before = save_machine_state(true);
        const std::string said = capture_stdout([&] { load_snapshot_file(dir.file("x.snap").c_str(), agreed); });
        if (untouched) *untouched = save_machine_state(true) == before;
        return said.substr(said.find("..."));
    }
};

TEST_F(SnapshotFile, BadFilesAreRefusedWithOneLineAndTheMachineUntouched) {
    for (int i = 0; i < 500; i++) run_step();  // the machine now differs from the file
    const std::vector<size_t> starts = section_starts(good);
    ASSERT_GE(starts.size(), 10u) << "header, the core's sections and the devices'";
    struct Case {
        std::string name;
        Bytes bytes;
        std::string said;
    };
    std::vector<Case> cases;
    for (size_t cut : starts)
        cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut), "...refused: cut short\n"});
    cases.push_back({"cut in the magic", good.substr(0, 5), "...refused: not a snapshot\n"});
    cases.push_back({"empty", "", "...refused: not a snapshot\n"});
    cases.push_back({"a BASIC program", "\x01\x10\x0a\x10\x0a\x00\x99\x20\x34\x32", "...refused: not a snapshot\n"});
    Bytes flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    cases.push_back({"one bit changed", flipped, "...refused: damaged (wrong checksum)\n"});
    Bytes future = good;
    future[8] = 2;
    cases.push_back({"a later version", resealed(future), "...refused: made by a later version (format 2)\n"});
    Bytes other_machine = good;
    other_machine[10] = 64;
    cases.push_back({"another machine", resealed(other_machine), "...refused: made for another machine\n"});
    Bytes ntsc = good;
    ntsc[11] = 0;
    cases.push_back({"the other standard", resealed(ntsc), "...refused: made for NTSC, the machine runs PAL\n"});
    Bytes no_cpu = good;
    no_cpu.replace(no_cpu.find("\x03" "cpu") + 1, 3, "CPU");
    cases.push_back({"no cpu section", resealed(no_cpu), "...refused: incomplete (no cpu section)\n"});
    Bytes wide_pc = good;
    wide_pc[wide_pc.find("\x02pc") + 3] = 3;  // the field's size
    cases.push_back({"a field of another size", resealed(wide_pc),
                     "...refused: damaged (a field of the wrong size or value)\n"});
    Bytes far_reply = good;
    far_reply[far_reply.find("\x09reply_pos") + 14] = 5;  // beyond the drive's reply of no bytes
    cases.push_back({"a drive's position beyond its bytes", resealed(far_reply),
                     "...refused: its drive8 cannot be restored\n"});
    for (const Case& c : cases) {
        bool untouched = false;
        EXPECT_EQ(load(c.bytes, false, &untouched), c.said) << c.name;
        EXPECT_TRUE(untouched) << c.name;
    }
    EXPECT_EQ(crc32_of(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u) << "the zlib CRC-32";
    EXPECT_EQ(capture_stdout([&] { load_snapshot_file(dir.file("none.snap").c_str(), false); }),
              "Loading snapshot " + dir.file("none.snap") + "...refused: cannot be read\n");
}

TEST_F(SnapshotFile, OtherRomsOnlyWhenAgreedAndUnknownSectionsSkipped) {
    for (int i = 0; i < 500; i++) run_step();
    memory[0xC123] ^= 0xFF;  // another BASIC
    bool untouched = false;
    EXPECT_EQ(load(good, false, &untouched), "...refused: made with other ROMs\n");
    EXPECT_TRUE(untouched);
    EXPECT_EQ(load(good, true, &untouched), "...OK, made with other ROMs\n");
    EXPECT_FALSE(untouched);
    memory[0xC123] ^= 0xFF;

    // A later version's section, before the checksum: skipped.
    Bytes later = good;
    later.insert(later.size() - 4, Bytes("\x06" "future" "\x03\x00\x00\x00" "abc", 14));
    for (int i = 0; i < 500; i++) run_step();
    EXPECT_EQ(load(resealed(later)), "...OK\n");
    EXPECT_EQ(save_machine_state(true), std::vector<uint8_t>(good.begin(), good.end()));
}

TEST_F(SnapshotFile, SaveReplacesTheFileWholeThroughATemporaryOne) {
    write_file(dir.file("old.snap"), "previous");
    capture_stdout([&] { EXPECT_TRUE(save_snapshot_file(dir.file("old.snap").c_str())); });
    EXPECT_EQ(read_file(dir.file("old.snap")), good);
    EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(save_snapshot_file(dir.file("no/such.snap").c_str())); }),
              "Saving snapshot " + dir.file("no/such.snap") + "...failed: No such file or directory\n");
    unsigned entries = 0;
    DIR* d = opendir(dir.path.c_str());
    while (dirent* e = readdir(d)) entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    closedir(d);
    EXPECT_EQ(entries, 2u) << "good.snap and old.snap, no temporary file left";
}

}  // namespace
