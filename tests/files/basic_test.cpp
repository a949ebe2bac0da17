// BASIC program files: saving and loading with the BASIC pointers, the
// expansion checks, memory images, bad files, and the dump.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "start/config.h"
#include "files_support.h"
#include "ui/headless.h"

namespace {

constexpr uint16_t END_POINTERS[] = {0x2D, 0x2F, 0x31, 0xAE, 0x35};

class BasicFiles : public testing::Test {
protected:
    TempDir dir;
    InDir in{dir.path};

    void SetUp() override {
        new_machine();
        headless.wrongmemory_dialogs = 0;
        headless.last_wrongmemory = -1;
    }
    void set_word(uint16_t addr, uint16_t value) {
        memory[addr] = uint8_t(value);
        memory[addr + 1] = uint8_t(value >> 8);
    }
    uint16_t word(uint16_t addr) { return uint16_t(memory[addr] | memory[addr + 1] << 8); }
    // A machine whose BASIC runs from `start`, with the zero page cleared.
    void basic_machine(uint16_t start, uint8_t expansion) {
        SetUp();
        std::memset(memory, 0, 0x100);
        set_word(0x2B, start);
        memdef = expansion;
        memexp = expansion;
    }
    std::string load(const char* name, int* result = nullptr) {
        return capture_stdout([&] {
            int r = readbasic(name);
            if (result) *result = r;
        });
    }
    std::string save(const char* name, int* result = nullptr) {
        return capture_stdout([&] {
            int r = writebasic(name);
            if (result) *result = r;
        });
    }
    // A refused load: only memexp, config and the dialog change.
    void expect_refused(const char* name, int needed) {
        std::string before(reinterpret_cast<const char*>(memory), MEMORY_SIZE);
        unsigned dialogs = headless.wrongmemory_dialogs;
        config = 0;
        int result = 0;
        EXPECT_EQ(load(name, &result), std::string("Loading program ") + name + "...");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(headless.wrongmemory_dialogs, dialogs + 1);
        EXPECT_EQ(headless.last_wrongmemory, needed);
        EXPECT_EQ(memexp, uint32_t(needed));
        EXPECT_EQ(config, 1);
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(memory), MEMORY_SIZE) == before);
    }
};

TEST_F(BasicFiles, SaveAndLoadRestoreProgramAndPointers) {
    basic_machine(0x1001, EXP_NONE);
    std::string program = pattern(0x233);
    std::memcpy(memory + 0x1001, program.data(), program.size());
    set_word(0x2D, 0x1234);
    int result = 0;
    EXPECT_EQ(save("prog.prg", &result), "Saving program prog.prg...wrote  563 bytes \n");
    EXPECT_EQ(result, 563);
    EXPECT_EQ(read_file("prog.prg"), header(0x01, 0x10) + program);

    // A fresh machine of the same kind.
    basic_machine(0x1001, EXP_NONE);
    EXPECT_EQ(load("prog.prg", &result), "Loading program prog.prg...got 563 bytes \n");
    EXPECT_EQ(result, 563);
    EXPECT_TRUE(memory_holds(memory, 0x1001, program));
    EXPECT_EQ(memory[0x1234], 0xFF);
    for (uint16_t pointer : END_POINTERS) EXPECT_EQ(word(pointer), 0x1234) << "pointer at " << pointer;
    EXPECT_EQ(memory[0xBA], 1);
    EXPECT_EQ(headless.wrongmemory_dialogs, 0u);

    // An end pointer with a low byte of $80 or more is taken whole.
    basic_machine(0x1201, EXP_8K);
    set_word(0x2D, 0x12A0);
    EXPECT_EQ(save("long.prg", &result), "Saving program long.prg...wrote  159 bytes \n");
    EXPECT_EQ(read_file("long.prg").size(), 161u);
}

TEST_F(BasicFiles, NothingToSave) {
    basic_machine(0x1001, EXP_NONE);
    set_word(0x2D, 0x1003);
    int result = 0;
    EXPECT_EQ(save("empty.prg", &result), "Saving program empty.prg...nothing to be saved...");
    EXPECT_EQ(result, -1);
    EXPECT_NE(access("empty.prg", F_OK), 0);

    // An end below the start is no program either.
    set_word(0x2D, 0x0FFF);
    EXPECT_EQ(save("wrapped.prg", &result), "Saving program wrapped.prg...nothing to be saved...");
    EXPECT_EQ(result, -1);
    EXPECT_NE(access("wrapped.prg", F_OK), 0);
}

TEST_F(BasicFiles, FailedSavesSayFailed) {
    basic_machine(0x1001, EXP_NONE);
    set_word(0x2D, 0x1100);
    mkdir("adir", 0755);
    int result = 0;
    EXPECT_EQ(save("adir", &result), "Saving program adir...failed\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(save("nodir/x.prg", &result), "Saving program nodir/x.prg...failed\n");
    EXPECT_EQ(result, -1);
    mkfifo("fifo.prg", 0644);
    EXPECT_EQ(save("fifo.prg", &result), "Saving program fifo.prg...failed\n");
    EXPECT_EQ(result, -1);
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full not available";
    EXPECT_EQ(save("/dev/full", &result), "Saving program /dev/full...failed\n");
    EXPECT_EQ(result, -1);
}

// A save that cannot be completed (here the file size limit stops it half
// way) must leave the program file that was there, byte for byte.
TEST_F(BasicFiles, FailedSaveKeepsTheOldFile) {
    write_file("old.prg", header(0x01, 0x10) + pattern(40));
    write_file("tarvikon.rc", std::string(15, '\x01'));
    basic_machine(0x1001, EXP_NONE);
    set_word(0x2D, 0x1001 + 3000);
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct rlimit small = old_limit;
    small.rlim_cur = 1000;
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = 0;
    std::string out = save("old.prg", &result);
    small.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int config_result = save_config();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);

    EXPECT_EQ(out, "Saving program old.prg...failed\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(read_file("old.prg"), header(0x01, 0x10) + pattern(40));
    EXPECT_EQ(config_result, -1);
    EXPECT_EQ(read_file("tarvikon.rc"), std::string(15, '\x01'));
    // Nothing but the two files is left behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(".")) entries += e.is_regular_file();
    EXPECT_EQ(entries, 2);
}

TEST_F(BasicFiles, SaveKeepsTheFilesPermissions) {
    write_file("perm.prg", "xx");
    chmod("perm.prg", 0640);
    basic_machine(0x1001, EXP_NONE);
    set_word(0x2D, 0x1100);
    int result = 0;
    save("perm.prg", &result);
    EXPECT_EQ(result, 0xFF);
    struct stat st;
    ASSERT_EQ(stat("perm.prg", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_size, 2 + 0xFF);
}

TEST_F(BasicFiles, ProgramsNeedTheirExpansion) {
    write_file("p04.prg", header(0x01, 0x04) + pattern(100));
    write_file("p10.prg", header(0x01, 0x10) + pattern(100));
    write_file("p12.prg", header(0x01, 0x12) + pattern(15000 - 2));
    write_file("p12_8k.prg", header(0x01, 0x12) + pattern(LIMIT_8K - 2));
    write_file("p12_16k.prg", header(0x01, 0x12) + pattern(LIMIT_8K - 1));
    write_file("p12_top16k.prg", header(0x01, 0x12) + pattern(LIMIT_16K - 2));
    write_file("p12_24k.prg", header(0x01, 0x12) + pattern(LIMIT_16K - 1));

    basic_machine(0x1201, EXP_8K);
    expect_refused("p10.prg", EXP_NONE);
    basic_machine(0x1001, EXP_NONE);
    expect_refused("p04.prg", EXP_3K);

    // Page $12 on a machine whose BASIC is elsewhere: the length decides.
    basic_machine(0x1001, EXP_NONE);
    expect_refused("p12_8k.prg", EXP_8K);
    expect_refused("p12_16k.prg", EXP_16K);
    expect_refused("p12_top16k.prg", EXP_16K);
    expect_refused("p12_24k.prg", EXP_24K);

    // BASIC at $1201: a longer program needs more than 8 KB in effect.
    basic_machine(0x1201, EXP_8K);
    expect_refused("p12.prg", EXP_16K);
    basic_machine(0x1201, EXP_16K);
    expect_refused("p12_24k.prg", EXP_24K);

    int result = 0;
    basic_machine(0x1201, EXP_16K);
    EXPECT_EQ(load("p12.prg", &result), "Loading program p12.prg...got 14998 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0x1201, pattern(14998)));
    EXPECT_EQ(word(0x2D), 0x1201 + 14998);
    basic_machine(0x1201, EXP_8K);
    EXPECT_EQ(load("p12_8k.prg", &result), "Loading program p12_8k.prg...got 11771 bytes \n");
    basic_machine(0x1201, EXP_24K);
    EXPECT_EQ(load("p12_24k.prg", &result), "Loading program p12_24k.prg...got 19964 bytes \n");
    basic_machine(0x0401, EXP_3K);
    EXPECT_EQ(load("p04.prg", &result), "Loading program p04.prg...got 100 bytes \n");
    EXPECT_EQ(word(0xAE), 0x0401 + 100);

    // At start-up the zero page still holds the fill: no BASIC start matches.
    SetUp();
    expect_refused("p10.prg", EXP_NONE);
}

TEST_F(BasicFiles, ImagesLoadAtTheirOwnAddress) {
    basic_machine(0x1001, EXP_NONE);
    set_word(0x2D, 0x1100);
    std::string data = pattern(3000);
    write_file("cart.prg", header(0x00, 0xA0) + data);
    int result = 0;
    EXPECT_EQ(load("cart.prg", &result), "Loading program cart.prg...to $a000...got 3000 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0xA000, data));
    EXPECT_EQ(rombank[10], BLOCK_ROM);
    EXPECT_EQ(rombank[11], BLOCK_ROM);
    EXPECT_EQ(config, 1);
    for (uint16_t pointer : END_POINTERS) EXPECT_EQ(word(pointer), 0xA000 + 3000);
    EXPECT_EQ(memory[0xBA], 1);

    // Any other page: its own address, two blocks marked, pointers kept.
    basic_machine(0x1001, EXP_NONE);
    set_word(0x2D, 0x1100);
    write_file("image.prg", header(0x10, 0x60) + data);
    EXPECT_EQ(load("image.prg"), "Loading program image.prg...to $6010...got 3000 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0x6010, data));
    EXPECT_EQ(rombank[6], BLOCK_ROM);
    EXPECT_EQ(rombank[7], BLOCK_ROM);
    EXPECT_EQ(word(0x2D), 0x1100);
    EXPECT_EQ(word(0xAE), 0);
    EXPECT_EQ(memory[0xBA], 1);

    // Over the system ROMs: loaded, but those blocks are never marked.
    basic_machine(0x1001, EXP_NONE);
    write_file("kernal.prg", header(0x00, 0xE0) + data);
    EXPECT_EQ(load("kernal.prg", &result), "Loading program kernal.prg...to $e000...got 3000 bytes \n");
    EXPECT_EQ(rombank[14], BLOCK_RAM);
    EXPECT_EQ(rombank[15], BLOCK_RAM);
    write_file("low.prg", header(0x00, 0x08) + data);
    load("low.prg");
    EXPECT_EQ(rombank[0], BLOCK_ROM);
    EXPECT_EQ(rombank[1], BLOCK_RAM);
}

TEST_F(BasicFiles, ImagesLoadWhatFitsAndSayWhatWasLeftOut) {
    // A memory image: at most 25000 bytes.
    basic_machine(0x1201, EXP_24K);
    write_file("big.prg", header(0x00, 0x20) + pattern(30000));
    int result = 0;
    EXPECT_EQ(load("big.prg", &result),
              "Loading program big.prg...to $2000...got 25000 bytes \n5000 bytes past $81a7 left out\n");
    EXPECT_EQ(result, 25000);
    EXPECT_EQ(memory[0x2000 + 25000], 0xFF);

    // And never past $FFFF; the top block has no block after it.
    basic_machine(0x1001, EXP_NONE);
    write_file("top.prg", header(0xF0, 0xFF) + pattern(100));
    EXPECT_EQ(load("top.prg", &result), "Loading program top.prg...to $fff0...got 16 bytes \n84 bytes past $ffff left out\n");
    EXPECT_TRUE(memory_holds(memory, 0xFFF0, pattern(16)));

    // Page $A0 fills $A000-$BFFF and leaves BASIC's image alone.
    for (size_t bytes : {8192, 8193}) {
        basic_machine(0x1001, EXP_NONE);
        write_file("a0.prg", header(0x00, 0xA0) + pattern(bytes));
        EXPECT_EQ(load("a0.prg", &result), std::string("Loading program a0.prg...to $a000...got 8192 bytes \n") +
                                               (bytes == 8193 ? "1 byte past $bfff left out\n" : ""));
        EXPECT_TRUE(memory_holds(memory, 0xA000, pattern(8192)));
        EXPECT_EQ(memory[0xC000], 0);
        EXPECT_EQ(word(0x2D), 0xC000);
    }
}

TEST_F(BasicFiles, ProgramsLoadWholeWhenTheRamHoldsThemAndElseNotAtAll) {
    // File lengths (header included) on both sides of each machine's end of
    // BASIC memory: $1DFF without expansion and with 3 KB, $3FFF, $5FFF and
    // $7FFF with 8, 16 and 24 KB.
    struct Case {
        uint16_t start;
        uint8_t expansion;
        size_t fits, too_long;
        const char* refusal;
    };
    const Case cases[] = {
        {0x1001, EXP_NONE, 3585, 3586, "3584 bytes do not fit in the memory from $1001 to $1dff, not loaded\n"},
        {0x0401, EXP_3K, 6657, 6658, "6656 bytes do not fit in the memory from $0401 to $1dff, not loaded\n"},
        {0x1201, EXP_24K, 28161, 28162, "28160 bytes do not fit in the memory from $1201 to $7fff, not loaded\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fits);
        const std::string whole = header(0x01, uint8_t(c.start >> 8)) + pattern(c.fits - 2);
        const std::string longer = header(0x01, uint8_t(c.start >> 8)) + pattern(c.too_long - 2, 7);
        write_file("fits.prg", whole);
        write_file("long.prg", longer);
        basic_machine(c.start, c.expansion);
        int result = 0;
        EXPECT_EQ(load("fits.prg", &result), "Loading program fits.prg...got " + std::to_string(c.fits - 2) + " bytes \n");
        EXPECT_TRUE(memory_holds(memory, c.start, whole.substr(2)));
        // The longer one changes nothing, not even the pointers.
        std::string before(reinterpret_cast<const char*>(memory), MEMORY_SIZE);
        EXPECT_EQ(load("long.prg", &result), "Loading program long.prg..." + std::string(c.refusal));
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(memory), MEMORY_SIZE) == before);
        EXPECT_EQ(headless.wrongmemory_dialogs, 0u);
    }

    // 27000 bytes load whole with 24 KB; 29000 are refused.
    basic_machine(0x1201, EXP_24K);
    write_file("27000.prg", header(0x01, 0x12) + pattern(27000 - 2));
    write_file("29000.prg", header(0x01, 0x12) + pattern(29000 - 2));
    EXPECT_EQ(load("27000.prg"), "Loading program 27000.prg...got 26998 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0x1201, pattern(26998)));
    EXPECT_EQ(load("29000.prg"),
              "Loading program 29000.prg...28998 bytes do not fit in the memory from $1201 to $7fff, not loaded\n");

    // A cartridge in the expansion area ends the RAM there.
    basic_machine(0x1201, EXP_24K);
    rombank[6] = BLOCK_ROM;
    EXPECT_EQ(load("27000.prg"),
              "Loading program 27000.prg...26998 bytes do not fit in the memory from $1201 to $5fff, not loaded\n");
}

TEST_F(BasicFiles, BadFilesLoadNothing) {
    write_file("none.prg", "");
    write_file("one.prg", "\x01");
    write_file("header.prg", header(0x01, 0x10));
    mkdir("dir.prg", 0755);
    mkfifo("fifo.prg", 0644);
    for (const char* name : {"none.prg", "one.prg", "dir.prg", "fifo.prg", "missing.prg"}) {
        SCOPED_TRACE(name);
        basic_machine(0x1001, EXP_NONE);
        std::string before(reinterpret_cast<const char*>(memory), MEMORY_SIZE);
        int result = 0;
        EXPECT_EQ(load(name, &result), std::string("Loading program ") + name + "...failed\n");
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(memory), MEMORY_SIZE) == before);
    }
    // A header alone is an empty program.
    basic_machine(0x1001, EXP_NONE);
    int result = 0;
    EXPECT_EQ(load("header.prg", &result), "Loading program header.prg...got 0 bytes \n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(word(0x2D), 0x1001);
}

TEST_F(BasicFiles, DumpWritesEveryAddress) {
    memory[0x0000] = 0x0A;
    memory[0x1234] = 0x00;
    memory[0xFFFF] = 0xEA;
    EXPECT_EQ(capture_stdout(dump), "Dump to disk...OK\n");
    std::string text = read_file("dump.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 65536);
    EXPECT_EQ(text.substr(0, 30), "Adr: 0 Opc: a\nAdr: 1 Opc: ff\nA");
    EXPECT_NE(text.find("\nAdr: 1234 Opc: 0\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 19), "\nAdr: ffff Opc: ea\n");
}

TEST_F(BasicFiles, DumpThatCannotBeWrittenEndsTheProcess) {
    mkdir("dump.txt", 0755);
    EXPECT_EXIT(dump(), testing::ExitedWithCode(255), "");
    rmdir("dump.txt");
    mkfifo("dump.txt", 0644);
    EXPECT_EXIT(dump(), testing::ExitedWithCode(255), "");
}

}  // namespace
