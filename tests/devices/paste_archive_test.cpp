// Text to PETSCII for pasting, and the archive table: what is taken out of
// good archives and what is refused, with the one line said.
#include <sys/stat.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>

#include "core/tarvikon.h"
#include "start/archive.h"
#include "devices/paste.h"
#include "files/fileutil.h"
#include "start/recent.h"
#include "support.h"

namespace {

TEST(Paste, TextBecomesTheKeysOfEitherCharacterSetAndCountsWhatTheVicLacks) {
    struct Case {
        const char* text;
        bool lower_set;
        std::string keys;
        unsigned skipped;
    };
    const Case cases[] = {
        // Either case types the letter in the upper-case set; a capital is
        // the shifted letter in the lower-case set.
        {"10 Print \"Hi\";A$\n", false, "10 PRINT \"HI\";A$\r", 0},
        {"Hello", true, "\xC8" "ELLO", 0},
        // CRLF and CR end a line once; the VIC's own symbols and graphics
        // (as Copy screen writes them) map back; { } | ~ \ _ ` and tab do not.
        {"a\r\nb\rc\n", false, "A\rB\rC\r", 0},
        {"£↑←π@[]", false, "\x5C\x5E\x5F\xDE@[]", 0},
        {"♥─\u00A0", false, "\xD3\xC0\xA0", 0},
        {"{x}|~\\_`\t", false, "X", 8},
        {"π♥", true, "", 2},
        {"a\xC3(b\xF0", false, "A(B", 2},  // malformed UTF-8: the bad bytes alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PetsciiText t = petscii_from_utf8(c.text, c.lower_set);
        EXPECT_EQ(t.keys, c.keys);
        EXPECT_EQ(t.skipped, c.skipped);
    }
    new_machine();
    EXPECT_EQ(capture_stdout([] { paste_text("{ok}"); }), "Pasted without 2 characters the VIC 20 does not have\n");
    EXPECT_EQ(paste_pending(), 2u);
    reset_tarvikon();
    EXPECT_EQ(paste_pending(), 0u) << "a reset drops what is still to be typed";
}

// ---- archives -------------------------------------------------------------------------

struct Entry {
    std::string name, bytes;
};

void make_zip(const std::string& path, const std::vector<Entry>& entries) {
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_TRUE(z);
    for (const Entry& e : entries) {
        zip_source_t* s = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
        ASSERT_GE(zip_file_add(z, e.name.c_str(), s, ZIP_FL_ENC_UTF_8), 0);
    }
    ASSERT_EQ(zip_close(z), 0);
}

TEST(Archive, GoodArchivesGiveTheirFirstVicFileAndHostileOrDamagedOnesAreRefusedInOneLine) {
    TempDir dir;
    const std::string program = std::string("\x01\x10", 2) + "program bytes";
    const std::string disk(174848, '\x07');
    const std::string bomb(ARCHIVE_ENTRY_LIMIT + 1, '\0');  // deflates to a few kilobytes
    struct Case {
        const char* name;
        std::vector<Entry> entries;
        std::string said;   // the line printed, "%s" for the archive's path
        std::string taken;  // the name and bytes taken out when it is not refused
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"good", {{"readme.txt", "hi"}, {"game.prg", program}, {"game2.prg", "xx"}}, "", "game.prg", program},
        {"nested", {{"release/", ""}, {"release/docs/file_id.diz", "x"}, {"release/disks/Side A.D64", disk}},
         "", "Side A.D64", disk},
        {"none", {{"readme.txt", "hi"}}, "Nothing to start in %s: it holds no VIC 20 file\n", "", ""},
        {"dotdot", {{"game.prg", program}, {"../../evil.prg", program}},
         "Refused %s: the path ../../evil.prg leaves its folder\n", "", ""},
        {"absolute", {{"/etc/evil.prg", program}}, "Refused %s: the path /etc/evil.prg leaves its folder\n", "", ""},
        {"bomb", {{"bomb.prg", bomb}}, "Refused %s: bomb.prg would unpack to more than 16 MB\n", "", ""},
        {"total", {{"a.prg", bomb.substr(0, 15u << 20)}, {"b.prg", bomb.substr(0, 15u << 20)},
                   {"c.prg", bomb.substr(0, 15u << 20)}, {"d.prg", bomb.substr(0, 15u << 20)},
                   {"e.prg", bomb.substr(0, 15u << 20)}},
         "Refused %s: it would unpack to more than 64 MB\n", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string zip = dir.file(std::string(c.name) + ".zip");
        ASSERT_NO_FATAL_FAILURE(make_zip(zip, c.entries));
        std::string out;
        const std::string said = capture_stdout([&] { out = take_out_of_archive(zip); });
        std::string expected = c.said;
        if (size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, zip);
        EXPECT_EQ(said, expected);
        if (c.taken.empty()) {
            EXPECT_EQ(out, "");
            continue;
        }
        ASSERT_EQ(out.substr(out.rfind('/') + 1), c.taken);
        EXPECT_EQ(out.compare(0, archive_folder().size() + 1, archive_folder() + "/"), 0);
        EXPECT_EQ(read_file(out), c.bytes);
        // Read-only for everyone, root included: a save into it is refused and changes nothing.
        EXPECT_EQ(replace_file(out.c_str(), {{reinterpret_cast<const uint8_t*>("x"), 1}}), -1);
        EXPECT_EQ(read_file(out), c.bytes);
    }

    // Damaged: a truncated archive, and one whose data fails its checksum.
    const std::string good = read_file(dir.file("good.zip"));
    write_file(dir.file("cut.zip"), good.substr(0, good.size() / 2));
    std::string flipped = good;
    flipped[flipped.find("program bytes")] ^= 0x20;  // stored uncompressed: too short to deflate
    write_file(dir.file("flipped.zip"), flipped);
    EXPECT_EQ(capture_stdout([&] { take_out_of_archive(dir.file("cut.zip")); }),
              "Refused " + dir.file("cut.zip") + ": it is no zip archive or damaged\n");
    EXPECT_EQ(capture_stdout([&] { take_out_of_archive(dir.file("flipped.zip")); }),
              "Refused " + dir.file("flipped.zip") + ": game.prg is damaged\n");

    // The private folder is the process's own and goes whole.
    const std::string folder = archive_folder();
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    remove_archive_folder();
    EXPECT_FALSE(std::filesystem::exists(folder));

    // A signal that ends the program removes it too, then ends the program.
    const std::string tmp = dir.file("tmp");
    std::filesystem::create_directory(tmp);
    EXPECT_TRUE(sigterm_ends_the_frame([&] {
        setenv("TMPDIR", tmp.c_str(), 1);
        if (take_out_of_archive(dir.file("good.zip")).empty()) _exit(4);
    }));
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST(Recent, TheLastTenFilesNewestFirstInTheConfigurationFolderOnly) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    for (int i = 0; i < 12; i++) ASSERT_TRUE(add_recent_file(dir.file("f" + std::to_string(i) + ".prg")));
    ASSERT_TRUE(add_recent_file(dir.path + "/./sub/../f5.prg"));  // again: moved to the top, once
    std::vector<std::string> expected = {dir.file("f5.prg")};
    for (int i = 11; i >= 2; i--)
        if (i != 5) expected.push_back(dir.file("f" + std::to_string(i) + ".prg"));
    EXPECT_EQ(recent_files(), expected);
    EXPECT_EQ(recent_list_path(), dir.file("config/tarvikon/recent"));
    // A relative folder is no configuration folder; HOME's is used instead, and without it none.
    setenv("XDG_CONFIG_HOME", "config", 1);
    setenv("HOME", dir.path.c_str(), 1);
    EXPECT_EQ(recent_list_path(), dir.file(".config/tarvikon/recent"));
    unsetenv("HOME");
    EXPECT_FALSE(add_recent_file("x.prg"));
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
