// Programs that start by themselves: the queue of lines typed at READY on
// the real ROMs (both kernals, every expansion), and start-up choosing the
// program named on the command line and its expansion.
#include <sys/stat.h>

#include "basic_program.h"
#include "core/host.h"
#include "devices/autostart.h"
#include "devices/datasette.h"
#include "files_support.h"
#include "screen.h"
#include "startup_support.h"
#include "tape_image.h"

namespace {

constexpr unsigned BOOT_FRAMES = 400;

// The screen rows without their trailing blanks, each ending in '\n'.
std::string screen_text() {
    std::string out;
    for (std::string row : read_matrix(memory).rows()) {
        row.erase(row.find_last_not_of(' ') + 1);
        out += row + "\n";
    }
    return out;
}

class Autostart : public testing::Test {
protected:
    TempDir dir;
    InDir in{dir.path};

    void SetUp() override {
        REQUIRE_ROMS();
        autostart_clear();
    }
    void TearDown() override { autostart_clear(); }

    void boot(uint8_t timing, uint8_t expansion) {
        new_machine(timing);
        ASSERT_NO_FATAL_FAILURE(read_real_roms(timing));
        memexp = memdef = expansion;
        insert_memory_expansion();
        machine_start();
    }

    // Runs frames until the screen shows the text; what was printed meanwhile.
    std::string run_until(const std::string& text, bool* seen = nullptr) {
        bool found = false;
        std::string out = capture_stdout([&] {
            for (unsigned i = 0; i < BOOT_FRAMES && !found; i++) {
                run_frame();
                found = screen_text().find(text) != std::string::npos;
            }
        });
        if (seen) *seen = found;
        EXPECT_TRUE(found) << "never saw \"" << text << "\" on\n" << screen_text();
        return out;
    }
};

TEST_F(Autostart, ProgramLoadsAndRunsAtReadyOnBothKernalsAndEveryExpansion) {
    struct Case {
        uint8_t expansion;
        uint16_t start;
        const char* peek;
    };
    const Case cases[] = {{EXP_NONE, 0x1001, "16"}, {EXP_3K, 0x0401, "4"}, {EXP_8K, 0x1201, "18"},
                          {EXP_16K, 0x1201, "18"}, {EXP_24K, 0x1201, "18"}};
    for (uint8_t timing : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(timing ? "PAL " : "NTSC ") + c.peek + " expansion " +
                         std::to_string(c.expansion));
            std::string program = marker_program(c.start);
            write_file("p.prg", program);
            boot(timing, c.expansion);
            autostart_queue_line("RUN", "p.prg");
            std::string out = run_until("AUTOSTART " + std::string(c.peek));
            EXPECT_EQ(out, "Loading program p.prg...got " + std::to_string(program.size() - 2) + " bytes \n");
            // Typed after the first READY, as a user would.
            EXPECT_NE(screen_text().find("READY.\nRUN\nAUTOSTART " + std::string(c.peek) + "\n\nREADY."),
                      std::string::npos)
                << screen_text();
            EXPECT_TRUE(memory_holds(memory, c.start, program.substr(2)));
            EXPECT_FALSE(autostart_pending);
        }
    }
}

TEST_F(Autostart, EachLineWaitsForReadyAndLongLinesArriveInParts) {
    boot(1, EXP_NONE);
    autostart_queue_line("PRINT\"A LONG FIRST LINE\":A=7");
    autostart_queue_line("PRINT A*6");
    // Whenever keys were put into the buffer at a frame end, count the READY
    // prompts then: the first line in parts at the first, the second only
    // once the first line has brought the second.
    std::vector<size_t> readies_at_feed;
    for (unsigned i = 0; i < BOOT_FRAMES && autostart_pending; i++) {
        run_frame();
        if (memory[KEYS_WAITING]) readies_at_feed.push_back(count_of(screen_text(), "READY."));
    }
    EXPECT_EQ(readies_at_feed, (std::vector<size_t>{1, 1, 1, 2}));
    run_until(" 42");
    EXPECT_NE(screen_text().find("A LONG FIRST LINE\n\nREADY.\nPRINT A*6\n 42\n"), std::string::npos)
        << screen_text();
}

TEST_F(Autostart, AProgramAskingForInputIsNotReady) {
    // 10 INPUT A
    write_file("ask.prg", basic_file(0x1001, {{10, "\x85" "A"}}));
    boot(0, EXP_NONE);
    autostart_queue_line("RUN", "ask.prg");
    autostart_queue_line("PRINT 6*7");
    run_until("RUN\n?\n");
    for (int i = 0; i < 100; i++) run_frame();
    EXPECT_TRUE(autostart_pending);
    EXPECT_EQ(screen_text().find("PRINT"), std::string::npos) << screen_text();
}

TEST_F(Autostart, NothingIsTypedWhenTheProgramDoesNotLoad) {
    write_file("huge.prg", marker_program(0x1001, 3586));
    write_file("whole.prg", marker_program(0x1001, 3585));
    for (const char* name : {"gone.prg", "huge.prg"}) {
        SCOPED_TRACE(name);
        boot(0, EXP_NONE);
        autostart_queue_line("RUN", name);
        std::string out = run_until("READY.");
        for (int i = 0; i < 50; i++) run_frame();
        EXPECT_EQ(screen_text().find("RUN"), std::string::npos) << screen_text();
        EXPECT_FALSE(autostart_pending);
        EXPECT_EQ(out, std::string("Loading program ") + name +
                           (name[0] == 'g' ? "...failed\n"
                                           : "...3584 bytes do not fit in the memory from $1001 to $1dff, not loaded\n"));
    }
    // One byte less fits the unexpanded machine's 3583 bytes.
    boot(0, EXP_NONE);
    autostart_queue_line("RUN", "whole.prg");
    EXPECT_EQ(run_until("AUTOSTART 16"), "Loading program whole.prg...got 3583 bytes \n");
}

// ---- start-up ---------------------------------------------------------------------

class StartWithProgram : public Autostart {
protected:
    void SetUp() override {
        Autostart::SetUp();
        link_roms(dir.path);
    }
    // tarvikon.rc with every second frame, the expansion, NTSC, no delay, 28 lines.
    void configure(uint32_t expansion) {
        std::string rc = {2, 0, 0, 0, char(expansion), 0, 0, 0, 0, 0, 0, 0, 0, 0, 28};
        write_file("tarvikon.rc", rc);
    }
    std::string start(std::initializer_list<std::string> args) {
        std::string out = start_here(args);
        const std::string head = BANNER + "Starting Tarvikon...\n";
        EXPECT_EQ(out.substr(0, head.size()), head);
        return out.substr(std::min(out.size(), head.size()));
    }
};

TEST_F(StartWithProgram, ChoosesTheExpansionTheProgramNeeds) {
    write_file("p12.prg", marker_program(0x1201, 9000));
    write_file("p04.prg", marker_program(0x0401));
    write_file("p10.prg", marker_program(0x1001));
    struct Case {
        uint32_t configured;
        const char* name;
        uint8_t expected;
        std::string text;
    };
    const Case cases[] = {
        {EXP_NONE, "p12.prg", EXP_8K, "Program needs 8 KB expansion memory, starting with it...\n"},
        {EXP_16K, "p12.prg", EXP_16K, ""},  // the configured one suits it
        {EXP_NONE, "p04.prg", EXP_3K, "Program needs 3 KB expansion memory, starting with it...\n"},
        {EXP_24K, "p10.prg", EXP_NONE, "Program needs no expansion memory, starting without it...\n"},
        {EXP_NONE, "p10.prg", EXP_NONE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " configured " + std::to_string(c.configured));
        configure(c.configured);
        const std::string rc = read_file("tarvikon.rc");
        EXPECT_EQ(start({"-nosound", c.name}), c.text);
        EXPECT_EQ(memdef, c.expected);
        EXPECT_EQ(memexp, c.expected);
        EXPECT_EQ(config, c.text.empty() ? 0 : 1);  // Save config offered after a change
        EXPECT_EQ(read_file("tarvikon.rc"), rc);
        EXPECT_TRUE(autostart_pending);
        EXPECT_EQ(rombank[2], c.expected >= EXP_8K ? BLOCK_RAM : BLOCK_NONE);
        EXPECT_EQ(rombank[0], c.expected == EXP_3K ? BLOCK_RAM : BLOCK_NONE);
        autostart_clear();
    }

    // The 8 KB expansion holds page-$12 files of up to 11773 bytes, the 16 KB
    // one up to 19965.
    configure(EXP_NONE);
    const std::pair<size_t, uint8_t> sizes[] = {{11773, EXP_8K}, {11774, EXP_16K}, {19965, EXP_16K}, {19966, EXP_24K}};
    for (auto [bytes, expected] : sizes) {
        SCOPED_TRACE(bytes);
        write_file("sized.prg", marker_program(0x1201, bytes));
        ASSERT_EQ(read_file("sized.prg").size(), bytes);
        start({"-nosound", "sized.prg"});
        EXPECT_EQ(memdef, expected);
        autostart_clear();
    }
}

TEST_F(StartWithProgram, TheLastProgramRunsBesideCartridgesAndBootsWithIt) {
    configure(EXP_NONE);
    write_file("first.prg", marker_program(0x1001));
    write_file("last.prg", marker_program(0x1201, 9000));
    write_file("empty.prg", header(0x01, 0x12));
    write_file("image.prg", header(0x00, 0x60) + pattern(100));
    write_file("x.b0", pattern(4096));
    EXPECT_EQ(start({"-nosound", "first.prg", "x.b0", "empty.prg", "last.prg", "image.prg"}),
              "Skipping program empty.prg: it is empty\n"
              "Skipping program first.prg: only the last program named starts\n"
              "Program needs 8 KB expansion memory, starting with it...\n"
              "Loading game cartridge x.b0 at $b000...got 4096 bytes \n"
              "Loading game cartridge image.prgLoading program image.prg...to $6000...got 100 bytes \n");
    EXPECT_EQ(memdef, EXP_8K);
    EXPECT_TRUE(memory_holds(memory, 0xB000, pattern(4096)));
    EXPECT_TRUE(memory_holds(memory, 0x6000, pattern(100)));
    EXPECT_EQ(rombank[11], BLOCK_ROM);

    machine_start();
    std::string out = run_until("AUTOSTART 18");
    EXPECT_EQ(out, "Loading program last.prg...got 8998 bytes \n");
}

TEST_F(StartWithProgram, TapeImagesNamedAloneStartTheirFirstProgram) {
    configure(EXP_NONE);
    const std::string program = marker_program(0x1001);
    const std::vector<TapeFile> files = {
        {1, 0x1001, uint16_t(0x1001 + program.size() - 2), "MARKER", {program.begin() + 2, program.end()}},
        {1, 0x1001, 0x1003, "NEXT", {0, 0}}};
    std::vector<uint8_t> t64 = t64_of(files), tap = kernal_tap(files);
    write_file("game.t64", std::string(t64.begin(), t64.end()));
    write_file("game.tap", std::string(tap.begin(), tap.end()));
    // A .t64 as a program file named alone (of its own name, in a folder of its own).
    EXPECT_EQ(start({"-nosound", "game.t64"}), "Attaching tape image game.t64...OK\n");
    machine_start();
    std::string out = run_until("AUTOSTART 16");
    EXPECT_TRUE(out.starts_with("Loading program /tmp/tarvikon")) << out;
    EXPECT_TRUE(out.ends_with("/game.prg...got " + std::to_string(program.size() - 2) + " bytes \n")) << out;
    // A .tap: PLAY held down, LOAD and RUN typed.
    EXPECT_EQ(start({"-nosound", "game.tap"}), "Attaching tape image game.tap...OK\n");
    machine_start();
    run_until("AUTOSTART 16");
    EXPECT_NE(screen_text().find("READY.\nLOAD\n\nSEARCHING\nFOUND MARKER\n\nLOADING\nREADY.\nRUN\nAUTOSTART"),
              std::string::npos) << screen_text();
    capture_stdout(tape_eject);
}

TEST_F(StartWithProgram, BadProgramFilesAreReportedAndTheMachineJustBoots) {
    write_file("none.prg", "");
    write_file("one.prg", "\x10");
    write_file("two.prg", header(0x01, 0x10));
    mkdir("dir.prg", 0755);
    EXPECT_EQ(start({"-nosound", "none.prg", "one.prg", "two.prg", "dir.prg"}),
              "Skipping program two.prg: it is empty\n"
              "Loading game cartridge none.prgLoading program none.prg...failed\n"
              "Loading game cartridge one.prgLoading program one.prg...failed\n"
              "Loading game cartridge dir.prgLoading program dir.prg...failed\n");
    EXPECT_FALSE(autostart_pending);
    EXPECT_EQ(memdef, EXP_NONE);
    machine_start();
    run_until("READY.");
    for (int i = 0; i < 50; i++) run_frame();
    EXPECT_EQ(screen_text(), "**** TARVIKON 0.8 ****\n\n3583 BYTES FREE\n\nREADY.\n" + std::string(18, '\n'));
}

}  // namespace
