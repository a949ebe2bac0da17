// Drive 8 through the real kernal and BASIC, headless, with both kernals:
// commands typed into the keyboard buffer, results read from the screen
// matrix and the host folder or image.
#include <cstring>
#include <filesystem>

#include "core/cpu.h"
#include "devices/kernal_trap.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "devices/d64.h"
#include "devices/drive8.h"
#include "files_support.h"
#include "basic_session.h"
#include "screen.h"
#include "ui/headless.h"

namespace {

const std::string& PROGRAM = PRINT_42_PROGRAM;

class Drive8Rom : public BasicSession {
protected:
    TempDir dir;

    void SetUp() override {
        REQUIRE_ROMS();
        ASSERT_NO_FATAL_FAILURE(boot());
        capture_stdout([&] { ASSERT_TRUE(drive8_use_folder(dir.path)); });
    }
};

TEST_P(Drive8Rom, SaveNewLoadListAndVerify) {
    type("10 PRINT 42\r");
    shows(enter("SAVE \"HELLO\",8"), {"SAVING HELLO"});
    EXPECT_EQ(read_file(dir.file("hello.prg")), PROGRAM);

    clear_screen();
    enter("NEW");
    shows(enter("LOAD \"HE*\",8"), {"SEARCHING FOR HE*", "LOADING"});
    EXPECT_EQ(memory[KERNAL_STATUS], STATUS_END_OF_FILE);
    shows(enter("LIST"), {"10 PRINT 42"});
    EXPECT_TRUE(memory_holds(memory, 0x1001, PROGRAM.substr(2)));

    clear_screen();
    shows(enter("VERIFY \"HELLO\",8"), {"VERIFYING", "OK"});
    type("10 PRINT 43\r");
    shows(enter("VERIFY \"HELLO\",8"), {"?VERIFY ERROR"});
}

TEST_P(Drive8Rom, ReplaceOnlyWithAtZeroAndMissingFiles) {
    write_file(dir.file("Hello.PRG"), PROGRAM);
    type("10 PRINT 7\r");
    shows(enter("SAVE \"HELLO\",8"), {"?NOT OUTPUT FILE ERROR"});
    EXPECT_EQ(read_file(dir.file("Hello.PRG")), PROGRAM);
    std::string s = enter("SAVE \"@0:HELLO\",8");
    EXPECT_EQ(s.find("ERROR"), std::string::npos) << s;
    EXPECT_NE(read_file(dir.file("Hello.PRG")), PROGRAM);
    EXPECT_FALSE(std::filesystem::exists(dir.file("hello.prg")));

    clear_screen();
    shows(enter("LOAD \"NOPE\",8"), {"SEARCHING FOR NOPE", "?FILE NOT FOUND ERROR"});
    // Other devices are as before: nothing answers on device 9.
    shows(enter("LOAD \"NOPE\",9"), {"?DEVICE NOT PRESENT ERROR"});
}

TEST_P(Drive8Rom, DirectoryListsAsOnADrive) {
    write_file(dir.file("game.prg"), PROGRAM);
    write_file(dir.file("notes.txt"), "x");
    shows(enter("LOAD \"$\",8"), {"LOADING"});
    clear_screen();
    std::string s = enter("LIST");
    shows(s, {"1 \"GAME\" PRG", "BLOCKS FREE."});
    EXPECT_EQ(s.find("NOTES"), std::string::npos) << s;
}

TEST_P(Drive8Rom, ImageLoadsAbsoluteAndRuns) {
    D64Image image = d64_blank("TEST DISK", "TD");
    ASSERT_EQ(d64_write_file(image, "FIRST", bytes_of(PROGRAM), false), DiskStatus::OK);
    std::string path = dir.file("disk.d64");
    ASSERT_EQ(d64_write_image(path.c_str(), image), DiskStatus::OK);
    capture_stdout([&] { ASSERT_TRUE(drive8_attach_image(path)); });

    shows(enter("LOAD \"*\",8,1"), {"LOADING"});
    clear_screen();
    shows(enter("RUN"), {" 42"});

    enter("SAVE \"SECOND\",8");
    enter("LOAD \"$\",8");
    clear_screen();
    shows(enter("LIST"), {"0 \"TEST DISK \" TD 2A 1 \"FIRST\" PRG 1 \"SECOND\" PRG 662 BLOCKS FREE."});
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
    shows(enter("SAVE \"THIRD\",8"), {"?NOT OUTPUT FILE ERROR"});
    EXPECT_EQ(read_file(path), before);

    // A chain that leaves the disk: a read error, and memory as it was.
    saved.bytes[d64_offset(listing.files[0].track, listing.files[0].sector)] = 99;
    ASSERT_EQ(d64_write_image(path.c_str(), saved), DiskStatus::OK);
    capture_stdout([&] { ASSERT_TRUE(drive8_attach_image(path)); });
    type("NEW\r");
    shows(enter("LOAD \"FIRST\",8"), {"?LOAD ERROR"});
    EXPECT_EQ(memory[0x1001], 0) << "the program area was written";
}

TEST_P(Drive8Rom, OtherDevicesAndPeekSeeTheKernal) {
    shows(enter("LOAD \"X\",9"), {"?DEVICE NOT PRESENT"});
    shows(enter("PRINT PEEK(62822) PEEK(62858) PEEK(63133)"), {" 169 169 32 "});  // the trap points
}

TEST(KernalTraps, OnlyTheVic20KernalAndOnlyDevice8) {
    REQUIRE_ROMS();
    new_machine(1);
    std::string kernal = read_file(shared_path("roms/kernel.pal"));
    ASSERT_EQ(kernal.size(), 8192u);
    // Another kernal (one byte differs where a trap continues) stays as it is.
    std::string other = kernal;
    other[0xF641 - 0xE000] = char(0xEA);
    other[0xF957 - 0xE000] = char(0xEA);  // and where the tape's trap continues
    other[0xEF1A - 0xE000] = char(0xEA);  // and in the serial bus routines
    std::memcpy(memory + 0xE000, other.data(), other.size());
    install_kernal_traps();
    EXPECT_TRUE(memory_holds(memory, 0xE000, other));

    std::memcpy(memory + 0xE000, kernal.data(), kernal.size());
    install_kernal_traps();
    install_kernal_traps();  // again, as after a second patch: still the same bytes
    // The drives' load and save, the tape's, the serial bus routines'.
    for (uint16_t trap : {0xF566, 0xF58A, 0xF69D, 0xF6A3, 0xF8CE, 0xEE14, 0xEE17, 0xEEC0, 0xEECE, 0xEED3, 0xEEE4, 0xEEF6,
                          0xEF04, 0xEF19}) {
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
    // Data reads see the kernal's own bytes, so a copy of the kernal in RAM
    // is the kernal and runs as such: LDA #$60 at the copy too.
    for (uint16_t a = 0xE000; a != 0; a++) memory[a - 0xC000] = READMEM(a);  // to $2000-$3FFF
    EXPECT_TRUE(memory_holds(memory, 0x2000, kernal));
    Register.PC = 0xF566 - 0xC000;
    Register.A = 0;
    execute_instruction();
    EXPECT_EQ(Register.A, 0x60);
    EXPECT_EQ(headless.halt_dialogs, halts);
    // The opcode anywhere else halts as before.
    memory[0x1000] = TRAP_OPCODE;
    Register.PC = 0x1000;
    execute_instruction();
    EXPECT_EQ(headless.halt_dialogs, halts + 1);
}

INSTANTIATE_TEST_SUITE_P(Kernals, Drive8Rom, testing::Values(uint8_t(0), uint8_t(1)), kernal_name);

}  // namespace
