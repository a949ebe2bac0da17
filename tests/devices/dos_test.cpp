// The drives' DOS on both media: the commands and the status each gives,
// REL records, block access, write protection, a full disk, damaged chains
// and files still open at exit. The images are read back by the tests' own
// reader.
#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "d64_reader.h"
#include "devices/d64.h"
#include "devices/dos.h"
#include "devices/drive_media.h"
#include "devices/serial_bus.h"
#include "files_support.h"

namespace {

constexpr unsigned UNIT = 10;

std::string status_after(const std::string& command) {
    dos_command(UNIT, command);
    return dos_status_line(UNIT);
}

// Everything a channel sends up to its last byte (at most `limit`).
std::string read_channel(unsigned channel, size_t limit = 100000) {
    std::string out;
    uint8_t byte;
    bool last = false;
    while (out.size() < limit && !last && dos_read(UNIT, channel, byte, last)) out += char(byte);
    return out;
}

void write_channel(unsigned channel, const std::string& text) {
    for (char c : text) dos_write(UNIT, channel, uint8_t(c));
    dos_end_of_write(UNIT, channel);
}

std::string position(unsigned channel, unsigned record, unsigned offset = 1) {
    return status_after(std::string{'P', char(0x60 + channel), char(record & 0xFF), char(record >> 8), char(offset)});
}

class Dos : public testing::TestWithParam<bool> {  // true: a .d64 image, false: a folder
protected:
    TempDir dir;
    std::string image = dir.file("disk.d64");

    void SetUp() override {
        if (GetParam()) {
            D64Image blank = d64_blank("DOS TEST", "DT");
            write_file(image, std::string(blank.bytes.begin(), blank.bytes.end()));
        }
        capture_stdout([&] { ASSERT_TRUE(GetParam() ? drive_attach_image(UNIT, image) : drive_use_folder(UNIT, dir.path)); });
        dos_reset(UNIT);
    }
    void TearDown() override {
        dos_flush_all();
        drive_detach(UNIT);
    }

    void put(unsigned channel, const std::string& name, const std::string& data) {
        dos_open(UNIT, channel, name);
        write_channel(channel, data);
        dos_close(UNIT, channel);
    }
    std::string get(const std::string& name) {
        dos_open(UNIT, 3, name);
        std::string s = read_channel(3);
        dos_close(UNIT, 3);
        return s;
    }
};

TEST_P(Dos, CommandsAndTheirStatus) {
    EXPECT_EQ(dos_status_line(UNIT), "73,CBM DOS V2.6 1541,00,00");
    EXPECT_EQ(read_channel(15), "73,CBM DOS V2.6 1541,00,00\r");
    EXPECT_EQ(read_channel(15), "00, OK,00,00\r");  // read once, the status is reset
    put(2, "A,S,W", "alpha");
    put(2, "B,P,W", "\x01\x10" "beta");
    put(2, "0:B,S,W", "x");
    EXPECT_EQ(dos_status_line(UNIT), "63,FILE EXISTS,00,00");
    const std::pair<std::string, const char*> table[] = {
        {"I0", "00, OK,00,00"},
        {"XYZZY", "31,SYNTAX ERROR,00,00"},
        {"R0:B=A", "63,FILE EXISTS,00,00"},
        {"R0:C=NONE", "62,FILE NOT FOUND,00,00"},
        {"R0:C=A", "00, OK,00,00"},
        {"C0:D=C,B", "00, OK,00,00"},
        {"C0:D=C", "63,FILE EXISTS,00,00"},
        {"S0:NONE", "01, FILES SCRATCHED,00,00"},
        {"S0:?", "01, FILES SCRATCHED,03,00"},
        {"V", "00, OK,00,00"},
        {"UI+", "00, OK,00,00"},
        {"UJ", "73,CBM DOS V2.6 1541,00,00"},
        {std::string("M-W\x00\x05\x01\x00", 7), "00, OK,00,00"},
        {std::string("M-E\x00\x05", 5), "00, OK,00,00"},
        {"B-P 5 0", "70,NO CHANNEL,00,00"},
        {"P\x62\x01\x00\x01", "70,NO CHANNEL,00,00"},
    };
    for (const auto& [command, status] : table) EXPECT_EQ(status_after(command), status) << command;
    EXPECT_EQ(get("D"), "");
    EXPECT_EQ(dos_status_line(UNIT), "62,FILE NOT FOUND,00,00");  // scratched by "S0:?"
    // M-R: the drive's ROM version text where programs look for it.
    dos_command(UNIT, std::string("M-R\xC3\xE5\x04", 6));
    EXPECT_EQ(read_channel(15), "1541");
    EXPECT_EQ(get("$"), get("$0:*=S"));  // nothing left of either type filter
}

TEST_P(Dos, FilesTypesAppendAndChannels) {
    put(2, "NOTES,S,W", "one\r");
    put(2, "NOTES,S,A", "two\r");
    put(1, "PROG", "\x01\x10" "prg");
    put(4, "MINE,U,W", "usr");
    EXPECT_EQ(get("NOTES"), "one\rtwo\r");
    EXPECT_EQ(get("NOTES,P,R"), "");
    EXPECT_EQ(dos_status_line(UNIT), "64,FILE TYPE MISMATCH,00,00");
    EXPECT_EQ(get("P*"), "\x01\x10" "prg");
    EXPECT_EQ(get("MINE,U"), "usr");
    // The directory as data, limited by a pattern or a type.
    for (const auto& [name, has, lacks] : {std::tuple{"$*=S", "NOTES", "PROG"}, {"$0:P*", "PROG", "NOTES"},
                                           {"$", "MINE", "\x12\"\""}}) {
        std::string listing = get(name);
        EXPECT_NE(listing.find(has), std::string::npos) << name;
        EXPECT_EQ(listing.find(lacks), std::string::npos) << name;
    }
    put(2, "@0:NOTES,S,W", "new");
    EXPECT_EQ(get("NOTES"), "new");
    put(2, "N*,S,W", "x");
    EXPECT_EQ(dos_status_line(UNIT), "33,SYNTAX ERROR,00,00");
    // Five data channels at once; a sixth has none.
    for (unsigned c = 2; c <= 6; c++) dos_open(UNIT, c, "NOTES");
    dos_open(UNIT, 7, "NOTES");
    EXPECT_EQ(dos_status_line(UNIT), "70,NO CHANNEL,00,00");
    EXPECT_EQ(read_channel(2, 1) + read_channel(3), "nnew");
    dos_close(UNIT, 15);  // closes them all
    dos_open(UNIT, 7, "NOTES");
    EXPECT_EQ(dos_status_line(UNIT), "00, OK,00,00");
    // A file open for writing at exit is written whole.
    dos_open(UNIT, 8, "LATE,S,W");
    write_channel(8, "kept");
    dos_flush_all();
    EXPECT_EQ(get("LATE"), "kept");
    if (!GetParam()) {
        for (const char* host : {"notes.seq", "prog.prg", "mine.usr", "late.seq"})
            EXPECT_TRUE(std::filesystem::exists(dir.file(host))) << host;
        return;
    }
    D64Reader disk(read_file(image));
    ASSERT_TRUE(disk.valid) << disk.error;
    EXPECT_EQ(disk.file("LATE"), "kept");
    EXPECT_EQ(disk.type_of("MINE"), 0x83);
    EXPECT_EQ(disk.free_blocks(), 664u - 4);
}

TEST_P(Dos, RelativeRecordsRoundTrip) {
    dos_open(UNIT, 2, std::string("REC,L,") + char(20));
    EXPECT_EQ(dos_status_line(UNIT), "00, OK,00,00");
    EXPECT_EQ(position(2, 30), "50,RECORD NOT PRESENT,00,00");
    write_channel(2, "THIRTY\r");  // a write there grows the file
    EXPECT_EQ(position(2, 2), "00, OK,00,00");
    write_channel(2, "TWO\r");
    write_channel(2, "THREE\r");  // the next record follows
    write_channel(2, std::string(25, 'X'));
    EXPECT_EQ(dos_status_line(UNIT), "51,OVERFLOW IN RECORD,00,00");
    dos_close(UNIT, 2);

    dos_open(UNIT, 2, "REC");  // the record length comes from the file
    EXPECT_EQ(position(2, 2), "00, OK,00,00");
    EXPECT_EQ(read_channel(2), "TWO\r");
    EXPECT_EQ(read_channel(2), "THREE\r");
    EXPECT_EQ(read_channel(2), std::string(20, 'X'));
    EXPECT_EQ(read_channel(2), "\xFF");  // never written
    EXPECT_EQ(position(2, 30, 3), "00, OK,00,00");
    EXPECT_EQ(read_channel(2), "IRTY\r");
    EXPECT_EQ(position(2, 40), "50,RECORD NOT PRESENT,00,00");
    EXPECT_EQ(read_channel(2), "");
    dos_close(UNIT, 2);
    if (!GetParam()) {
        EXPECT_EQ(read_file(dir.file("rec,20.rel")).size() % 20, 0u);
        return;
    }
    // On the image: the records in the data chain, listed by side sectors.
    D64Reader disk(read_file(image));
    ASSERT_TRUE(disk.valid) << disk.error;
    const D64Reader::Entry& e = disk.entries.at("REC");
    EXPECT_EQ(e.type, 0x84);
    EXPECT_EQ(e.record_length, 20);
    unsigned data_blocks = 0;
    std::string records = disk.chain(e.track, e.sector, &data_blocks);
    EXPECT_EQ(records.substr(20, 4), "TWO\r");
    EXPECT_EQ(records.substr(29 * 20, 7), "THIRTY\r");
    const uint8_t* side = disk.sector(e.side_track, e.side_sector);
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(side[3], 20);
    EXPECT_EQ(side[16], e.track);
    EXPECT_EQ(side[17], e.sector);
    EXPECT_EQ(e.blocks, data_blocks + 1);
}

TEST_P(Dos, BlocksAndProtection) {
    dos_open(UNIT, 5, "#");
    if (!GetParam()) {
        EXPECT_EQ(status_after("U1:5,0,18,0"), "66,ILLEGAL TRACK AND SECTOR,18,00");  // a folder has no blocks
        return;
    }
    EXPECT_EQ(status_after("U1:5,0,18,0"), "00, OK,00,00");
    EXPECT_EQ(read_channel(5, 3), "\x12\x01\x41");
    EXPECT_EQ(status_after("B-P 5 2"), "00, OK,00,00");
    write_channel(5, "SAVED GAME");
    EXPECT_EQ(status_after("U2 5 0 1 0"), "00, OK,00,00");
    EXPECT_EQ(status_after("U1:5,0,40,0"), "66,ILLEGAL TRACK AND SECTOR,40,00");
    EXPECT_EQ(status_after("B-A 0 1 0"), "00, OK,00,00");
    EXPECT_EQ(status_after("B-A 0 1 0"), "65,NO BLOCK,01,00");
    D64Reader disk(read_file(image));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(disk.sector(1, 0)) + 2, 10), "SAVED GAME");
    EXPECT_EQ(disk.free_blocks(), 663u);

}

// As a user whom the file modes bind (CI runs as root): a read-only image,
// or a read-only file in a read-only folder, refuses every write and stays
// byte for byte.
TEST_P(Dos, WriteProtectOn) {
    put(2, "KEEP,S,W", "keep");
    const std::string path = GetParam() ? image : dir.file("keep.seq");
    const std::string before = read_file(path);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.path.c_str(), 65534, 65534), 0);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path))
            ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    chmod(path.c_str(), 0444);
    chmod(dir.path.c_str(), 0555);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            _exit(2);
        if (GetParam()) drive_attach_image(UNIT, image);
        const char* image_only[] = {"N0:X,YY", "V", "B-A 0 2 0"};
        for (const char* command : {"S0:KEEP", "R0:OTHER=KEEP"}) EXPECT_EQ(status_after(command), "26,WRITE PROTECT ON,00,00") << command;
        for (const char* command : image_only)
            EXPECT_EQ(status_after(command), GetParam() ? "26,WRITE PROTECT ON,00,00" : command[0] == 'B' ? "66,ILLEGAL TRACK AND SECTOR,02,00" : "00, OK,00,00")
                << command;
        for (const char* name : {"NEW,S,W", "@0:KEEP,S,W", "KEEP,S,A"}) {
            dos_open(UNIT, 2, name);
            EXPECT_EQ(dos_status_line(UNIT), "26,WRITE PROTECT ON,00,00") << name;
        }
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir.path.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(get("KEEP"), "keep");
}

TEST_P(Dos, FullDiskAndDamagedChains) {
    if (!GetParam()) GTEST_SKIP() << "a folder is as full as its host disk";
    put(2, "SMALL,S,W", "small");
    put(2, "HUGE,S,W", std::string(665 * 254, 'h'));
    EXPECT_EQ(dos_status_line(UNIT), "72,DISK FULL,00,00");
    EXPECT_EQ(get("SMALL"), "small");
    EXPECT_EQ(get("HUGE"), "");
    EXPECT_EQ(dos_status_line(UNIT), "62,FILE NOT FOUND,00,00");
    // A file whose chain loops back on itself: an error, not a hang.
    D64Reader disk(read_file(image));
    const D64Reader::Entry& e = disk.entries.at("SMALL");
    std::string bytes = read_file(image);
    size_t at = size_t(reinterpret_cast<const char*>(disk.sector(e.track, e.sector)) - disk.image.data());
    bytes[at] = char(e.track);
    bytes[at + 1] = char(e.sector);
    write_file(image, bytes);
    capture_stdout([&] { ASSERT_TRUE(drive_attach_image(UNIT, image)); });
    EXPECT_EQ(get("SMALL"), "");
    EXPECT_EQ(dos_status_line(UNIT), "20,READ ERROR,00,00");
}

// SIGTERM with a file open for writing: the file is written at the end of
// the frame, then the signal ends the program as it would have.
TEST_P(Dos, SignalWritesOpenFilesFirst) {
    EXPECT_TRUE(sigterm_ends_the_frame([&] {
        add_serial_bus_traps();
        dos_open(UNIT, 2, "OPEN,S,W");
        write_channel(2, "written");
    }));
    capture_stdout([&] { ASSERT_TRUE(GetParam() ? drive_attach_image(UNIT, image) : drive_use_folder(UNIT, dir.path)); });
    EXPECT_EQ(get("OPEN"), "written");
}

INSTANTIATE_TEST_SUITE_P(Media, Dos, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Image" : "Folder"; });

}  // namespace
