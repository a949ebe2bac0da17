// System ROM and cartridge loaders: suffix rules, headers, block marks,
// the version patch, the start-up layout and bad files.
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "start/launch.h"
#include "files_support.h"

namespace {

class Cartridge : public testing::Test {
protected:
    TempDir dir;
    InDir in{dir.path};

    void SetUp() override { new_machine(); }
    void TearDown() override { starting_up = false; }

    std::string load(const char* name) {
        return capture_stdout([&] { load_game_cartridge(name); });
    }
    bool fill_at(uint32_t address, size_t n) { return memory_holds(memory, address, std::string(n, '\xFF')); }
    std::string marked() {
        std::string s;
        for (uint8_t state : rombank) s += char('0' + state);
        return s;
    }
};

TEST_F(Cartridge, RawImageWithHeaderLoadsAtItsPage) {
    std::string data = pattern(4096);
    write_file("x.a0", header(0x00, 0xA0) + data);
    EXPECT_EQ(load("x.a0"), "Loading game cartridge x.a0 at $a000......header found, address $a000...got 4096 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
    EXPECT_TRUE(fill_at(0xB000, 0x1000));
    EXPECT_EQ(marked(), "0000000000200000");  // 4096 bytes are not more than 4096

    // The header's low byte is ignored and its page wins over the suffix,
    // while the blocks marked still follow the suffix.
    new_machine();
    data = pattern(8192, 3);
    write_file("y.a0", header(0x34, 0x60) + data);
    EXPECT_EQ(load("y.a0"), "Loading game cartridge y.a0 at $a000......header found, address $6000...got 8192 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0x6000, data));
    EXPECT_TRUE(fill_at(0xA000, 0x2000));
    EXPECT_EQ(marked(), "0000000000220000");
}

TEST_F(Cartridge, RawImageWithoutHeaderGoesWhereTheSuffixSays) {
    struct Case {
        const char* name;
        size_t size;
        uint32_t address;
        const char* text;
        const char* blocks;
    } cases[] = {
        {"game.a0", 8192, 0xA000, " at $a000...", "0000000000220000"},
        {"GAME.A0", 8192, 0xA000, " at $a000...", "0000000000220000"},
        {"game.a", 8192, 0xA000, " at $a000...", "0000000000220000"},
        {"part.20", 8192, 0x2000, " at $2000...", "0022000000000000"},
        {"part.60", 4096, 0x6000, " at $6000...", "0000002000000000"},
        {"part.6x", 5000, 0x6000, " at $6000...", "0000002200000000"},
        {"part.b0", 4096, 0xB000, " at $b000...", "0000000000020000"},
        {"Part.B", 4096, 0xB000, " at $b000...", "0000000000020000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        new_machine();
        std::string data = pattern(c.size, uint8_t(c.size));
        write_file(c.name, data);
        EXPECT_EQ(load(c.name), std::string("Loading game cartridge ") + c.name + c.text + "got " +
                                    std::to_string(c.size) + " bytes \n");
        EXPECT_TRUE(memory_holds(memory, c.address, data));
        EXPECT_EQ(marked(), c.blocks);
    }
}

TEST_F(Cartridge, NamesWithoutAUsableSuffixLoadAtA000) {
    std::string data = pattern(8192);
    write_file("game", data);
    EXPECT_EQ(load("game"), "Loading game cartridge game...no suffix, loading cart at $a000...got 8192 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
    EXPECT_EQ(marked(), "0000000000220000");

    // The first dot of the file's own name counts.
    for (const char* name : {"game.x0", "game.c0", "game.p", "game.", "x.c0.prg"}) {
        SCOPED_TRACE(name);
        new_machine();
        write_file(name, data);
        EXPECT_EQ(load(name), std::string("Loading game cartridge ") + name +
                                  "...no valid suffix, loading cart at $a000...got 8192 bytes \n");
        EXPECT_TRUE(memory_holds(memory, 0xA000, data));
        EXPECT_EQ(marked(), "0000000000220000");
    }
}

TEST_F(Cartridge, DotsInFoldersDoNotChooseTheLoader) {
    const std::string here = dir.path.substr(dir.path.rfind('/') + 1);
    for (const char* folder : {"games.v2", ".hidden", "john.doe", "v1.2"}) mkdir(folder, 0755);
    struct Case {
        std::string name;
        const char* text;
        uint32_t address;
    } cases[] = {
        {"./x.a0", " at $a000...", 0xA000},
        {"../" + here + "/x.60", " at $6000...", 0x6000},
        {"games.v2/x.20", " at $2000...", 0x2000},
        {".hidden/x.b0", " at $b000...", 0xB000},
        {"john.doe/c.60", " at $6000...", 0x6000},
        {"v1.2/game", "...no suffix, loading cart at $a000...", 0xA000},
        {"john.doe/game.v2.a0", "...no valid suffix, loading cart at $a000...", 0xA000},  // the name's first dot
        {"v1.2/demo.prg", "Loading program v1.2/demo.prg...to $a000...", 0xA000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        new_machine();
        std::string data = pattern(4096, uint8_t(c.address >> 12));
        write_file(c.name, c.name.ends_with(".prg") ? header(0, 0xA0) + data : data);
        EXPECT_EQ(load(c.name.c_str()), "Loading game cartridge " + c.name + c.text + "got 4096 bytes \n");
        EXPECT_TRUE(memory_holds(memory, c.address, data));
    }
}

TEST_F(Cartridge, HeaderCartridgeLoadsEveryChipWhateverItsName) {
    auto chip = [](uint16_t bank, uint16_t address, const std::string& data) {
        std::string packet = "CHIP";
        uint32_t length = uint32_t(16 + data.size());
        for (int shift : {24, 16, 8, 0}) packet += char(length >> shift);
        packet += std::string{0, 0, char(bank >> 8), char(bank), char(address >> 8), char(address),
                              char(data.size() >> 8), char(data.size())};
        return packet + data;
    };
    std::string head = "VIC20 CARTRIDGE " + std::string{0, 0, 0, 0x50} + std::string(0x50 - 0x14, '\0');
    std::string low = pattern(8192, 3), high = pattern(4096, 5);
    write_file("game.prg", head + chip(0, 0xA000, low) + chip(0, 0x6000, high) + chip(1, 0xA000, high) +
                               chip(0, 0xE000, high) + "CHIP");
    EXPECT_EQ(load("game.prg"), "Loading game cartridge game.prg...cartridge with header...at $a000...got 8192 bytes"
                                "...at $6000...got 4096 bytes...chip for $a000 bank 1 left out"
                                "...chip for $e000 bank 0 left out...damaged chip packet\n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, low));
    EXPECT_TRUE(memory_holds(memory, 0x6000, high));
    EXPECT_EQ(marked(), "0000002000220000");

    write_file("empty.crt", head);
    EXPECT_EQ(load("empty.crt"), "Loading game cartridge empty.crt...cartridge with header...no chip...failed\n");
}

TEST_F(Cartridge, CrtImages) {
    // 16 KB: the first half at $6000, the second at $A000.
    std::string low = pattern(8192, 5), high = pattern(8192, 9);
    write_file("x.crt", low + high);
    EXPECT_EQ(load("x.crt"),
              "Loading game cartridge x.crt...16k image...at $6000...got 8192 bytes...at $a000...got 8192 bytes\n");
    EXPECT_TRUE(memory_holds(memory, 0x6000, low));
    EXPECT_TRUE(memory_holds(memory, 0xA000, high));
    EXPECT_EQ(marked(), "0000002200220000");

    // 8193 bytes count as a header and 8191 data bytes.
    new_machine();
    std::string data = pattern(8191, 11);
    write_file("y.CR", header(0, 0xA0) + data);
    EXPECT_EQ(load("y.CR"), "Loading game cartridge y.CR...header found...at $a000...got 8191 bytes\n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
    EXPECT_EQ(memory[0xBFFF], 0xFF);

    // A header elsewhere loads there, but the $A000 blocks are marked.
    new_machine();
    data = pattern(4096, 13);
    write_file("z.crt", header(0, 0x20) + data);
    EXPECT_EQ(readcrt("z.crt"), 4096);
    EXPECT_TRUE(memory_holds(memory, 0x2000, data));
    EXPECT_EQ(marked(), "0000000000220000");

    // Without a header the image goes to $A000.
    new_machine();
    data = pattern(4000, 17);
    write_file("w.crt", data);
    EXPECT_EQ(capture_stdout([] { readcrt("w.crt"); }), "...at $a000...got 4000 bytes\n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
}

TEST_F(Cartridge, ProgramSuffixGoesToTheBasicLoader) {
    std::string data = pattern(300);
    write_file("demo.prg", header(0, 0xA0) + data);
    EXPECT_EQ(load("demo.prg"), "Loading game cartridge demo.prgLoading program demo.prg...to $a000...got 300 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
    EXPECT_EQ(marked(), "0000000000220000");
}

TEST_F(Cartridge, MissingFilesKeepTheFirstMarkAndTheFill) {
    EXPECT_EQ(load("gone.a0"), "Loading game cartridge gone.a0 at $a000...failed\n");
    EXPECT_EQ(marked(), "0000000000200000");
    EXPECT_TRUE(fill_at(0xA000, 0x2000));

    new_machine();
    EXPECT_EQ(load("gone.crt"), "Loading game cartridge gone.crtfailed\n");
    EXPECT_EQ(marked(), "0000000000000000");
    EXPECT_EQ(readfile("gone", 0xA000, 0x2000), -1);
}

TEST_F(Cartridge, FilesThatAreNoImagesFailCleanly) {
    mkdir("dir.a0", 0755);
    mkfifo("pipe.a0", 0644);  // would block a plain open or read
    write_file("empty.a0", "");
    mkfifo("pipe.crt", 0644);
    write_file("empty.crt", "");
    for (const char* name : {"dir.a0", "pipe.a0", "empty.a0"}) {
        SCOPED_TRACE(name);
        new_machine();
        int result = 0;
        EXPECT_EQ(capture_stdout([&] { result = readfile(name, 0xA000, 0x2000); }), "failed\n");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(load(name), std::string("Loading game cartridge ") + name + " at $a000...failed\n");
        EXPECT_EQ(marked(), "0000000000200000");
        EXPECT_TRUE(fill_at(0xA000, 0x2000));
    }
    for (const char* name : {"dir.a0", "pipe.crt", "empty.crt"}) {
        SCOPED_TRACE(name);
        new_machine();
        int result = 0;
        EXPECT_EQ(capture_stdout([&] { result = readcrt(name); }), "failed\n");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(marked(), "0000000000000000");
    }
}

TEST_F(Cartridge, LoadsStopAtTheEndOfTheAddressSpace) {
    // A header page of $FF: only the last 256 bytes of the image can take data.
    std::string data = pattern(8192);
    write_file("top.a0", header(0, 0xFF) + data);
    int result = 0;
    EXPECT_EQ(capture_stdout([&] { result = readfile("top.a0", 0xA000, 0x2000); }),
              "...header found, address $ff00...got 256 bytes \n7936 bytes past $ffff left out\n");
    EXPECT_EQ(result, 256);
    EXPECT_TRUE(memory_holds(memory, 0xFF00, data.substr(0, 256)));

    write_file("raw", pattern(16384));
    EXPECT_EQ(capture_stdout([&] { result = readfile("raw", 0xFFF0, 0x2000); }),
              "got 16 bytes \n16368 bytes past $ffff left out\n");
    EXPECT_EQ(result, 16);

    write_file("top.crt", header(0, 0xF8) + data);
    EXPECT_EQ(readcrt("top.crt"), 2048);
    EXPECT_TRUE(memory_holds(memory, 0xF800, data.substr(0, 2048)));

    EXPECT_EQ(capture_stdout([&] { result = readrom("raw", 0xF000, 8192); }), "4096 failed !\n");
    EXPECT_EQ(result, -1);
}

TEST_F(Cartridge, AHugeFileIsNotReadWhole) {
    int fd = open("huge.a0", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_NE(fd, -1);
    ASSERT_EQ(ftruncate(fd, 100 << 20), 0);  // sparse: reads as zeros
    close(fd);
    memory[0xBFFF] = memory[0xC000] = 0x55;
    EXPECT_EQ(load("huge.a0"),
              "Loading game cartridge huge.a0 at $a000...got 8192 bytes \n104849408 bytes past $bfff left out\n");
    EXPECT_EQ(memory[0xBFFF], 0);     // the last byte read
    EXPECT_EQ(memory[0xC000], 0x55);  // BASIC's image untouched
    EXPECT_EQ(marked(), "0000000000220000");
    EXPECT_EQ(readcrt("huge.a0"), 8192);
}

TEST_F(Cartridge, ImagesLoadOnlyWhatTheirAreaHoldsAndSaySo) {
    struct Case {
        const char* name;
        size_t bytes;
        uint16_t area, area_size;
        const char* text;
    };
    const Case cases[] = {
        {"x.60", 8192, 0x6000, 8192, " at $6000...got 8192 bytes \n"},
        {"x.60", 8193, 0x6000, 8192, " at $6000...got 8192 bytes \n1 byte past $7fff left out\n"},
        {"x.b0", 4096, 0xB000, 4096, " at $b000...got 4096 bytes \n"},
        {"x.b0", 4097, 0xB000, 4096, " at $b000...got 4096 bytes \n1 byte past $bfff left out\n"},
        {"x.a0", 16384, 0xA000, 8192, " at $a000...got 8192 bytes \n8192 bytes past $bfff left out\n"},
        {"x.20", 16384, 0x2000, 8192, " at $2000...got 8192 bytes \n8192 bytes past $3fff left out\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.bytes));
        new_machine();
        std::string image = pattern(c.bytes);
        write_file(c.name, image);
        const uint16_t area_end = uint16_t(c.area + c.area_size);
        const std::string beyond(reinterpret_cast<const char*>(memory + area_end), 0x1000);
        EXPECT_EQ(load(c.name), "Loading game cartridge " + std::string(c.name) + c.text);
        EXPECT_TRUE(memory_holds(memory, c.area, image.substr(0, c.area_size)));
        EXPECT_TRUE(memory_holds(memory, area_end, beyond));  // character ROM, BASIC or the next block untouched
    }
    // A .crt image past 16 KB says so too.
    new_machine();
    write_file("x.crt", pattern(16385));
    EXPECT_EQ(load("x.crt"), "Loading game cartridge x.crt...16k image...at $6000...got 8192 bytes...at $a000...got "
                             "8192 bytes\n1 byte past $bfff left out\n");
}

TEST_F(Cartridge, SystemRomImagesMustBeComplete) {
    std::string image = pattern(5000);
    write_file("rom", image);
    EXPECT_EQ(readrom("rom", 0x8000, 4096), 0);
    EXPECT_TRUE(memory_holds(memory, 0x8000, image.substr(0, 4096)));
    EXPECT_EQ(memory[0x9000], 0);  // bytes past the size are not read

    // A short image leaves the one in memory whole: the reset goes on with
    // the old kernal when the new one cannot be read.
    std::string old_image = pattern(8192, 33);
    std::memcpy(memory + 0xC000, old_image.data(), old_image.size());
    int result = 0;
    EXPECT_EQ(capture_stdout([&] { result = readrom("rom", 0xC000, 8192); }), "5000 failed !\n");
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(memory_holds(memory, 0xC000, old_image));
    EXPECT_EQ(capture_stdout([&] { result = readrom("none", 0xC000, 8192); }), "failed\n");
    EXPECT_EQ(result, -1);
    mkdir("romdir", 0755);
    EXPECT_EQ(capture_stdout([&] { result = readrom("romdir", 0xC000, 8192); }), "failed\n");
    EXPECT_EQ(result, -1);
}

TEST_F(Cartridge, VersionPatch) {
    std::string kernal = pattern(8192, 21);
    std::memcpy(memory + 0xE000, kernal.data(), kernal.size());
    verbose = 1;
    EXPECT_EQ(capture_stdout(patch_rom_version), "Patching ROM with Tarvikon Version...OK\n");
    verbose = 0;
    EXPECT_TRUE(memory_holds(memory, 0xE43C, "TARVIKON 0.8"));
    EXPECT_TRUE(memory_holds(memory, 0xE000, kernal.substr(0, 0x43C)));
    EXPECT_TRUE(memory_holds(memory, 0xE448, kernal.substr(0x448)));

    std::memcpy(memory + 0xE000, kernal.data(), kernal.size());
    ram = NO_VERSION_PATCH;
    EXPECT_EQ(capture_stdout(patch_rom_version), "");
    EXPECT_TRUE(memory_holds(memory, 0xE000, kernal));
}

TEST_F(Cartridge, StartUpLayout) {
    // Expansion in effect with no cartridge.
    memdef = EXP_16K;
    EXPECT_EQ(capture_stdout(insert_memory_expansion), "");
    EXPECT_EQ(marked(), "1000001100000000");

    // A cartridge argument makes the machine unexpanded and keeps its ROM;
    // at start-up a configured expansion then counts as changed.
    new_machine();
    memexp = EXP_16K;
    memdef = EXP_16K;
    starting_up = true;
    write_file("c.20", pattern(8192));
    load("c.20");
    EXPECT_EQ(memdef, 0);
    EXPECT_EQ(config, 1);
    verbose = 1;
    EXPECT_EQ(capture_stdout(insert_memory_expansion), "Inserting memory expansion cartridge...OK\n");
    verbose = 0;
    EXPECT_EQ(marked(), "1022111100000000");

    // From the dialog (not at start-up) config stays as it was.
    new_machine();
    starting_up = false;
    memexp = EXP_8K;
    load("c.20");
    EXPECT_EQ(config, 0);

    // An expansion index beyond the table leaves every block RAM.
    new_machine();
    memdef = 9;
    insert_memory_expansion();
    EXPECT_EQ(marked(), "0000000000000000");
}

TEST_F(Cartridge, RamOverrideMakesTheCartridgeWritable) {
    std::string data = pattern(8192);
    write_file("x.a0", data);
    load("x.a0");
    EXPECT_EQ(capture_stdout(apply_ram_override), "");
    EXPECT_EQ(rombank[10], BLOCK_ROM);

    ram = RAM_AT_A000;
    EXPECT_EQ(capture_stdout(apply_ram_override), "Using cartridge memory space $a000-$bfff as RAM...OK\n");
    EXPECT_EQ(rombank[10], BLOCK_RAM);
    EXPECT_EQ(rombank[11], BLOCK_RAM);
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
    WRITMEM(0xA000, 0x99);
    EXPECT_EQ(memory[0xA000], 0x99);
}

}  // namespace
