// The program started with file arguments that are no images: a directory,
// FIFOs, a file it may not read, empty files and 100 MB files. Start-up must
// report each one, load the good arguments around them, lose nothing that
// was loaded, change none of the files, and never wait on a FIFO.
//
// Start-up runs in a child process: it may exit, a hang ends in SIGALRM, and
// a file that root could read anyway is read as `nobody` there. The last
// test runs the program itself on an 8-bit Xvfb, from a terminal.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../files/files_support.h"
#include "../files/startup_support.h"
#include "files/program_file.h"
#include "xvfb8.h"

namespace {

constexpr off_t HUNDRED_MB = 100L * 1024 * 1024;
constexpr unsigned HANG_SECONDS = 20;

struct Outcome {
    bool exited = false;
    int status = -1;       // exit status, when exited
    int signal = 0;        // terminating signal otherwise
    std::string out;       // standard output
    std::string image;     // the 64 KB address space after start-up
    std::string banks;     // the 16 block states
};

// A file of `size` bytes whose first bytes are `head` (the rest a hole).
void big_file(const std::string& path, const std::string& head, off_t size) {
    write_file(path, head);
    ASSERT_EQ(truncate(path.c_str(), size), 0);
}

// Runs start-up with `args` in `dir`, in a child process; as `nobody` when
// the test runs as root and `unprivileged` is asked for.
Outcome start_in_child(const std::string& dir, std::initializer_list<std::string> args, bool unprivileged) {
    TempDir results;
    std::string out_path = results.file("out"), image_path = results.file("image");
    int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int image_fd = open(image_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Outcome o;
    if (out_fd < 0 || image_fd < 0) {
        ADD_FAILURE() << "cannot create the result files";
        return o;
    }
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(90);
        if (unprivileged && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(91);
        }
        alarm(HANG_SECONDS);
        dup2(out_fd, STDOUT_FILENO);
        program_defaults();
        Args a(args);
        start_tarvikon(a.argc(), a.argv.data());
        std::fflush(stdout);
        if (write(image_fd, memory, MEMORY_SIZE) != ssize_t(MEMORY_SIZE) ||
            write(image_fd, rombank, sizeof rombank) != ssize_t(sizeof rombank))
            _exit(92);
        _exit(0);
    }
    close(out_fd);
    close(image_fd);
    int status = 0;
    waitpid(child, &status, 0);
    o.exited = WIFEXITED(status);
    o.status = o.exited ? WEXITSTATUS(status) : -1;
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    o.out = read_file(out_path);
    std::string all = read_file(image_path);
    if (all.size() == MEMORY_SIZE + 16) {
        o.image = all.substr(0, MEMORY_SIZE);
        o.banks = all.substr(MEMORY_SIZE);
    }
    return o;
}

std::string loading(const std::string& name, const std::string& rest) {
    return "Loading game cartridge " + name + rest;
}

class BadFileArguments : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        REQUIRE_ROMS();
        // `nobody` must reach the directory, the ROMs and the good files,
        // wherever the checkout and the shared material lie: copies here.
        chmod(dir.path.c_str(), 0755);
        mkdir(dir.file("roms").c_str(), 0755);
        for (const char* name : {"kernel.ntsc", "kernel.pal", "basic.rom", "chargen.rom"})
            write_file(dir.file(std::string("roms/") + name), read_file(shared_path(std::string("roms/") + name)));
    }
};

TEST_F(BadFileArguments, EachIsReportedAndStartUpGoesOnWithTheNext) {
    const std::string good60 = pattern(8192, 3), good_a0 = pattern(8192, 5), big_head = pattern(16384, 7);
    write_file(dir.file("good.60"), good60);
    write_file(dir.file("good.a0"), good_a0);
    mkdir(dir.file("dir.a0").c_str(), 0755);
    for (const char* fifo : {"pipe.a0", "pipe.prg", "pipe.crt", "pipe.tap"}) mkfifo(dir.file(fifo).c_str(), 0666);
    mkdir(dir.file("dir.t64").c_str(), 0755);
    write_file(dir.file("empty.a0"), "");
    write_file(dir.file("empty.prg"), "");
    write_file(dir.file("empty.a0.tap"), "");  // a tape by its name's end, whatever the first dot says
    write_file(dir.file("locked.a0"), pattern(8192, 9));
    chmod(dir.file("locked.a0").c_str(), 0);
    write_file(dir.file("locked.prg"), header(0x01, 0x10) + pattern(100, 9));  // would start by itself
    chmod(dir.file("locked.prg").c_str(), 0);
    big_file(dir.file("big.20"), big_head, HUNDRED_MB);

    Outcome o = start_in_child(dir.path,
                               {"-nosound", "good.60", "dir.a0", "pipe.a0", "pipe.prg", "pipe.crt", "empty.a0",
                                "empty.prg", "locked.a0", "locked.prg", "pipe.tap", "dir.t64", "empty.a0.tap", "big.20",
                                "good.a0"},
                               true);
    ASSERT_EQ(o.signal, 0) << (o.signal == SIGALRM ? "start-up hung (a FIFO?)" : "start-up crashed") << "\n" << o.out;
    ASSERT_TRUE(o.exited);
    ASSERT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.out, BANNER + "Starting Tarvikon...\n" +
                         loading("good.60", " at $6000...got 8192 bytes \n") +
                         loading("dir.a0", " at $a000...failed\n") +
                         loading("pipe.a0", " at $a000...failed\n") +
                         loading("pipe.prg", "Loading program pipe.prg...failed\n") +
                         loading("pipe.crt", "failed\n") +
                         loading("empty.a0", " at $a000...failed\n") +
                         loading("empty.prg", "Loading program empty.prg...failed\n") +
                         loading("locked.a0", " at $a000...failed\n") +
                         loading("locked.prg", "Loading program locked.prg...failed\n") +
                         "Attaching tape image pipe.tap...failed\nAttaching tape image dir.t64...failed\n"
                         "Attaching tape image empty.a0.tap...failed\n" +
                         loading("big.20", " at $2000...got 8192 bytes \n104849408 bytes past $3fff left out\n") +
                         loading("good.a0", " at $a000...got 8192 bytes \n"));

    ASSERT_EQ(o.image.size(), MEMORY_SIZE);
    const uint8_t* image = reinterpret_cast<const uint8_t*>(o.image.data());
    // What was loaded before and after the bad arguments is all there.
    EXPECT_TRUE(memory_holds(image, 0x6000, good60));
    EXPECT_TRUE(memory_holds(image, 0xA000, good_a0));
    EXPECT_TRUE(memory_holds(image, 0x2000, big_head.substr(0, 8192)));
    EXPECT_TRUE(memory_holds(image, 0x1000, std::string(0x1000, '\xFF')));
    EXPECT_EQ(read_file(shared_path("roms/basic.rom")), o.image.substr(0xC000, 0x2000));
    // Cartridge blocks marked; the unexpanded layout around them.
    const std::string banks = o.banks;
    ASSERT_EQ(banks.size(), 16u);
    for (int block : {2, 3, 6, 7, 10, 11}) EXPECT_EQ(banks[block], BLOCK_ROM) << "block " << block;
    for (int block : {0, 4, 5}) EXPECT_EQ(banks[block], BLOCK_NONE) << "block " << block;

    // The loaders read; none of the files has changed.
    EXPECT_EQ(read_file(dir.file("good.60")), good60);
    struct stat st;
    ASSERT_EQ(stat(dir.file("big.20").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, HUNDRED_MB);
    ASSERT_EQ(stat(dir.file("pipe.prg").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat(dir.file("empty.a0").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(BadFileArguments, AHundredMegabyteImageLoadsOnlyWhatItsKindHolds) {
    const std::string crt_head = pattern(16384, 11);
    big_file(dir.file("big.crt"), crt_head, HUNDRED_MB);
    const std::string program = header(0x00, 0x20) + pattern(25000, 13);
    big_file(dir.file("big.prg"), program, HUNDRED_MB);

    // The memory image waits for READY; the cartridge takes $6000-$7FFF now.
    Outcome o = start_in_child(dir.path, {"-nosound", "big.prg", "big.crt"}, false);
    ASSERT_EQ(o.signal, 0) << o.out;
    ASSERT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.out, BANNER + "Starting Tarvikon...\n" +
                         "Starting with the 24 KB expansion for big.prg (memory at $2000-$7fff)...\n" +
                         loading("big.crt", "...16k image...at $6000...got 8192 bytes...at $a000...got 8192 bytes\n"
                                            "104841216 bytes past $bfff left out\n"));
    ASSERT_EQ(o.image.size(), MEMORY_SIZE);
    const uint8_t* image = reinterpret_cast<const uint8_t*>(o.image.data());
    EXPECT_TRUE(memory_holds(image, 0x2000, std::string(0x4000, '\xFF')));
    // At READY it loads up to the end of the address space, no further.
    ProgramFile file;
    ASSERT_TRUE(read_program_file(dir.file("big.prg"), file));
    EXPECT_EQ(file.data.size(), MEMORY_SIZE - 0x2000);
    EXPECT_TRUE(memory_holds(file.data.data(), 0, program.substr(2)));
    EXPECT_TRUE(memory_holds(image, 0x6000, crt_head.substr(0, 8192)));
    EXPECT_TRUE(memory_holds(image, 0xA000, crt_head.substr(8192)));
}

// ---- the program itself ------------------------------------------------------------

using Clock = std::chrono::steady_clock;

TEST_F(BadFileArguments, TheProgramShowsTheMachineAfterReportingEachOne) {
    if (!on_path("Xvfb")) SKIP_OR_FAIL("Xvfb not installed");
    std::string built = std::string(TARVIKON_BINARY_DIR) + "/tarvikon";
    ASSERT_EQ(access(built.c_str(), X_OK), 0) << built;
    // A copy that `nobody` may run, whatever the build directory's permissions.
    std::string program = dir.file("tarvikon");
    write_file(program, read_file(built));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    const std::string good = pattern(8192, 5);
    write_file(dir.file("good.a0"), good);
    mkdir(dir.file("dir.a0").c_str(), 0755);
    mkfifo(dir.file("pipe.prg").c_str(), 0666);
    write_file(dir.file("empty.a0"), "");
    write_file(dir.file("locked.a0"), pattern(100, 1));
    chmod(dir.file("locked.a0").c_str(), 0);
    big_file(dir.file("big.crt"), pattern(16384, 2), HUNDRED_MB);

    Xvfb8 server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    // From a terminal, as a user starts it: standard output is line-buffered.
    int terminal;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(90);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(91);
        setenv("DISPLAY", server.display.c_str(), 1);
        execl(program.c_str(), "tarvikon", "-nosound", "dir.a0", "pipe.prg", "empty.a0", "locked.a0", "big.crt",
              "good.a0", nullptr);
        _exit(127);
    }
    const std::string last = loading("good.a0", " at $a000...got 8192 bytes \r\n");
    std::string out;
    auto begin = Clock::now();
    while (out.find(last) == std::string::npos && seconds_since(begin) < 20) {
        pollfd p{terminal, POLLIN, 0};
        char buffer[512];
        ssize_t n = 0;
        if (poll(&p, 1, 100) > 0 && (n = read(terminal, buffer, sizeof buffer)) <= 0) break;
        out.append(buffer, size_t(n));
    }
    // Still running: the machine is up and shown.
    usleep(500 * 1000);
    int status = 0;
    bool running = waitpid(child, &status, WNOHANG) == 0;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(terminal);

    EXPECT_TRUE(running) << "the program ended: "
                         << (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                               : "signal " + std::to_string(WTERMSIG(status)));
    EXPECT_NE(out.find(loading("dir.a0", " at $a000...failed\r\n") +
                       loading("pipe.prg", "Loading program pipe.prg...failed\r\n") +
                       loading("empty.a0", " at $a000...failed\r\n") +
                       loading("locked.a0", " at $a000...failed\r\n") +
                       loading("big.crt", "...16k image...at $6000...got 8192 bytes...at $a000...got 8192 bytes\r\n"
                                          "104841216 bytes past $bfff left out\r\n") +
                       last),
              std::string::npos)
        << out;
}

}  // namespace
