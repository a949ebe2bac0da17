// Programs that start by themselves: the queue of lines typed at READY on
// the real ROMs (both kernals, every expansion), and start-up choosing the
// program named on the command line and its expansion.
#include <sys/stat.h>

#include "basic_program.h"
#include "core/host.h"
#include "devices/autostart.h"
#include "devices/d64.h"
#include "devices/datasette.h"
#include "devices/drive8.h"
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
    std::string start(const std::vector<std::string>& args) {
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
        {EXP_NONE, "p12.prg", EXP_24K, "p12.prg does not run with no expansion, starting with the 24 KB expansion...\n"},
        {EXP_16K, "p12.prg", EXP_16K, ""},  // the configured one suits it
        {EXP_NONE, "p04.prg", EXP_3K, "p04.prg does not run with no expansion, starting with the 3 KB expansion...\n"},
        {EXP_24K, "p10.prg", EXP_NONE, "p10.prg does not run with the 24 KB expansion, starting with no expansion...\n"},
        {EXP_NONE, "p10.prg", EXP_NONE, ""},
        {EXP_ALL, "p12.prg", EXP_ALL, ""},
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
        EXPECT_EQ(rombank[0], c.expected == EXP_3K || c.expected == EXP_ALL ? BLOCK_RAM : BLOCK_NONE);
        autostart_clear();
    }

    // Without a choice the memory picked is said too, and why; a disk image
    // gets what every program file on it needs, not only its first.
    unlink("tarvikon.rc");
    EXPECT_EQ(start({"-nosound", "p12.prg"}), "Starting with the 24 KB expansion for p12.prg (BASIC for $1201)...\n");
    autostart_clear();
    D64Image image = d64_blank("DISK", "ID");
    ASSERT_EQ(d64_write_file(image, "FIRST", bytes_of(header(0, 0x20) + pattern(0x10)), false), DiskStatus::OK);
    ASSERT_EQ(d64_write_file(image, "LOW", bytes_of(header(0, 0x04) + pattern(0x10)), false), DiskStatus::OK);
    ASSERT_EQ(d64_write_image("two.d64", image), DiskStatus::OK);
    EXPECT_EQ(start({"-nosound", "two.d64"}), "Attaching disk image two.d64...OK\n"
                                              "Starting with all expansions for two.d64 (memory at $0400-$0fff and "
                                              "$2000-$7fff)...\n");
    EXPECT_EQ(memdef, EXP_ALL);
    autostart_clear();

    // A chosen 8 KB expansion holds page-$12 files of up to 11773 bytes, a
    // chosen 16 KB one up to 19965; without a choice it is 24 KB.
    const std::tuple<int, size_t, uint8_t> sizes[] = {{EXP_8K, 11773, EXP_8K},   {EXP_8K, 11774, EXP_24K},
                                                      {EXP_16K, 19965, EXP_16K}, {EXP_16K, 19966, EXP_24K},
                                                      {-1, 3000, EXP_24K}};
    for (auto [chosen, bytes, expected] : sizes) {
        SCOPED_TRACE(bytes);
        if (chosen == -1) unlink("tarvikon.rc");
        else configure(uint32_t(chosen));
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
              "last.prg does not run with no expansion, starting with the 24 KB expansion...\n"
              "Loading game cartridge x.b0 at $b000...got 4096 bytes \n"
              "Skipping program first.prg: it is made for BASIC at $1001\n");
    EXPECT_EQ(memdef, EXP_24K);
    EXPECT_TRUE(memory_holds(memory, 0xB000, pattern(4096)));
    EXPECT_EQ(rombank[11], BLOCK_ROM);

    // The image loads first at READY, the program that starts last.
    machine_start();
    std::string out = run_until("AUTOSTART 18");
    EXPECT_EQ(out, "Loading program image.prg...to $6000...got 100 bytes \nLoading program last.prg...got 8998 bytes \n");
    EXPECT_TRUE(memory_holds(memory, 0x6000, pattern(100)));
}

TEST_F(StartWithProgram, EachKindOfProgramFileStartsAsItsAuthorMeant) {
    // $A000 autostart images: the kernal jumps through $A000 at reset.
    using namespace std::string_literals;
    const std::string jump_to_2000 = header(0, 0xA0) + "\x09\xA0\x09\xA0" "A0\xC3\xC2\xCD" "\x4C\x00\x20"s;
    const std::string marks_0340 = "\x09\xA0\x09\xA0" "A0\xC3\xC2\xCD" "\xA9\x42\x8D\x40\x03\x4C\x0E\xA0"s;
    // A second part of that cartridge, ROM at $2000 with it.
    const std::string marks_0340_from_2000 = header(0, 0x20) + "\xA9\x42\x8D\x40\x03\x4C\x05\x20"s + pattern(0x200);
    std::string chip_cartridge = "VIC20 CARTRIDGE " + std::string{0, 0, 0, 0x50} + std::string(0x3C, '\0') + "CHIP" +
                                 std::string{0, 0, 0x20, 0x10, 0, 0, 0, 0, '\xA0', 0, 0x20, 0} + marks_0340 +
                                 std::string(0x2000 - marks_0340.size(), '\xEA');
    // A disk named alone: its first program by the same rules.
    auto disk = [](const std::string& program) {
        D64Image image = d64_blank("DISK", "ID");
        EXPECT_EQ(d64_write_file(image, "FIRST", bytes_of(program), false), DiskStatus::OK);
        EXPECT_EQ(d64_write_file(image, "SECOND", bytes_of(marker_program(0x1001)), false), DiskStatus::OK);
        return std::string(image.bytes.begin(), image.bytes.end());
    };
    // A tape named alone: the same, from device 1.
    auto tape = [](uint16_t start, const std::string& bytes) {
        std::vector<uint8_t> image = t64_of({{3, start, uint16_t(start + bytes.size()), "CODE", bytes_of(bytes)}});
        return std::string(image.begin(), image.end());
    };
    // 9 KB in lines short enough for BASIC's LOAD to relink them.
    std::vector<std::pair<int, std::string>> lines = {
        {10, PRINT_TOKEN + "\"AUTOSTART\";" + PEEK_TOKEN + "(44):" + END_TOKEN}};
    for (int n = 20; n < 20 + 45 * 10; n += 10) lines.push_back({n, REM_TOKEN + std::string(200, 'X')});
    struct Case {
        std::vector<std::pair<std::string, std::string>> files;
        uint8_t expansion;
        std::string shows;    // on the screen once it ran
        std::string said;     // at READY
        uint16_t marker = 0;  // where its machine code stored $42
    };
    const Case cases[] = {
        {{{"b04.prg", marker_program(0x0401)}}, EXP_3K, "RUN\nAUTOSTART 4", "Loading program b04.prg...got 27 bytes \n"},
        {{{"b10.prg", marker_program(0x1001)}}, EXP_NONE, "RUN\nAUTOSTART 16", "Loading program b10.prg...got 27 bytes \n"},
        {{{"b12.prg", marker_program(0x1201)}}, EXP_24K, "RUN\nAUTOSTART 18", "Loading program b12.prg...got 27 bytes \n"},
        {{{"z12.prg", header(0, 0x12) + '\0' + marker_program(0x1201).substr(2)}},
         EXP_24K, "RUN\nAUTOSTART 18", "Loading program z12.prg...to $1200...got 28 bytes \n"},
        {{{"stub.prg", header(0x3C, 0x03) + std::string(0xC5, '\0') + marker_program(0x0401).substr(2)}},
         EXP_3K, "RUN\nAUTOSTART 4", "Loading program stub.prg...to $33c...got 224 bytes \n"},
        {{{"main.prg", marks_0340_from_2000}, {"auto.prg", jump_to_2000}}, EXP_NONE, "", "", 0x0340},
        {{{"code.prg", header(0, 0x20) + pattern(0x100)}}, EXP_24K, "READY.",
         "Loading program code.prg...to $2000...got 256 bytes \nLoaded $2000-$20ff; start it with SYS\n"},
        {{{"cart.bin", chip_cartridge}}, EXP_NONE, "", "", 0x0340},
        {{{"basic.d64", disk(basic_file(0x1201, lines))}}, EXP_24K, "RUN\nAUTOSTART 18", ""},
        {{{"code.d64", disk(header(0, 0x20) + pattern(0x100))}}, EXP_24K, "LOAD\"*\",8,1",
         "Loaded $2000-$20ff; start it with SYS\n"},
        {{{"cart.d64", disk(header(0, 0xA0) + marks_0340)}}, EXP_NONE, "", "", 0x0340},
        {{{"code.t64", tape(0x2000, pattern(0x100))}}, EXP_24K, "LOAD\"\",1,1", "Loaded $2000-$20ff; start it with SYS\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files[0].first);
        std::vector<std::string> args = {"-nosound"};
        for (const auto& [name, bytes] : c.files) {
            write_file(name, bytes);
            args.push_back(name);
        }
        start(args);
        EXPECT_EQ(memdef, c.expansion);
        machine_start();
        std::string out = capture_stdout([&] {
            for (unsigned i = 0; i < BOOT_FRAMES; i++) run_frame();
        });
        EXPECT_EQ(out, c.said);
        EXPECT_NE(screen_text().find(c.shows), std::string::npos) << screen_text();
        if (c.marker) {
            EXPECT_EQ(memory[c.marker], 0x42);
        }
        // As LOAD"NAME",8 or ,8,1 leaves it: the next part comes from drive 8.
        if (!c.said.empty()) {
            EXPECT_EQ(memory[LOAD_DEVICE], c.files[0].first.ends_with(".t64") ? 1 : 8);
        }
        EXPECT_EQ(count_of(screen_text(), "RUN"), c.shows.starts_with("RUN") ? 1u : 0u);
        autostart_clear();
    }
}

TEST_F(StartWithProgram, AProgramFindsItsNextPartsInItsOwnFolder) {
    mkdir("games", 0755);
    write_file("games/part1.prg", header(0, 0x20) + pattern(0x100));
    write_file("games/part2.prg", header(0, 0x30) + pattern(0x10));
    // The memory picked differs from the configured one: one line says so.
    const std::string picked = "Starting with the 24 KB expansion for games/part1.prg (memory at $2000-$7fff)...\n";
    EXPECT_EQ(start({"-nosound", "games/part1.prg"}), picked + "Using folder games as drive 8...OK\n");
    std::vector<uint8_t> part;
    EXPECT_EQ(drive8_load("PART2", part), DiskStatus::OK);
    // A folder the user named stays drive 8.
    EXPECT_EQ(start_here({"-nosound", "-drive8", ".", "games/part1.prg"}),
              BANNER + "Using folder . as drive 8...OK\nStarting Tarvikon...\n" + picked);
    EXPECT_EQ(drive8_load("PART2", part), DiskStatus::NOT_FOUND);
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
    // A .t64's first file by its kind, and a .tap with PLAY held: both as typed.
    for (const char* image : {"game.t64", "game.tap"}) {
        SCOPED_TRACE(image);
        EXPECT_EQ(start({"-nosound", image}), std::string("Attaching tape image ") + image + "...OK\n");
        machine_start();
        run_until("AUTOSTART 16");
        EXPECT_NE(screen_text().find("READY.\nLOAD\n\nSEARCHING\nFOUND MARKER\n\nLOADING\nREADY.\nRUN\nAUTOSTART"),
                  std::string::npos) << screen_text();
        capture_stdout(tape_eject);
    }
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
