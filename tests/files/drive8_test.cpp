// Drive 8 on the host: names and patterns, the directory program byte by
// byte, and the folder backend's loads and saves.
#include <filesystem>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "files/drive8.h"
#include "files_support.h"

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(Drive8Names, PrefixesAndPatternsAsOnA1541) {
    DriveName n = parse_drive_name("@0:GAME");
    EXPECT_TRUE(n.replace);
    EXPECT_EQ(n.pattern, "GAME");
    n = parse_drive_name("0:GAME,P");
    EXPECT_FALSE(n.replace);
    EXPECT_EQ(n.pattern, "GAME");
    EXPECT_EQ(parse_drive_name("@:X").pattern, "X");
    EXPECT_EQ(parse_drive_name("A:B").pattern, "A:B");  // no drive number before the colon
    n = parse_drive_name("$");
    EXPECT_TRUE(n.directory);
    EXPECT_EQ(n.pattern, "*");
    EXPECT_EQ(parse_drive_name("$0:G*").pattern, "G*");

    EXPECT_TRUE(drive_name_matches("GAME", "GAME", false));
    EXPECT_FALSE(drive_name_matches("GAM", "GAME", false));
    EXPECT_FALSE(drive_name_matches("GAMES", "GAME", false));
    EXPECT_TRUE(drive_name_matches("G?ME", "GAME", false));
    EXPECT_FALSE(drive_name_matches("G?ME?", "GAME", false));
    EXPECT_TRUE(drive_name_matches("GA*", "GAME", false));
    EXPECT_TRUE(drive_name_matches("GAME*", "GAME", false));
    EXPECT_TRUE(drive_name_matches("G*X", "GAME", false));  // the rest after * is ignored
    EXPECT_TRUE(drive_name_matches("*", "", false));
    EXPECT_FALSE(drive_name_matches("game", "GAME", false));
    EXPECT_TRUE(drive_name_matches("game", "GAME", true));
    EXPECT_TRUE(drive_name_matches("\xC7" "AME", "GAME", true));  // shifted letters too

    EXPECT_EQ(petscii_from_host("Hello_1~"), "HELLO_1?");
    EXPECT_EQ(host_from_petscii("HELLO/\xC1" "1\x05"), "hello_A1_");
}

TEST(Drive8Listing, BytesOfTheDirectoryProgram) {
    DiskListing listing{"MY DISK", "ID 2A", {{"GAME", 0x82, 3, 17, 0}, {"LONGER NAME", 0x01, 120, 18, 4},
                                            {"L", 0xC2, 1000, 19, 0}}, 541};
    std::string expected = std::string("\x01\x04", 2) +
        std::string("\x01\x01\x00\x00", 4) + "\x12\"MY DISK         \" ID 2A" + std::string(1, '\0') +
        std::string("\x01\x01\x03\x00", 4) + "   \"GAME\"             PRG " + std::string(1, '\0') +
        std::string("\x01\x01\x78\x00", 4) + " \"LONGER NAME\"     *SEQ " + std::string(1, '\0') +
        std::string("\x01\x01\xE8\x03", 4) + "\"L\"                PRG<" + std::string(1, '\0') +
        std::string("\x01\x01\x1D\x02", 4) + "BLOCKS FREE." + std::string(3, '\0');
    EXPECT_EQ(text(listing_program(listing)), expected);
}

class Drive8Folder : public testing::Test {
protected:
    TempDir dir;
    std::string out;
    void SetUp() override { out = capture_stdout([&] { ASSERT_TRUE(drive8_use_folder(dir.path)); }); }
    std::string load(const std::string& name, DiskStatus expected = DiskStatus::OK) {
        std::vector<uint8_t> data;
        EXPECT_EQ(drive8_load(name, data), expected) << name;
        return text(data);
    }
};

TEST_F(Drive8Folder, LoadsPrgFilesWithoutRegardToCase) {
    EXPECT_EQ(out, "Using folder " + dir.path + " as drive 8...OK\n");
    write_file(dir.file("Game.PRG"), "\x01\x10" "game");
    write_file(dir.file("apple.prg"), "\x01\x10" "apple");
    write_file(dir.file("notes.txt"), "\x01\x10");
    write_file(dir.file("short.prg"), "\x01");
    ASSERT_EQ(mkdir(dir.file("dir.prg").c_str(), 0755), 0);

    EXPECT_EQ(load("GAME"), "\x01\x10" "game");
    EXPECT_EQ(load("0:g?me"), "\x01\x10" "game");
    EXPECT_EQ(load("*"), "\x01\x10" "apple");  // the first in name order
    load("NOTES", DiskStatus::NOT_FOUND);
    load("DIR", DiskStatus::NOT_FOUND);
    load("SHORT", DiskStatus::READ_ERROR);  // no load address

    DiskListing listing;
    ASSERT_EQ(drive8_listing(listing), DiskStatus::OK);
    ASSERT_EQ(listing.files.size(), 3u);
    EXPECT_EQ(listing.files[0].name, "APPLE");
    EXPECT_EQ(listing.files[1].name, "GAME");
    EXPECT_EQ(listing.files[1].blocks, 1);
    EXPECT_EQ(listing.files[1].type, 0x82);
    // "$" with a pattern lists only what matches.
    std::string program = load("$:G*");
    EXPECT_NE(program.find("\"GAME\""), std::string::npos);
    EXPECT_EQ(program.find("APPLE"), std::string::npos);

    EXPECT_FALSE(capture_stdout([&] { EXPECT_FALSE(drive8_use_folder(dir.file("notes.txt"))); }).empty());
    EXPECT_EQ(load("GAME"), "\x01\x10" "game");  // still the same folder
}

TEST_F(Drive8Folder, SaveNewReplaceAndRefuse) {
    EXPECT_EQ(drive8_save("HELLO", bytes("\x01\x10" "one")), DiskStatus::OK);
    EXPECT_EQ(read_file(dir.file("hello.prg")), "\x01\x10" "one");
    EXPECT_EQ(drive8_save("0:HELLO", bytes("\x01\x10" "two")), DiskStatus::EXISTS);
    EXPECT_EQ(read_file(dir.file("hello.prg")), "\x01\x10" "one");
    EXPECT_EQ(drive8_save("@0:HELLO", bytes("\x01\x10" "two")), DiskStatus::OK);
    EXPECT_EQ(read_file(dir.file("hello.prg")), "\x01\x10" "two");

    // An existing file in another case is the same file, replaced in place.
    write_file(dir.file("Old.PRG"), "\x01\x10" "old");
    EXPECT_EQ(drive8_save("OLD", bytes("\x01\x10" "new")), DiskStatus::EXISTS);
    EXPECT_EQ(drive8_save("@:OLD", bytes("\x01\x10" "new")), DiskStatus::OK);
    EXPECT_EQ(read_file(dir.file("Old.PRG")), "\x01\x10" "new");
    EXPECT_FALSE(std::filesystem::exists(dir.file("old.prg")));

    for (const char* bad : {"", "@0:", "H*", "H?", "$"}) EXPECT_EQ(drive8_save(bad, bytes("\x01\x10")), DiskStatus::WRITE_ERROR) << bad;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);
}

TEST_F(Drive8Folder, FailedWritesLoseNothing) {
    write_file(dir.file("keep.prg"), "\x01\x10" "keep");
    // A write that stops short, as on a full disk: the file size limit holds
    // for root too.
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    DiskStatus replaced = drive8_save("@0:KEEP", bytes("\x01\x10" "much longer"));
    DiskStatus added = drive8_save("NEW", bytes("\x01\x10" "much longer"));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(replaced, DiskStatus::WRITE_ERROR);
    EXPECT_EQ(added, DiskStatus::WRITE_ERROR);
    EXPECT_EQ(read_file(dir.file("keep.prg")), "\x01\x10" "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);  // no new or half file

    // A folder that went away.
    std::string gone = dir.file("gone");
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    capture_stdout([&] { drive8_use_folder(gone); });
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    EXPECT_EQ(drive8_save("KEEP", bytes("\x01\x10" "x")), DiskStatus::WRITE_ERROR);
    load("KEEP", DiskStatus::NOT_FOUND);
}

}  // namespace
