// Drives 8 to 11 through the real kernal's file calls: a BASIC program that
// uses a data file and the command channel, on a folder and on an image,
// with both kernals.
#include <filesystem>

#include "basic_session.h"
#include "d64_reader.h"
#include "devices/d64.h"
#include "devices/dos.h"
#include "devices/drive8.h"
#include "devices/drive_media.h"
#include "files_support.h"

namespace {

// Writes, appends, reads back with INPUT# and GET#, scratches and lists
// the directory byte by byte; the status after every step, CMD into a file
// (CMD itself sends a CR, as BASIC prints the empty rest of its statement);
// a file without a secondary address, on channel 0 where nothing is open.
const char* const PROGRAM[] = {
    "10 OPEN15,D,15:OPEN2,D,2,\"@0:NOTES,S,W\":GOSUB90",
    "20 PRINT#2,\"HELLO,WORLD\":CLOSE2:GOSUB90",
    "30 OPEN2,D,2,\"NOTES,S,A\":GOSUB90:PRINT#2,\"MORE\":CLOSE2",
    "40 OPEN2,D,2,\"NOTES,S,R\":INPUT#2,A$,B$:GET#2,C$,D$",
    "50 PRINTA$;B$;C$;D$:CLOSE2:GOSUB90",
    "60 OPEN4,D,4,\"KEEP,S,W\":CMD4:PRINT\"CMD TEXT\":PRINT#4:CLOSE4",
    "70 PRINT#15,\"S0:NOTES\":GOSUB90:OPEN2,D,2,\"NOTES\":GOSUB90",
    "80 OPEN3,D,0,\"$\":N=0:K=0",
    "85 GET#3,A$:N=N+1:K=K+ASC(A$+CHR$(0)):IFST=0GOTO85",
    "86 PRINT\"DIR\"N;K:CLOSE3:CLOSE15",
    "87 OPEN5,D:PRINT#5,\"X\":GET#5,A$:PRINT\"NOSA\"ST:CLOSE5:END",
    "90 INPUT#15,E,E$,T,S:PRINTE;E$;T:RETURN",
};

class DosRom : public BasicSession {
protected:
    TempDir dir;

    void SetUp() override {
        REQUIRE_ROMS();
        ASSERT_NO_FATAL_FAILURE(boot());
    }
    void TearDown() override {
        for (unsigned unit = 9; unit <= LAST_DRIVE; unit++) drive_detach(unit);
        capture_stdout([] { drive_use_folder(8, "."); });
    }

    // Runs the program on a drive and checks what it printed.
    void session(unsigned unit) {
        type("5 D=" + std::to_string(unit) + "\r");
        for (const char* line : PROGRAM) type(std::string(line) + "\r");
        clear_screen();
        std::string s = enter("RUN");
        std::vector<uint8_t> listing;
        ASSERT_EQ(drive_load(unit, "$", listing), DiskStatus::OK);
        unsigned sum = 0;
        for (uint8_t b : listing) sum += b;
        shows(s, {"0 OK 0 0 OK 0 0 OK 0 HELLOWORLDMO 0 OK 0 1 FILES SCRATCHED 1 62 FILE NOT FOUND 0 ",
                  ("DIR " + std::to_string(listing.size()) + " " + std::to_string(sum) + " NOSA 66").c_str()});
        EXPECT_EQ(s.find("ERROR"), std::string::npos) << s;
    }
};

TEST_P(DosRom, FolderSession) {
    capture_stdout([&] { ASSERT_TRUE(drive_use_folder(9, dir.path)); });
    session(9);
    EXPECT_EQ(read_file(dir.file("keep.seq")), "\rCMD TEXT\r\r");
    EXPECT_FALSE(std::filesystem::exists(dir.file("notes.seq")));
    // LOAD and SAVE done on the host leave the drive's status too.
    shows(enter("LOAD\"NOPE\",9"), {"?FILE NOT FOUND"});
    EXPECT_EQ(dos_status_line(9), "62,FILE NOT FOUND,00,00");
    // Device 10 has nothing attached: nobody answers.
    shows(enter("OPEN1,10,2,\"X\""), {"?DEVICE NOT PRESENT"});
}

TEST_P(DosRom, ImageSession) {
    std::string path = dir.file("disk.d64");
    D64Image blank = d64_blank("DATA DISK", "DD");
    write_file(path, std::string(blank.bytes.begin(), blank.bytes.end()));
    capture_stdout([&] { ASSERT_TRUE(drive_attach_image(8, path)); });
    session(8);
    // The image as another program would read it.
    D64Reader disk(read_file(path));
    ASSERT_TRUE(disk.valid) << disk.error;
    EXPECT_EQ(disk.file("KEEP"), "\rCMD TEXT\r\r");
    EXPECT_EQ(disk.type_of("KEEP"), 0x81);
    EXPECT_FALSE(disk.has("NOTES"));
    EXPECT_EQ(disk.free_blocks(), 663u);  // one block taken, the scratched file's given back
}

INSTANTIATE_TEST_SUITE_P(Kernals, DosRom, testing::Values(uint8_t(0), uint8_t(1)), kernal_name);

}  // namespace
