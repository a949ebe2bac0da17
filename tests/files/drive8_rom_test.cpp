// Drive 8 through the real kernal and BASIC, headless, with both kernals:
// commands typed into the keyboard buffer, results read from the screen
// matrix and the host folder or image.
#include <cstring>
#include <filesystem>

#include "core/cpu.h"
#include "core/kernal_trap.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/d64.h"
#include "files/drive8.h"
#include "files/fileio.h"
#include "files_support.h"
#include "screen.h"
#include "ui/headless.h"

namespace {

constexpr uint16_t KEY_BUFFER = 0x0277, KEY_COUNT = 0xC6;
constexpr unsigned KEY_BUFFER_SIZE = 10;
constexpr unsigned MAX_FRAMES = 600;

// A tokenised "10 PRINT 42" at $1001, as BASIC saves it.
const std::string PROGRAM = std::string("\x01\x10\x0a\x10\x0a\x00\x99\x20\x34\x32\x00\x00\x00", 13);

class Drive8Rom : public testing::TestWithParam<uint8_t> {
protected:
    TempDir dir;

    void SetUp() override {
        REQUIRE_ROMS();
        new_machine(GetParam());
        ASSERT_EQ(readrom(shared_path(GetParam() ? "roms/kernel.pal" : "roms/kernel.ntsc").c_str(), 0xE000, 8192), 0);
        ASSERT_EQ(readrom(shared_path("roms/basic.rom").c_str(), 0xC000, 8192), 0);
        ASSERT_EQ(readrom(shared_path("roms/chargen.rom").c_str(), 0x8000, 4096), 0);
        patch_rom_version();
        insert_memory_expansion();
        machine_start();
        capture_stdout([&] { ASSERT_TRUE(drive8_use_folder(dir.path)); });
        ASSERT_TRUE(run_until_ready(1));
    }

    // The rows joined and each run of spaces made one, so that text wrapped
    // onto the next row reads on.
    std::string screen() {
        std::string s;
        for (const std::string& row : read_matrix(memory).rows())
            for (char c : row)
                if (c != ' ' || s.empty() || s.back() != ' ') s += c;
        return s;
    }

    // Runs until `count` READY. prompts are on the screen after the cursor row.
    bool run_until_ready(unsigned count) {
        for (unsigned i = 0; i < MAX_FRAMES; i++) {
            run_frame();
            std::string s = screen();
            unsigned n = 0;
            for (size_t at = s.find("READY."); at != std::string::npos; at = s.find("READY.", at + 1)) n++;
            if (n >= count && memory[KEY_COUNT] == 0) return true;
        }
        return false;
    }

    // Puts text into the keyboard buffer, a bufferful at a time, and runs
    // until the kernal has taken all of it.
    void type(const std::string& text) {
        for (size_t at = 0; at < text.size(); at += KEY_BUFFER_SIZE) {
            std::string part = text.substr(at, KEY_BUFFER_SIZE);
            std::memcpy(memory + KEY_BUFFER, part.data(), part.size());
            memory[KEY_COUNT] = uint8_t(part.size());
            for (unsigned i = 0; i < MAX_FRAMES && memory[KEY_COUNT] != 0; i++) run_frame();
        }
        for (unsigned i = 0; i < 5; i++) run_frame();
    }

    // Types a direct command and runs until READY. follows it; the screen.
    std::string enter(const std::string& line) {
        type(line + "\r");
        for (unsigned i = 0; i < MAX_FRAMES; i++) {
            std::string s = screen();
            size_t ready = s.rfind("READY.");
            size_t typed = s.rfind(line);
            if (typed != std::string::npos && ready != std::string::npos && ready > typed) return s.substr(typed);
            run_frame();
        }
        ADD_FAILURE() << "no READY. after " << line << "\n" << screen();
        return screen();
    }

    void clear_screen() { type("\x93"); }
};

TEST_P(Drive8Rom, SaveNewLoadListAndVerify) {
    type("10 PRINT 42\r");
    std::string s = enter("SAVE \"HELLO\",8");
    EXPECT_NE(s.find("SAVING HELLO"), std::string::npos) << s;
    EXPECT_EQ(read_file(dir.file("hello.prg")), PROGRAM);

    clear_screen();
    enter("NEW");
    s = enter("LOAD \"HE*\",8");
    EXPECT_NE(s.find("SEARCHING FOR HE*"), std::string::npos) << s;
    EXPECT_NE(s.find("LOADING"), std::string::npos) << s;
    EXPECT_EQ(memory[KERNAL_STATUS], STATUS_END_OF_FILE);
    s = enter("LIST");
    EXPECT_NE(s.find("10 PRINT 42"), std::string::npos) << s;
    EXPECT_TRUE(memory_holds(memory, 0x1001, PROGRAM.substr(2)));

    clear_screen();
    s = enter("VERIFY \"HELLO\",8");
    EXPECT_NE(s.find("VERIFYING"), std::string::npos) << s;
    EXPECT_NE(s.find("OK"), std::string::npos) << s;
    type("10 PRINT 43\r");
    s = enter("VERIFY \"HELLO\",8");
    EXPECT_NE(s.find("?VERIFY ERROR"), std::string::npos) << s;
}

TEST_P(Drive8Rom, ReplaceOnlyWithAtZeroAndMissingFiles) {
    write_file(dir.file("Hello.PRG"), PROGRAM);
    type("10 PRINT 7\r");
    std::string s = enter("SAVE \"HELLO\",8");
    EXPECT_NE(s.find("?NOT OUTPUT FILE ERROR"), std::string::npos) << s;
    EXPECT_EQ(read_file(dir.file("Hello.PRG")), PROGRAM);
    s = enter("SAVE \"@0:HELLO\",8");
    EXPECT_EQ(s.find("ERROR"), std::string::npos) << s;
    EXPECT_NE(read_file(dir.file("Hello.PRG")), PROGRAM);
    EXPECT_FALSE(std::filesystem::exists(dir.file("hello.prg")));

    clear_screen();
    s = enter("LOAD \"NOPE\",8");
    EXPECT_NE(s.find("SEARCHING FOR NOPE"), std::string::npos) << s;
    EXPECT_NE(s.find("?FILE NOT FOUND ERROR"), std::string::npos) << s;
    // Other devices are as before: nothing answers on device 9.
    s = enter("LOAD \"NOPE\",9");
    EXPECT_NE(s.find("?DEVICE NOT PRESENT ERROR"), std::string::npos) << s;
}

TEST_P(Drive8Rom, DirectoryListsAsOnADrive) {
    write_file(dir.file("game.prg"), PROGRAM);
    write_file(dir.file("notes.txt"), "x");
    std::string s = enter("LOAD \"$\",8");
    EXPECT_NE(s.find("LOADING"), std::string::npos) << s;
    clear_screen();
    s = enter("LIST");
    EXPECT_NE(s.find("1 \"GAME\" PRG"), std::string::npos) << s;
    EXPECT_NE(s.find("PRG"), std::string::npos) << s;
    EXPECT_NE(s.find("BLOCKS FREE."), std::string::npos) << s;
    EXPECT_EQ(s.find("NOTES"), std::string::npos) << s;
}

TEST_P(Drive8Rom, ImageLoadsAbsoluteAndRuns) {
    D64Image image = d64_blank("TEST DISK", "TD");
    std::vector<uint8_t> prg(PROGRAM.begin(), PROGRAM.end());
    ASSERT_EQ(d64_write_file(image, "FIRST", prg, false), DiskStatus::OK);
    std::string path = dir.file("disk.d64");
    ASSERT_EQ(d64_write_image(path.c_str(), image), DiskStatus::OK);
    capture_stdout([&] { ASSERT_TRUE(drive8_attach_image(path)); });

    std::string s = enter("LOAD \"*\",8,1");
    EXPECT_NE(s.find("LOADING"), std::string::npos) << s;
    clear_screen();
    s = enter("RUN");
    EXPECT_NE(s.find(" 42"), std::string::npos) << s;

    enter("SAVE \"SECOND\",8");
    enter("LOAD \"$\",8");
    clear_screen();
    s = enter("LIST");
    EXPECT_NE(s.find("0 \"TEST DISK \" TD 2A 1 \"FIRST\" PRG 1 \"SECOND\" PRG 662 BLOCKS FREE."), std::string::npos) << s;
    D64Image saved;
    ASSERT_EQ(d64_read_image(path.c_str(), saved), DiskStatus::OK);
    DiskListing listing;
    ASSERT_EQ(d64_directory(saved, listing), DiskStatus::OK);
    ASSERT_EQ(listing.files.size(), 2u);
    EXPECT_EQ(listing.files[1].name, "SECOND");

    // A full disk refuses the save and the image file stays as it was.
    ASSERT_EQ(d64_write_file(saved, "BIG", std::vector<uint8_t>(662 * 254, 0x55), false), DiskStatus::OK);
    ASSERT_EQ(d64_write_image(path.c_str(), saved), DiskStatus::OK);
    capture_stdout([&] { ASSERT_TRUE(drive8_attach_image(path)); });
    std::string before = read_file(path);
    s = enter("SAVE \"THIRD\",8");
    EXPECT_NE(s.find("?NOT OUTPUT FILE ERROR"), std::string::npos) << s;
    EXPECT_EQ(read_file(path), before);

    // A chain that leaves the disk: a read error, and memory as it was.
    const DiskFile& first = listing.files[0];
    size_t at = 0;
    for (unsigned t = 1; t < first.track; t++) at += t <= 17 ? 21 : t <= 24 ? 19 : t <= 30 ? 18 : 17;
    saved.bytes[(at + first.sector) * 256] = 99;
    ASSERT_EQ(d64_write_image(path.c_str(), saved), DiskStatus::OK);
    capture_stdout([&] { ASSERT_TRUE(drive8_attach_image(path)); });
    type("NEW\r");
    s = enter("LOAD \"FIRST\",8");
    EXPECT_NE(s.find("?LOAD ERROR"), std::string::npos) << s;
    EXPECT_EQ(memory[0x1001], 0) << "the program area was written";
}

TEST(KernalTraps, OnlyTheVic20KernalAndOnlyDevice8) {
    REQUIRE_ROMS();
    new_machine(1);
    std::string kernal = read_file(shared_path("roms/kernel.pal"));
    ASSERT_EQ(kernal.size(), 8192u);
    // Another kernal (one byte differs where a trap continues) stays as it is.
    std::string other = kernal;
    other[0xF641 - 0xE000] = char(0xEA);
    std::memcpy(memory + 0xE000, other.data(), other.size());
    install_kernal_traps();
    EXPECT_TRUE(memory_holds(memory, 0xE000, other));

    std::memcpy(memory + 0xE000, kernal.data(), kernal.size());
    install_kernal_traps();
    install_kernal_traps();  // again, as after a second patch: still the same four bytes
    for (uint16_t trap : {0xF566, 0xF58A, 0xF69D, 0xF6A3}) {
        EXPECT_EQ(memory[trap], TRAP_OPCODE) << trap;
        memory[trap] = uint8_t(kernal[trap - 0xE000]);
    }
    EXPECT_TRUE(memory_holds(memory, 0xE000, kernal));
    install_kernal_traps();

    // Another device runs the instruction that was there: LDA #$60.
    memory[KERNAL_DEVICE] = 9;
    Register.PC = 0xF566;
    unsigned halts = headless.halt_dialogs;
    execute_instruction();
    EXPECT_EQ(Register.A, 0x60);
    EXPECT_EQ(Register.PC, 0xF568);
    // The opcode anywhere else halts as before.
    memory[0x1000] = TRAP_OPCODE;
    Register.PC = 0x1000;
    execute_instruction();
    EXPECT_EQ(headless.halt_dialogs, halts + 1);
}

INSTANTIATE_TEST_SUITE_P(Kernals, Drive8Rom, testing::Values(uint8_t(0), uint8_t(1)),
                         [](const testing::TestParamInfo<uint8_t>& p) { return p.param ? "PAL" : "NTSC"; });

}  // namespace
