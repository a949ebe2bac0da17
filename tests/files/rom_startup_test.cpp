// Start-up with the real VIC 20 ROM images, up to the machine start.
#include "devices/kernal_trap.h"
#include "files_support.h"
#include "startup_support.h"

namespace {

TEST(StartUpWithRoms, RealRomsReachTheResetRoutine) {
    REQUIRE_ROMS();
    TempDir dir;
    link_roms(dir.path);
    InDir in(dir.path);
    EXPECT_EQ(start_here({"-nosound"}), BANNER + "Starting Tarvikon...\n");
    std::string kernal = read_file(shared_path("roms/kernel.ntsc"));
    ASSERT_EQ(kernal.size(), 8192u);
    EXPECT_TRUE(memory_holds(memory, 0xE000, kernal.substr(0, 0x43C)));
    EXPECT_TRUE(memory_holds(memory, 0xE43C, "TARVIKON 0.8"));
    // The rest as in the file but for the traps of the drives' load and save, the serial bus routines
    // and the tape's block read.
    for (uint16_t trap : {0xF566, 0xF58A, 0xF69D, 0xF6A3, 0xF8CE, 0xEE14, 0xEE17, 0xEEC0, 0xEECE, 0xEED3, 0xEEE4, 0xEEF6,
                          0xEF04, 0xEF19})
        kernal[trap - 0xE000] = char(TRAP_OPCODE);
    EXPECT_TRUE(memory_holds(memory, 0xE448, kernal.substr(0x448)));
    EXPECT_TRUE(memory_holds(memory, 0xC000, read_file(shared_path("roms/basic.rom"))));
    EXPECT_TRUE(memory_holds(memory, 0x8000, read_file(shared_path("roms/chargen.rom"))));
    machine_start();
    EXPECT_EQ(Register.PC, 0xFD22);
}

}  // namespace
