// The program's start-up: options, usage text, the fixed order of the
// steps with their texts, fatal failures, and the real ROMs brought up to
// the reset vector.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <vector>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "start/archive.h"
#include "devices/d64.h"
#include "devices/drive8.h"
#include "devices/drive_media.h"
#include "files/fileio.h"
#include "start/config.h"
#include "start/startup.h"
#include "files_support.h"
#include "startup_support.h"

namespace {

const std::string USAGE =
    "\nUSAGE :\nTarvikon [-h][-verbose][-ram][-nocfg][-nosound][-tvsound][-joy][-highres][ROM.crt][ROM.x0  "
    "...][ROM.prg...]\n"
    "-h       : Show this help text\n"
    "-verbose : Show all messages (use this if you got problems with Tarvikon)\n"
    "-ram     : $a000-$bfff will be RAM instead of ROM\n"
    "-nocfg   : Using defaults instead of settings in config file\n"
    "-nosound : Disable sound emulation\n"
    "-tvsound : Enable televsion sound emulation\n"
    "-joy     : Enable joystick emulation with /dev/js0\n"
    "-highres : Enable doubled window size\n"
    "-scale N : Window N times the normal size (1 to 8)\n"
    "-memory  : Memory expansion none, 3k, 8k, 16k, 24k or all (3 KB, 24 KB and $a000)\n"
    "-driveN D: Drive N (8 to 11) is folder D or disk image D.d64\n"
    "-monitor : Open the monitor in this terminal at start (later: the Menu key)\n"
    "-remotemonitor PORT : The monitor's commands on 127.0.0.1:PORT\n"
    "-headless : No window and no sound, as fast as the host allows, with:\n"
    "  -limitcycles N -type TEXT -exitaddress ADDR -screenshot FILE.png -screentext -expect TEXT\n"
    "-snapshot FILE : Start from a snapshot\n"
    "-record FILE   : Record the keys, joystick and paddles in FILE\n"
    "-playback FILE : Play back a recording (from the same start)\n"
    "-keymap positional : Keys by their place on a US keyboard, not by their symbols\n"
    "ROM.crt: VIC 20 cart file 4, 8 or 16kib\n"
    "ROM.prg: VIC 20 cart file(s) 4, 8 or 16kb\n"
    "ROM.x0 : VIC 20 ROM filei(s) which should be loaded to address $x000\n"
    "The normal size for x0 images is 8192 bytes.\n"
    "If no ROM parameter is given, the VIC 20 BASIC will start.\n"
    "The VIC 20 ROM files (kernel.pal, kernel.ntsc, basic.rom, chargen.rom)\n"
    "must be in a subdirectory called roms/.\n"
    "\nLoading Basic programs :\n"
    "         F9         : Enter name of programs then\n"
    "\nSaving Basic programs :\n"
    "         F10        : Enter name of programs then\n"
    "\nJoystick emulation  :\n"
    "         Directions : Dark cursor keys or Numblock cursor keys\n"
    "         Fire       : Right control key\n"
    "\nPaddles emulation   :\n"
    "         Paddle 1   : Numblock keys 7 and 9\n"
    "         Paddle 2   : Numblock keys 1 and 3\n"
    "         Fire       : Cursor keys left and right\n"
    "Important : You need to NUM-LOCK the numblock to use the paddles !\n"
    "\nLeaving Tarvikon    : ESC key\n\n"
    "Tarvikon is developed for a keyboard with US layout.\n"
    "Special keys : \n"
    "         RUN-STOP    : TAB key\n"
    "         Control     : Left Control key\n"
    "         CBM         : Left ALT key\n"
    "         Home        : Home (pos 1) key\n"
    "         GBP         : Insert key\n"
    "         Down        : Page Down key\n"
    "         Right       : Page Up key\n"
    "         Arrow Up    : End key\n"
    "         Restore     : F12\n"
    "         F1,F3,F5,F7 : F1,F3,F5,F7\n"
    "\nConfiguration keys : \n"
    "         F2         : Increasing frame rate(slower)\n"
    "         F4         : Decreasing frame rate(faster)\n"
    "         F6         : Quick save snapshot (quick.snap)\n"
    "         F8         : Quick load snapshot (quick.snap)\n"
    "         Scroll Lock: Held, runs time backwards (rewind)\n"
    "         F11        : Reset the VIC 20\n\n";

const std::string MISSING_CONFIG_VERBOSE =
    "Reading configuration from tarvikon.rc...\nCan't find configuration, using defaults, please save config...OK\n";

struct Outcome {
    int status;  // exit status, or -1 when the child did not exit normally
    std::string out;
};

// Start-up in a child process inside `dir`, for the paths that end the
// process. A start-up that returns exits with 100.
Outcome start_in_child(const std::string& dir, std::initializer_list<std::string> list) {
    TempDir outdir;
    std::string out_path = outdir.file("stdout");
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd == -1 || dup2(fd, 1) == -1 || chdir(dir.c_str()) != 0) _exit(101);
        close(fd);
        program_defaults();
        Args args(list);
        start_tarvikon(args.argc(), args.argv.data());
        std::fflush(stdout);
        _exit(100);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out_path)};
}

// Stand-in system ROMs of the right sizes, each with its own contents.
struct FakeRoms {
    std::string ntsc = pattern(8192, 1), pal = pattern(8192, 2), basic = pattern(8192, 3), chargen = pattern(4096, 4);
    void write(const std::string& dir, bool with_basic = true, size_t chargen_size = 4096) const {
        mkdir((dir + "/roms").c_str(), 0755);
        write_file(dir + "/roms/kernel.ntsc", ntsc);
        write_file(dir + "/roms/kernel.pal", pal);
        if (with_basic) write_file(dir + "/roms/basic.rom", basic);
        write_file(dir + "/roms/chargen.rom", chargen.substr(0, chargen_size));
    }
};

std::string rc_file(uint32_t rate, uint32_t expansion, uint32_t timing, uint16_t delay, uint8_t lines) {
    std::string s;
    auto put = [&](uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; i++) s += char(uint8_t(v >> (8 * i)));
    };
    put(rate, 4);
    put(expansion, 4);
    put(timing, 4);
    put(delay, 2);
    put(lines, 1);
    return s;
}

TEST(StartUp, HelpEndsTheProgramAtItsPosition) {
    TempDir dir;
    Outcome o = start_in_child(dir.path, {"-h"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, BANNER + USAGE);

    // Options before it have printed their texts; those after it are not looked at.
    o = start_in_child(dir.path, {"-verbose", "-H", "-highres", "-h"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, BANNER + "Message mode : Verbose\n" + USAGE);
}

TEST(StartUp, OptionTextsOncePerMatchingArgument) {
    TempDir dir;
    Outcome o = start_in_child(dir.path, {"-highres", "-HIGHRES", "-ram", "-highres", "-TVSOUND", "-joy", "-ver",
                                          "-VERBOSE", "-nocfg", "-NOSOUND", "-tvsound", "-h"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, BANNER + "Screen resolution : High\nScreen resolution : High\nScreen resolution : High\n" +
                         "Sound quality : TV Sound\nMessage mode : Verbose\nSound quality : TV Sound\n" + USAGE);
}

TEST(StartUp, OptionsSetTheirFlags) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    start_here({"-ram", "-ver", "-highres", "-TVSOUND", "-nosound", "-NOCFG"});
    EXPECT_EQ(ram, RAM_AT_A000 | NO_VERSION_PATCH);
    EXPECT_EQ(scale, 1);
    EXPECT_EQ(tvsound, 1);
    EXPECT_EQ(soundon, 0);
    EXPECT_EQ(config, 1);
    EXPECT_EQ(verbose, 0);

    // Case and length must match exactly: these are file names. "-ver" has
    // no upper-case twin.
    std::string out = start_here({"-nosound", "-Verbose", "-v", "-VER"});
    EXPECT_EQ(verbose, 0);
    EXPECT_EQ(ram, 0);
    EXPECT_NE(out.find("Loading game cartridge -VER...no suffix, loading cart at $a000...failed\n"), std::string::npos);
    EXPECT_NE(out.find("Loading game cartridge -Verbose...no suffix, loading cart at $a000...failed\n"),
              std::string::npos);
    EXPECT_NE(out.find("Loading game cartridge -v...no suffix, loading cart at $a000...failed\n"), std::string::npos);
}

TEST(StartUp, StepsInTheirOrder) {
    TempDir dir;
    FakeRoms roms;
    roms.write(dir.path);
    InDir in(dir.path);
    EXPECT_EQ(start_here({"-nosound"}), BANNER + "Starting Tarvikon...\n");

    // Keys held and blocks marked before start-up are released and cleared.
    keyrow[3] = 0;
    keycol[5] = 0;
    rombank[10] = BLOCK_ROM;
    EXPECT_EQ(start_here({"-nosound", "-verbose"}),
              BANNER + "Message mode : Verbose\n" + MISSING_CONFIG_VERBOSE + "Allocating VIC 20 RAM...OK\n" +
                  "Reading the ROMS...NTSC timing...kernel.ntsc...basic.rom...chargen.rom...OK\n" +
                  "Patching ROM with Tarvikon Version...OK\n" + "Inserting memory expansion cartridge...OK\n");
    ASSERT_NE(memory, nullptr);
    EXPECT_TRUE(memory_holds(memory, 0xE000, roms.ntsc.substr(0, 0x43C)));
    EXPECT_TRUE(memory_holds(memory, 0xE43C, "TARVIKON 0.8"));
    EXPECT_TRUE(memory_holds(memory, 0xC000, roms.basic));
    EXPECT_TRUE(memory_holds(memory, 0x8000, roms.chargen));
    EXPECT_TRUE(memory_holds(memory, 0x0000, std::string(0x8000, '\xFF')));
    EXPECT_TRUE(memory_holds(memory, 0xA000, std::string(0x2000, '\xFF')));
    EXPECT_TRUE(memory_holds(memory, 0x9000, std::string(0x1000, '\0')));
    EXPECT_EQ(scanline, NTSC_SCANLINE);
    EXPECT_EQ(last_line, NTSC_LAST_LINE);
    EXPECT_EQ(config, 1);  // no tarvikon.rc
    for (unsigned block : {0u, 2u, 3u, 4u, 5u, 6u, 7u}) EXPECT_EQ(rombank[block], BLOCK_NONE) << block;
    for (unsigned block : {1u, 10u, 11u}) EXPECT_EQ(rombank[block], BLOCK_RAM) << block;
    for (uint8_t row : keyrow) EXPECT_EQ(row, 0xFF);
    for (uint8_t col : keycol) EXPECT_EQ(col, 0xFF);

    // "-ver" leaves the kernal as the file has it.
    start_here({"-nosound", "-ver"});
    EXPECT_TRUE(memory_holds(memory, 0xE000, roms.ntsc));
}

TEST(StartUp, ConfiguredSettingsChooseKernalAndLayout) {
    TempDir dir;
    FakeRoms roms;
    roms.write(dir.path);
    InDir in(dir.path);
    write_file("tarvikon.rc", rc_file(3, EXP_16K, 1, 100, 9));
    EXPECT_EQ(start_here({"-nosound"}), BANNER + "Starting Tarvikon...\n");
    EXPECT_TRUE(memory_holds(memory, 0xE000, roms.pal.substr(0, 0x43C)));
    EXPECT_EQ(scanline, PAL_SCANLINE);
    EXPECT_EQ(interrupt, 3u);
    EXPECT_EQ(delay_loop, 100);
    EXPECT_EQ(overscan, 9);
    EXPECT_EQ(config, 0);
    EXPECT_EQ(rombank[4], BLOCK_RAM);
    EXPECT_EQ(rombank[6], BLOCK_NONE);

    // A timing the raster cannot run with: NTSC, said in every mode.
    write_file("tarvikon.rc", rc_file(3, 0, 7, 0, 28));
    EXPECT_EQ(start_here({"-nosound"}),
              BANNER + "Starting Tarvikon...\n" + "\nInvalid video timing in tarvikon.rc, using NTSC...");
    EXPECT_TRUE(memory_holds(memory, 0xE000, roms.ntsc.substr(0, 0x43C)));
    EXPECT_EQ(scanline, NTSC_SCANLINE);
    EXPECT_EQ(last_line, NTSC_LAST_LINE);
}

TEST(StartUp, CartridgeArgumentsRunUnexpanded) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    write_file("tarvikon.rc", rc_file(2, EXP_16K, 0, 0, 28));
    std::string cart = pattern(8192, 9);
    write_file("x.a0", cart);
    EXPECT_EQ(start_here({"x.a0", "-nosound"}),
              BANNER + "Starting Tarvikon...\n" + "Loading game cartridge x.a0 at $a000...got 8192 bytes \n");
    EXPECT_EQ(memdef, 0);
    EXPECT_EQ(config, 1);
    EXPECT_EQ(rombank[4], BLOCK_NONE);
    EXPECT_EQ(rombank[10], BLOCK_ROM);
    EXPECT_EQ(rombank[11], BLOCK_ROM);
    EXPECT_TRUE(memory_holds(memory, 0xA000, cart));
    // Saving now writes the expansion in effect: none.
    ASSERT_EQ(save_config(), 0);
    EXPECT_EQ(read_file("tarvikon.rc"), rc_file(2, EXP_NONE, 0, 0, 28));
    write_file("tarvikon.rc", rc_file(2, EXP_16K, 0, 0, 28));

    // "-ram" makes the loaded cartridge writable RAM.
    EXPECT_EQ(start_here({"-ram", "x.a0", "-nosound"}),
              BANNER + "Starting Tarvikon...\n" + "Loading game cartridge x.a0 at $a000...got 8192 bytes \n" +
                  "Using cartridge memory space $a000-$bfff as RAM...OK\n");
    EXPECT_EQ(rombank[10], BLOCK_RAM);
    EXPECT_EQ(rombank[11], BLOCK_RAM);
    EXPECT_TRUE(memory_holds(memory, 0xA000, cart));
}

TEST(StartUp, AnArchiveStandsForItsFirstVicFileAndARefusedOneForNothing) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    const std::string cart = pattern(8192, 9);
    int error = 0;
    zip_t* z = zip_open("games.zip", ZIP_CREATE, &error);
    ASSERT_TRUE(z);
    zip_file_add(z, "docs/read.me", zip_source_buffer(z, "hi", 2, 0), 0);
    zip_file_add(z, "carts/x.a0", zip_source_buffer(z, cart.data(), cart.size(), 0), 0);
    ASSERT_EQ(zip_close(z), 0);
    const std::string out = start_here({"games.zip", "-nosound"});
    const std::string head = BANNER + "Starting Tarvikon...\nLoading game cartridge " + archive_folder() + "/";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_TRUE(out.ends_with("/x.a0 at $a000...got 8192 bytes \n")) << out;
    EXPECT_TRUE(memory_holds(memory, 0xA000, cart));

    write_file("bad.zip", "PK\3\4 and nothing more");
    EXPECT_EQ(start_here({"bad.zip", "-nosound"}),
              BANNER + "Starting Tarvikon...\nRefused bad.zip: it is no zip archive or damaged\n");
    EXPECT_NE(rombank[10], BLOCK_ROM);
}

TEST(StartUp, MemoryOptionWinsOverTheFileAndAllIsKeptThere) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    write_file("tarvikon.rc", rc_file(2, EXP_16K, 0, 0, 28));
    struct Case {
        const char* value;
        uint8_t expansion;
        const char* blocks;  // states of blocks 0 to 11
    } cases[] = {
        {"none", EXP_NONE, "101111110000"}, {"3k", EXP_3K, "001111110000"},  {"8k", EXP_8K, "100011110000"},
        {"16k", EXP_16K, "100000110000"},   {"24k", EXP_24K, "100000000000"}, {"all", EXP_ALL, "000000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(start_here({"-memory", c.value, "-nosound"}), BANNER + "Starting Tarvikon...\n");
        EXPECT_EQ(memdef, c.expansion);
        EXPECT_EQ(config, c.expansion == EXP_16K ? 0 : 1);
        std::string blocks;
        for (unsigned b = 0; b < 12; b++) blocks += char('0' + rombank[b]);
        EXPECT_EQ(blocks, c.blocks);
    }
    // "All" is saved as no expansion, which is what an older build then
    // starts with, and a byte after the fields that this one reads.
    ASSERT_EQ(save_config(), 0);
    EXPECT_EQ(read_file("tarvikon.rc"), rc_file(2, EXP_NONE, 0, 0, 28) + char(EXP_ALL));
    start_here({"-nosound"});
    EXPECT_EQ(memdef, EXP_ALL);
    EXPECT_EQ(config, 0);

    EXPECT_EQ(start_here({"-nosound", "-memory", "32k"}),
              BANNER + "-memory takes none, 3k, 8k, 16k, 24k or all, not 32k\n" + "Starting Tarvikon...\n");
    EXPECT_EQ(memdef, EXP_ALL);
}

TEST(StartUp, ScaleOptionTakesOneToEight) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    const std::string refused = BANNER + "-scale needs a number from 1 to 8\nStarting Tarvikon...\n";
    auto expect_scale = [](uint8_t s, uint8_t set) {
        EXPECT_EQ(scale, s);
        EXPECT_EQ(scale_set, set);
    };
    EXPECT_EQ(start_here({"-nosound", "-scale", "3"}), BANNER + "Starting Tarvikon...\n");
    expect_scale(2, 1);
    EXPECT_EQ(start_here({"-SCALE", "8", "-nosound"}), BANNER + "Starting Tarvikon...\n");
    expect_scale(7, 1);
    for (const char* bad : {"0", "9", "2x", ""}) {
        EXPECT_EQ(start_here({"-nosound", "-scale", bad}), refused) << bad;
        expect_scale(0, 0);
    }
    EXPECT_EQ(start_here({"-nosound", "-scale"}), refused);
    expect_scale(0, 0);
}

TEST(StartUp, KeymapOptionTakesSymbolicOrPositional) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    EXPECT_EQ(start_here({"-keymap", "positional", "-nosound"}), BANNER + "Starting Tarvikon...\n");
    EXPECT_TRUE(positional_keys);
    EXPECT_EQ(start_here({"-nosound", "-keymap", "symbolic"}), BANNER + "Starting Tarvikon...\n");
    EXPECT_FALSE(positional_keys);
    EXPECT_EQ(start_here({"-nosound", "-keymap", "qwertz"}),
              BANNER + "-keymap takes symbolic or positional, not qwertz\nStarting Tarvikon...\n");
    EXPECT_FALSE(positional_keys);
}

TEST(StartUp, DriveEightFolderOptionAndDiskImageArgument) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    ASSERT_EQ(mkdir("disks", 0755), 0);
    ASSERT_EQ(d64_write_image("Game.D64", d64_blank("GAME DISK", "GD")), DiskStatus::OK);
    EXPECT_EQ(start_here({"-drive8", "disks", "-nosound", "Game.D64"}),
              BANNER + "Using folder disks as drive 8...OK\n" + "Starting Tarvikon...\n" +
                  "Attaching disk image Game.D64...OK\n" + "Nothing to start on Game.D64: it holds no program\n");
    DiskListing listing;
    ASSERT_EQ(drive8_listing(listing), DiskStatus::OK);
    EXPECT_EQ(listing.disk_name, "GAME DISK");
    EXPECT_EQ(rombank[10], BLOCK_RAM);  // not taken for a cartridge

    // The folder alone; a folder that is not there leaves the drive as it was.
    write_file("disks/one.prg", "\x01\x10");
    EXPECT_EQ(start_here({"-nosound", "-DRIVE8", "disks", "-drive8", "nothere"}),
              BANNER + "Using folder disks as drive 8...OK\n" + "Using folder nothere as drive 8...failed\n" +
                  "Starting Tarvikon...\n");
    ASSERT_EQ(drive8_listing(listing), DiskStatus::OK);
    ASSERT_EQ(listing.files.size(), 1u);
    EXPECT_EQ(listing.files[0].name, "ONE");
    EXPECT_EQ(start_here({"-nosound", "-drive8"}), BANNER + "-drive8 needs a folder or disk image\n" + "Starting Tarvikon...\n");
    // Drives 9 to 11 take an image or a folder alike.
    EXPECT_EQ(start_here({"-nosound", "-drive9", "Game.D64", "-drive11", "disks"}),
              BANNER + "Attaching disk image Game.D64 to drive 9...OK\n" + "Using folder disks as drive 11...OK\n" +
                  "Starting Tarvikon...\n");
    ASSERT_EQ(drive_listing(9, listing), DiskStatus::OK);
    EXPECT_EQ(listing.disk_name, "GAME DISK");
    ASSERT_EQ(drive_listing(11, listing), DiskStatus::OK);
    EXPECT_EQ(listing.files.size(), 1u);
    drive_detach(9);
    drive_detach(11);
    // An image of the wrong size is refused and the drive stays a folder.
    write_file("short.d64", std::string(1000, '\0'));
    EXPECT_EQ(start_here({"-nosound", "short.d64"}),
              BANNER + "Starting Tarvikon...\n" + "Attaching disk image short.d64...failed\n");
    ASSERT_EQ(drive8_listing(listing), DiskStatus::OK);
    EXPECT_EQ(listing.disk_id, "00 2A");
}

TEST(StartUp, DumpSwitchFromTheEnvironment) {
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    setenv("TARVIKON_DUMP", "1", 1);
    start_here({"-nosound"});
    EXPECT_EQ(DUMP, 1);
    setenv("TARVIKON_DUMP", "0", 1);
    start_here({"-nosound"});
    EXPECT_EQ(DUMP, 0);
    unsetenv("TARVIKON_DUMP");
    start_here({"-nosound"});
    EXPECT_EQ(DUMP, 0);
}

TEST(StartUp, JoystickThatIsNotThereFallsBackToKeys) {
    if (access("/dev/js0", F_OK) == 0) GTEST_SKIP() << "a joystick device is present";
    TempDir dir;
    FakeRoms().write(dir.path);
    InDir in(dir.path);
    EXPECT_EQ(start_here({"-joy", "-nosound"}), BANNER + "Starting Tarvikon...\n" + "failed, no joystick...use keys\n");
    EXPECT_EQ(joystick_fd, -1);
}

TEST(StartUp, MissingOrShortSystemRomsEndTheProcess) {
    TempDir empty;
    Outcome o = start_in_child(empty.path, {"-nosound"});
    EXPECT_EQ(o.status, 255);
    EXPECT_EQ(o.out, BANNER + "Starting Tarvikon...\nfailed\n");

    TempDir no_basic;
    FakeRoms().write(no_basic.path, false);
    o = start_in_child(no_basic.path, {"-verbose", "-nosound"});
    EXPECT_EQ(o.status, 255);
    EXPECT_EQ(o.out, BANNER + "Message mode : Verbose\n" + MISSING_CONFIG_VERBOSE + "Allocating VIC 20 RAM...OK\n" +
                         "Reading the ROMS...NTSC timing...kernel.ntsc...basic.rom...failed\n");

    TempDir short_chargen;
    FakeRoms().write(short_chargen.path, true, 100);
    o = start_in_child(short_chargen.path, {"-nosound", "-nocfg"});
    EXPECT_EQ(o.status, 255);
    EXPECT_EQ(o.out, BANNER + "Starting Tarvikon...\nUsing defaults...100 failed !\n");
}

}  // namespace
