// The program itself headless, as a test script runs it: exit statuses and
// what it prints, with the real ROMs in the folder it starts in.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "support.h"

namespace {

struct RunResult {
    int status;
    std::string output;
};

// The program in a temporary folder holding roms/ and the assembled test
// program; `input` is its standard input.
RunResult run_program(const TempDir& dir, const std::string& args, const std::string& input = "") {
    write_file(dir.file("input"), input);
    const std::string command = "cd " + dir.path + " && " + TARVIKON_BINARY_DIR "/tarvikon -headless " + args +
                                " <input 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

bool prepare(TempDir& dir) {
    std::filesystem::create_directory_symlink(shared_path("roms"), dir.file("roms"));
    for (const char* name : {"exit_report.prg", "exit_report.lbl"}) {
        const std::string built = std::string(TARVIKON_BINARY_DIR) + "/tests/asm/" + name;
        if (!std::filesystem::exists(built)) return false;
        std::filesystem::copy_file(built, dir.file(name));
    }
    return true;
}

TEST(TestRunner, ExitStatusesAndScreen) {
    REQUIRE_ROMS();
    TempDir dir;
    if (!prepare(dir)) SKIP_OR_FAIL("exit_report.prg was not assembled (ca65 and ld65 missing)");
    struct Case {
        const char* args;
        int status;
        const char* output;  // a part of what it prints
    };
    const Case cases[] = {
        {"-expect READY. -limitcycles 5000000", 0, "Starting Tarvikon...\nExiting...\n"},
        {"-screentext -limitcycles 3000000", 1,
         "Cycle limit of 3000000 reached\n**** TARVIKON 0.8 ****\n\n3583 BYTES FREE\n\nREADY.\n"},
        {"-exitaddress '$FFFF' -limitcycles 20000000 exit_report.prg", 42, ""},
        {"-expect 'HELLO FROM CA65' -limitcycles 20000000 exit_report.prg", 0, ""},
        {"-expect NEVER -limitcycles 2000000", 1, "Cycle limit of 2000000 reached\n"},
        {"-type 'print 6*7\\n' -expect ' 42' -limitcycles 10000000", 0, ""},
        {"-type 'PRINT 1' -screentext -limitcycles 4000000", 1, "READY.\nPRINT 1\n"},
        {"-limitcycles x -exitaddress zz -remotemonitor 0 -expect READY. -limitcycles 5000000", 0,
         "-limitcycles needs a number of cycles, not x\n-exitaddress needs an address from $0000 to $FFFF, not zz\n"
         "-remotemonitor needs a port number from 1 to 65535, not 0\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_program(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.output), std::string::npos) << c.args << "\n" << r.output;
    }
}

// The terminal monitor at start with the program's labels: a profile of
// its multiplication loop (6 rounds of CLC, ADC #, DEY, BNE: 6 * 9 - 1
// cycles), then the program reports through the exit address.
TEST(TestRunner, TerminalMonitorWithLabelsAndProfile) {
    REQUIRE_ROMS();
    TempDir dir;
    if (!prepare(dir)) SKIP_OR_FAIL("exit_report.prg was not assembled (ca65 and ld65 missing)");
    const RunResult r = run_program(dir, "-monitor -exitaddress '$FFFF' -limitcycles 20000000 -screenshot shot.png exit_report.prg",
                              "labels exit_report.lbl\nprofile .mul\nuntil .store\nprofile\nd .multiply mul\nx\n");
    EXPECT_EQ(r.status, 42) << r.output;
    for (const char* part : {"> 8 labels read\n> Profiling $101F-$1024\n", "Reached $1025 after ",
                             "> mul $101F-$1024: 1 execution, 53 cycles, 53 to 53 each\n  53\n",
                             "multiply:\n$101A  78        SEI\n", "mul:\n$101F  18        CLC\n> "})
        EXPECT_NE(r.output.find(part), std::string::npos) << part << "\n" << r.output;
    const std::string png = read_file(dir.file("shot.png"));
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

}  // namespace
