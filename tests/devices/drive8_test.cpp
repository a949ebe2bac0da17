// Drive 8 on the host: names and patterns, the directory program byte by
// byte, and the folder backend's loads and saves.
#include <filesystem>
#include <csignal>
#include <sys/resource.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "devices/d64.h"
#include "devices/drive8.h"
#include "files_support.h"

namespace {

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(Drive8Names, PrefixesAndPatternsAsOnA1541) {
    struct Parsed {
        const char* name;
        const char* pattern;
        bool replace, directory;
    };
    for (Parsed c : {Parsed{"@0:GAME", "GAME", true, false}, Parsed{"0:GAME,P", "GAME", false, false},
                     Parsed{"@:X", "X", true, false}, Parsed{"A:B", "A:B", false, false},  // no drive number
                     Parsed{"$", "*", false, true}, Parsed{"$0:G*", "G*", false, true}}) {
        DriveName n = parse_drive_name(c.name);
        EXPECT_EQ(n.pattern, c.pattern) << c.name;
        EXPECT_EQ(n.replace, c.replace) << c.name;
        EXPECT_EQ(n.directory, c.directory) << c.name;
    }
    struct Match {
        const char* pattern;
        const char* name;
        bool shifted_too, matches;
    };
    for (Match c : {Match{"GAME", "GAME", false, true}, Match{"GAM", "GAME", false, false},
                    Match{"GAMES", "GAME", false, false}, Match{"G?ME", "GAME", false, true},
                    Match{"G?ME?", "GAME", false, false}, Match{"GA*", "GAME", false, true},
                    Match{"GAME*", "GAME", false, true}, Match{"G*X", "GAME", false, true},  // the rest after * is ignored
                    Match{"*", "", false, true}, Match{"game", "GAME", false, false},
                    Match{"game", "GAME", true, true}, Match{"\xC7" "AME", "GAME", true, true}})
        EXPECT_EQ(drive_name_matches(c.pattern, c.name, c.shifted_too), c.matches) << c.pattern << " " << c.name;

    EXPECT_EQ(petscii_from_host("Hello_1~"), "HELLO_1?");
    EXPECT_EQ(host_from_petscii("HELLO/\xC1" "1\x05%"), "hello%2fA1%05%25");
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
    EXPECT_EQ(drive8_save("HELLO", bytes_of("\x01\x10" "one")), DiskStatus::OK);
    EXPECT_EQ(read_file(dir.file("hello.prg")), "\x01\x10" "one");
    EXPECT_EQ(drive8_save("0:HELLO", bytes_of("\x01\x10" "two")), DiskStatus::EXISTS);
    EXPECT_EQ(read_file(dir.file("hello.prg")), "\x01\x10" "one");
    EXPECT_EQ(drive8_save("@0:HELLO", bytes_of("\x01\x10" "two")), DiskStatus::OK);
    EXPECT_EQ(read_file(dir.file("hello.prg")), "\x01\x10" "two");

    // An existing file in another case is the same file, replaced in place.
    write_file(dir.file("Old.PRG"), "\x01\x10" "old");
    EXPECT_EQ(drive8_save("OLD", bytes_of("\x01\x10" "new")), DiskStatus::EXISTS);
    EXPECT_EQ(drive8_save("@:OLD", bytes_of("\x01\x10" "new")), DiskStatus::OK);
    EXPECT_EQ(read_file(dir.file("Old.PRG")), "\x01\x10" "new");
    EXPECT_FALSE(std::filesystem::exists(dir.file("old.prg")));

    for (const char* bad : {"", "@0:", "H*", "H?", "$"}) EXPECT_EQ(drive8_save(bad, bytes_of("\x01\x10")), DiskStatus::WRITE_ERROR) << bad;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);
}

TEST_F(Drive8Folder, NamesAHostCannotHoldComeBackAsSaved) {
    const std::string long_name = "A VERY LONG NAME, SAID";  // a 1541 keeps the first 16 bytes
    for (std::string name : {std::string("A/B"), std::string("\x5E\x60\xA0\xFF%"), std::string("2\x01") + "X", long_name}) {
        SCOPED_TRACE(name);
        const std::string kept = name.substr(0, 16), data = "\x01\x10" + name;
        EXPECT_EQ(drive8_save(name, bytes_of(data)), DiskStatus::OK);
        EXPECT_EQ(load(name), data);
        EXPECT_EQ(load(kept), data);
        EXPECT_EQ(drive8_save(name, bytes_of("\x01\x10")), DiskStatus::EXISTS);
        const std::string line = "   \"" + kept + "\"" + std::string(16 - kept.size(), ' ') + " PRG ";
        EXPECT_NE(load("$:" + kept).find(line), std::string::npos) << line;
    }
    // A host file with a long name lists as its first 16 bytes, columns kept.
    write_file(dir.file("averyveryverylongname.prg"), "\x01\x10" "x");
    EXPECT_EQ(load("AVERYVERYVERYLONGNAME"), "\x01\x10" "x");
    EXPECT_NE(load("$").find("\"AVERYVERYVERYLON\" PRG "), std::string::npos);
}

// Saves as a user whom the file modes bind (CI runs as root): a file the
// user may not write stays byte for byte, a writable one in a folder the
// user may not change is rewritten in place, keeping its mode and links.
TEST_F(Drive8Folder, ReadOnlyFilesAndFoldersAsAnOrdinaryUser) {
    const std::string ro = dir.file("ro"), rw = dir.file("rw");
    ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(rw.c_str(), 0755), 0);
    write_file(ro + "/old.prg", "\x01\x10" "old");
    write_file(rw + "/rw.prg", "\x01\x10" "rw");
    ASSERT_EQ(link((rw + "/rw.prg").c_str(), (rw + "/twin.prg").c_str()), 0);
    const D64Image blank = d64_blank("D", "ID");
    const std::string disk(blank.bytes.begin(), blank.bytes.end());
    write_file(ro + "/ro.d64", disk);
    write_file(rw + "/rw.d64", disk);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.path.c_str(), 65534, 65534), 0);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path))
            ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    chmod((ro + "/old.prg").c_str(), 0444);
    chmod((ro + "/ro.d64").c_str(), 0444);
    chmod((rw + "/rw.prg").c_str(), 0640);
    chmod(rw.c_str(), 0555);

    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            _exit(2);
        drive8_use_folder(ro);
        EXPECT_EQ(drive8_save("@0:OLD", bytes_of("\x01\x10" "new")), DiskStatus::WRITE_ERROR);
        drive8_use_folder(rw);
        EXPECT_EQ(drive8_save("@0:RW", bytes_of("\x01\x10" "rewritten")), DiskStatus::OK);
        EXPECT_EQ(drive8_save("NEW", bytes_of("\x01\x10" "new")), DiskStatus::WRITE_ERROR);
        drive8_attach_image(ro + "/ro.d64");
        EXPECT_EQ(drive8_save("X", bytes_of("\x01\x10" "x")), DiskStatus::WRITE_ERROR);
        drive8_attach_image(rw + "/rw.d64");
        EXPECT_EQ(drive8_save("X", bytes_of("\x01\x10" "x")), DiskStatus::OK);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(rw.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_file(ro + "/old.prg"), "\x01\x10" "old");
    EXPECT_TRUE(read_file(ro + "/ro.d64") == disk);
    EXPECT_EQ(read_file(rw + "/twin.prg"), "\x01\x10" "rewritten");
    struct stat st;
    ASSERT_EQ(stat((rw + "/rw.prg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_TRUE(read_file(rw + "/rw.d64") != disk);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rw), {}), 3);  // no new or temporary file
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
    DiskStatus replaced = drive8_save("@0:KEEP", bytes_of("\x01\x10" "much longer"));
    DiskStatus added = drive8_save("NEW", bytes_of("\x01\x10" "much longer"));
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
    EXPECT_EQ(drive8_save("KEEP", bytes_of("\x01\x10" "x")), DiskStatus::WRITE_ERROR);
    load("KEEP", DiskStatus::NOT_FOUND);
}

}  // namespace
