// The main loop: step order, interrupt delivery, frame skipping, delay,
// reset and shut-down.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/cpu.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "sound/sound.h"
#include "support.h"
#include "ui/headless.h"

namespace {

constexpr uint8_t NOP = 0xEA;

class MainLoop : public testing::Test {
protected:
    void SetUp() override {
        new_machine(1);
        // NOPs everywhere the processor may run, the reset vector at $1000.
        std::memset(memory + 0x1000, NOP, 0x1000);
        std::memset(memory + 0xE000, NOP, 0x2000);
        memory[0xFFFC] = 0x00;
        memory[0xFFFD] = 0x10;
        machine_start();
        headless = HeadlessCounters{};
    }
    uint16_t via2_timer1() const { return uint16_t(*Via2.t1cl | *Via2.t1ch << 8); }
};

TEST_F(MainLoop, MachineStartsAtTheResetVectorWithQuietChips) {
    EXPECT_EQ(Register.PC, 0x1000);
    EXPECT_EQ(Register.SP, 0);
    EXPECT_EQ(Flags[FLAG_5], 1);
    EXPECT_EQ(Flags[FLAG_B], 1);
    EXPECT_EQ(Flags[FLAG_I], 0);
    EXPECT_EQ(via2_timer1(), 0xAAAA);
    EXPECT_EQ(memory[VIA2_BASE + VIA_ORB], 0xFF);  // joystick lines copied in
    EXPECT_EQ(doublesize, 8);                      // VIC registers decoded from 0
}

TEST_F(MainLoop, NmiIsTakenOnlyOnARisingLine) {
    memory[VIA1_BASE + VIA_IER] = 0x80 | IFR_CA1;
    memory[VIA1_BASE + VIA_IFR] = IFR_CA1;  // RESTORE
    Flags[FLAG_I] = 1;                       // NMI ignores I
    Flags[FLAG_B] = 1;
    run_step();
    EXPECT_EQ(Register.PC, NMI_ENTRY);
    EXPECT_EQ(cycles, 2 + 7);
    EXPECT_EQ(memory[0x100], 0x10);           // PC high
    EXPECT_EQ(memory[0x1FF], 0x01);           // PC low: after the NOP at $1000
    EXPECT_EQ(memory[0x1FE], compose_p());    // every entry as it stood, B included
    EXPECT_EQ(memory[0x1FE] & 0x10, 0x10);
    EXPECT_EQ(Register.SP, 0xFD);

    run_step();  // the flag stays set: no second NMI
    EXPECT_EQ(Register.PC, NMI_ENTRY + 1);

    memory[VIA1_BASE + VIA_IFR] = 0;  // the line drops...
    run_step();
    memory[VIA1_BASE + VIA_IFR] = IFR_CA1;  // ...and rises again
    run_step();
    EXPECT_EQ(Register.PC, NMI_ENTRY);
}

TEST_F(MainLoop, IrqIsLevelTriggeredAndMaskedByI) {
    memory[VIA2_BASE + VIA_IER] = 0x80 | IFR_T1;
    memory[VIA2_BASE + VIA_IFR] = IFR_T1;
    run_step();
    EXPECT_EQ(Register.PC, IRQ_ENTRY);
    EXPECT_EQ(Flags[FLAG_I], 1);
    EXPECT_EQ(Flags[FLAG_B], 0);
    EXPECT_EQ(memory[0x1FE] & 0x10, 0);  // pushed with B clear
    EXPECT_EQ(memory[0x1FE] & 0x04, 0);  // and the I it had before
    EXPECT_EQ(memory[VIA2_BASE + VIA_IFR] & IFR_ANY, IFR_ANY);

    run_step();  // still pending, but I is set now
    EXPECT_EQ(Register.PC, IRQ_ENTRY + 1);
    Flags[FLAG_I] = 0;
    run_step();
    EXPECT_EQ(Register.PC, IRQ_ENTRY);
}

TEST_F(MainLoop, NmiWinsOverIrqInTheSameStep) {
    memory[VIA1_BASE + VIA_IER] = 0x80 | IFR_CA1;
    memory[VIA1_BASE + VIA_IFR] = IFR_CA1;
    memory[VIA2_BASE + VIA_IER] = 0x80 | IFR_T1;
    memory[VIA2_BASE + VIA_IFR] = IFR_T1;
    run_step();
    EXPECT_EQ(Register.PC, NMI_ENTRY);
    EXPECT_EQ(Flags[FLAG_I], 0);
}

TEST_F(MainLoop, InterruptEntryCyclesReachTheTimersInTheSameStep) {
    uint16_t before = via2_timer1();
    memory[VIA2_BASE + VIA_IER] = 0x80 | IFR_T1;
    memory[VIA2_BASE + VIA_IFR] = IFR_T1;
    run_step();
    ASSERT_EQ(Register.PC, IRQ_ENTRY);
    EXPECT_EQ(via2_timer1(), before - 9);
    EXPECT_EQ(line_cycles, 9);
}

TEST_F(MainLoop, DelayCountsUpToTheSetting) {
    delay_loop = 500;
    run_step();
    EXPECT_EQ(delay_counter, 500);
    delay_counter = 77;
    delay_loop = 0;
    run_step();
    EXPECT_EQ(delay_counter, 77);  // no busy-wait at all
}

TEST_F(MainLoop, FramesHaveTheirStandardsLengthInCycles) {
    for (uint8_t timing : {0, 1}) {
        new_machine(timing);
        std::memset(memory + 0x1000, NOP, 0x1000);
        memory[0xFFFC] = 0x00;
        memory[0xFFFD] = 0x10;
        machine_start();
        Register.PC = 0x1000;
        long total = 0;
        int lines = 0;
        uint16_t last = raster;
        while (lines < 2 * int(last_line + 1)) {
            if (Register.PC >= 0x1F00) Register.PC = 0x1000;
            run_step();
            total += cycles;
            if (raster != last) lines++, last = raster;
        }
        long expected = timing ? 2 * 22152 : 2 * 16965;
        EXPECT_NEAR(total, expected, 2) << "timing " << int(timing);  // NOPs overshoot by one at most
    }
}

// Runs whole frames over the NOP field and counts what the host saw.
void run_frames(int frames) {
    for (int i = 0; i < frames; i++) {
        if (Register.PC >= 0x1F00) Register.PC = 0x1000;
        uint16_t before;
        do {
            if (Register.PC >= 0x1F00) Register.PC = 0x1000;
            before = raster;
            run_step();
        } while (raster >= before);
    }
}

TEST_F(MainLoop, EveryFrameIsDrawnWithDivisorOne) {
    interrupt = 1;
    intdef = 1;
    frame_ready = 0;
    run_frames(5);
    EXPECT_EQ(headless.frames_put, 5u);
    EXPECT_EQ(headless.events_polled, 10u);  // one per frame, one per drawn frame
}

TEST_F(MainLoop, OneFrameInSixIsDrawnWithDivisorSix) {
    interrupt = 6;
    intdef = 1;
    frame_ready = 0;
    run_frames(12);
    EXPECT_EQ(headless.frames_put, 2u);
    EXPECT_EQ(headless.events_polled, 14u);
    EXPECT_EQ(intdef, 1);  // frames 8 to 12 counted 6 down to 2: the 13th is drawn
}

TEST_F(MainLoop, FirstCompletedLineRunsTheFrameOutput) {
    interrupt = 3;
    intdef = 0;
    ASSERT_EQ(frame_ready, 1);
    while (raster == 0) run_step();
    EXPECT_EQ(headless.frames_put, 1u);
    EXPECT_EQ(intdef, 3);
    EXPECT_EQ(frame_ready, 0);
}

TEST_F(MainLoop, ResetWithoutConfigKeepsStandardButAppliesOverscan) {
    overscan_set = 9;
    Register.A = 0x12;
    memory[0x0000] = 0x00;
    std::string out = capture_stdout([] { reset_tarvikon(); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(scanline, PAL_SCANLINE);
    EXPECT_EQ(overscan, 9);
    EXPECT_EQ(headless.last_resize_cycles, PAL_SCANLINE);
    EXPECT_EQ(headless.last_resize_overscan, 9u);
    EXPECT_EQ(Register.A, 0);
    EXPECT_EQ(Register.PC, 0x1000);
    EXPECT_EQ(memory[0x0000], 0xFF);  // RAM refilled
}

TEST_F(MainLoop, ResetKeepsCartridgesAndClearsIo) {
    rombank[6] = BLOCK_ROM;
    memory[0x6000] = 0x42;
    memory[0x1234] = 0x42;
    memory[0xA000] = 0x42;
    memory[0x9400] = 0x07;
    reset_tarvikon();
    EXPECT_EQ(memory[0x6000], 0x42);
    EXPECT_EQ(memory[0x1234], 0xFF);
    EXPECT_EQ(memory[0xA000], 0x42);
    EXPECT_EQ(memory[0x9400], 0x00);
}

TEST_F(MainLoop, ResetSwitchingToNtscChangesTimingAtOnce) {
    TempDir dir;  // no roms/ here: the kernal load fails, the timing still changes
    char old_cwd[4096];
    ASSERT_TRUE(getcwd(old_cwd, sizeof old_cwd));
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    config = 1;
    vid_new = 0;
    overscan_set = 9;
    memory[0xE43C] = 'X';
    std::string out = capture_stdout([] { reset_tarvikon(); });
    ASSERT_EQ(chdir(old_cwd), 0);
    EXPECT_NE(out.find("Using the old kernel, please get both kernel images for proper emulation..."),
              std::string::npos);
    EXPECT_EQ(scanline, NTSC_SCANLINE);
    EXPECT_EQ(last_line, NTSC_LAST_LINE);
    EXPECT_EQ(screen_width, NTSC_SCREEN_WIDTH);
    EXPECT_EQ(Frame.view_left, NTSC_VIEW_LEFT);
    EXPECT_EQ(vid_time, 0);
    EXPECT_EQ(config, 0);
    EXPECT_EQ(headless.last_resize_cycles, NTSC_SCANLINE);
    EXPECT_EQ(headless.last_resize_overscan, 9u);
}

TEST_F(MainLoop, VerboseResetSwitchingToPalReloadsTheKernalAndTellsTheSoundProcess) {
    new_machine(0);
    machine_start();
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("roms").c_str(), 0755), 0);
    write_file(dir.file("roms/kernel.pal"), std::string(8192, '\x5A'));
    char old_cwd[4096];
    ASSERT_TRUE(getcwd(old_cwd, sizeof old_cwd));
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved_pipe = pipefd[1];
    pipefd[1] = fds[1];
    soundon = 1;
    verbose = 1;
    config = 1;
    vid_new = 1;
    std::string out = capture_stdout([] { reset_tarvikon(); });
    verbose = 0;
    soundon = 0;
    pipefd[1] = saved_pipe;
    close(fds[1]);
    ASSERT_EQ(chdir(old_cwd), 0);
    uint8_t sent[32];
    ssize_t n = read(fds[0], sent, sizeof sent);
    close(fds[0]);

    EXPECT_EQ(out,
              "Reseting VIC 20..\nInitializing Registers...\nInserting memory expansion cartridge...\n"
              "Loading new kernel...PAL timing...kernel.pal...OK\nPatching ROM with Tarvikon Version...OK\n");
    EXPECT_EQ(memory[0xE000], 0x5A);
    EXPECT_EQ(scanline, PAL_SCANLINE);
    EXPECT_EQ(last_line, PAL_LAST_LINE);
    EXPECT_EQ(screen_width, PAL_SCREEN_WIDTH);
    EXPECT_EQ(Frame.view_left, PAL_VIEW_LEFT);
    EXPECT_EQ(vid_time, 1);
    EXPECT_EQ(headless.last_resize_cycles, PAL_SCANLINE);
    // The voice and volume registers cleared as 0 first, then the standard.
    ASSERT_EQ(n, 12);
    EXPECT_EQ(std::vector<uint8_t>(sent, sent + n), (std::vector<uint8_t>{1, 0, 2, 0, 3, 0, 4, 0, 0, 0, 5, 71}));
}

TEST_F(MainLoop, ResetLeavesLoopCountersRomsAndLatchesAlone) {
    std::memset(Flags, 1, sizeof Flags);
    line_cycles = 33;
    intdef = 4;
    frame_ready = 0;  // start-up has it at 1
    nmi_alt = 1;
    nmi_low = irq_low = 1;
    Vic.lightpen_x = 90;
    for (uint16_t a : {0xA000, 0xBFFF, 0xC000, 0x8000, 0xE100}) memory[a] = 0x42;
    memory[0x9110 + VIA_IER] = 0x7F;
    memory[0x9120 + VIA_IFR] = 0xFF;
    keycount = 2;
    keyrow[3] = 0xFE;
    reset_tarvikon();
    EXPECT_EQ(line_cycles, 33);
    EXPECT_EQ(intdef, 4);
    EXPECT_EQ(frame_ready, 0);
    EXPECT_EQ(nmi_alt, 1);
    EXPECT_EQ(nmi_low | irq_low, 0);
    EXPECT_EQ(Vic.lightpen_x, 90);
    for (uint16_t a : {0xA000, 0xBFFF, 0xC000, 0x8000, 0xE100}) EXPECT_EQ(memory[a], 0x42) << std::hex << a;
    EXPECT_EQ(*Via1.ier, 0);
    EXPECT_EQ(*Via2.ifr, 0);
    EXPECT_EQ(keycount, 0);
    EXPECT_EQ(keyrow[3], 0xFF);
    EXPECT_EQ(via2_timer1(), 0xAAAA);
    EXPECT_EQ(memory[0x9111], 0xFF);
    EXPECT_EQ(memory[0x911F], 0xFF);
    EXPECT_EQ(memory[0x9120], 0xFF);
    EXPECT_EQ(compose_p(), 0x30);  // B and bit 5 only
}

TEST_F(MainLoop, ResetAppliesTheChosenExpansionOnlyWhenConfigIsSet) {
    memexp = EXP_8K;
    reset_tarvikon();
    EXPECT_EQ(memdef, EXP_8K);
    EXPECT_EQ(rombank[2], BLOCK_RAM);  // config clear: layout untouched
    apply_expansion_layout(EXP_NONE);
    config = 1;
    reset_tarvikon();
    EXPECT_EQ(rombank[2], BLOCK_RAM);
    EXPECT_EQ(rombank[4], BLOCK_NONE);
    EXPECT_EQ(config, 0);
}

TEST_F(MainLoop, ResetFromAnEventCallbackActsBeforeTheNextInstruction) {
    interrupt = 1;
    intdef = 1;
    frame_ready = 0;
    memory[0xFFFD] = 0xE0;  // the reset refills RAM with $FF: restart in the NOPs of the kernal area
    int resets = 0;
    headless.on_poll = [&] {
        if (resets++ == 0) reset_tarvikon();
    };
    run_frames(1);
    EXPECT_EQ(Register.PC, 0xE000);
    run_step();
    EXPECT_EQ(Register.PC, 0xE001);
}

TEST_F(MainLoop, SwitchToPalAtTheEndOfAFrameKeepsTheNextLineWhole) {
    // The frame-end poll comes after an NTSC line of 65 or 66 cycles; the
    // reset there makes the rest of the turn subtract PAL's 71.
    new_machine(0);
    std::memset(memory + 0xE000, NOP, 0x2000);
    memory[0xFFFC] = 0x00;
    memory[0xFFFD] = 0xE0;
    machine_start();
    headless = HeadlessCounters{};
    TempDir dir;  // no roms/ here: the kernal stays, only the timing changes
    char old_cwd[4096];
    ASSERT_TRUE(getcwd(old_cwd, sizeof old_cwd));
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    config = 1;
    vid_new = 1;
    headless.on_poll = [] {
        if (vid_time == 0 && line_cycles >= NTSC_SCANLINE) reset_tarvikon();  // the frame-end poll only
    };
    capture_stdout([] { run_frame(); });
    ASSERT_EQ(headless.resizes, 1u);
    ASSERT_EQ(chdir(old_cwd), 0);
    ASSERT_EQ(scanline, PAL_SCANLINE);
    EXPECT_LT(line_cycles, PAL_SCANLINE);

    long spent = 0;  // twenty PAL lines take twenty lines' cycles, not one step each
    while (raster < 20) {
        run_step();
        spent += cycles;
    }
    EXPECT_GE(spent, 19L * PAL_SCANLINE);
}

TEST_F(MainLoop, ShutDownSaysGoodbyeAndReleasesMemory) {
    std::string quiet = capture_stdout([] { machine_start(); });
    EXPECT_EQ(quiet, "");
    verbose = 1;
    std::string start = capture_stdout([] { machine_start(); });
    EXPECT_EQ(start, "Initialising registers...OK\n");

    int js[2], snd[2];
    ASSERT_EQ(pipe(js), 0);
    ASSERT_EQ(pipe(snd), 0);
    joystick_fd = js[0];
    int saved_pipe = pipefd[1];
    pipefd[1] = snd[1];
    soundon = 1;
    std::string out = capture_stdout([] { shut_down_tarvikon(); });
    soundon = 0;
    EXPECT_EQ(out,
              "Closing joystick device...OK\nClosing pipe...OK\nWaiting for soundprocess...OK\n"
              "Deallocating VIC 20 RAM...OK\nExiting...\n");
    EXPECT_EQ(joystick_fd, -1);
    EXPECT_EQ(fcntl(js[0], F_GETFD), -1);  // the joystick device is closed
    char byte;
    EXPECT_EQ(read(snd[0], &byte, 1), 0);  // and so is the sound pipe's write end
    close(js[1]);
    close(snd[0]);
    pipefd[1] = saved_pipe;
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(headless.x_closed, 1u);
    verbose = 0;
    new_machine();  // later tests need an address space
}

}  // namespace
