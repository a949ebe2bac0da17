// The emulator's side of the sound process: start-up, the register pipe,
// shut-down, and a sound process that fails or dies. The child runs a small
// stand-in here (or the real set-up where it fails before it needs a device);
// the real device is exercised in sound_server_test.
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "support.h"

namespace {

std::string record_path;  // where record_messages() puts what it received

void report(uint8_t status) {
    if (write(pipefd2[1], &status, 1) != 1) _exit(9);
}

// ---- stand-ins for the sound process ------------------------------------------

void die_before_reporting() { _exit(3); }

void report_failure() {
    report(0);
    _exit(-1);
}

void report_then_die() {
    report(1);
    _exit(0);
}

// Copies every byte of the register pipe into record_path until the pipe
// ends, then waits for SIGUSR1 and adds "S" for it.
void record_messages() {
    signal(SIGUSR1, sound_sighand);
    close(pipefd[1]);
    close(pipefd2[0]);
    report(1);
    close(pipefd2[1]);
    const int out = open(record_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char bytes[256];
    ssize_t n;
    while ((n = read(pipefd[0], bytes, sizeof bytes)) > 0)
        if (write(out, bytes, size_t(n)) != n) _exit(9);
    for (int i = 0; i < 5000 && !sound_stop; i++) usleep(1000);
    if (sound_stop && write(out, "S", 1) != 1) _exit(9);
    _exit(0);
}

// Takes two messages and dies, leaving the pipe without a reader.
void take_two_then_die() {
    close(pipefd[1]);
    report(1);
    uint8_t bytes[4];
    size_t got = 0;
    while (got < 4) {
        const ssize_t n = read(pipefd[0], bytes + got, 4 - got);
        if (n <= 0) break;
        got += size_t(n);
    }
    _exit(0);
}

// Reads nothing; ends on SIGUSR1.
void wait_for_signal() {
    signal(SIGUSR1, sound_sighand);
    report(1);
    for (int i = 0; i < 5000 && !sound_stop; i++) usleep(1000);
    _exit(0);
}

// A sound process that neither reads nor answers its signal.
void ignore_everything() {
    signal(SIGUSR1, SIG_IGN);
    report(1);
    for (;;) pause();
}

int open_descriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir)) count++;
    closedir(dir);
    return count;
}

bool process_gone(pid_t p) { return kill(p, 0) == -1 && errno == ESRCH; }

class SoundProcess : public testing::Test {
protected:
    TempDir dir;

    void SetUp() override {
        new_machine(0);
        soundon = 1;
        verbose = 1;
        pid = 0;
        pipefd[0] = pipefd[1] = pipefd2[0] = pipefd2[1] = -1;
        record_path = dir.file("received");
    }
    void TearDown() override {
        if (pid > 0) {  // a test that failed half-way must not leave its child behind
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (pipefd[1] != -1) close(pipefd[1]);
        pid = 0;
        sound_process_body = start_sound;
        sound_device = "/dev/dsp";
        soundon = 0;
        verbose = 0;
    }

    std::string start(void (*body)()) {
        sound_process_body = body;
        return capture_stdout(start_sound_process);
    }
};

TEST_F(SoundProcess, StartsSendsAndStops) {
    EXPECT_EQ(start(record_messages), "Opening pipe...OK\nStarting soundprocess...\nSoundprocess sucessfully started\n");
    ASSERT_EQ(soundon, 1);
    const pid_t child = pid;
    ASSERT_GT(child, 0);
    EXPECT_NE(fcntl(pipefd[1], F_GETFL) & O_NONBLOCK, 0);

    // The five sound registers go out before they are stored; the others do not.
    WRITMEM(0x900B, 0x87);
    WRITMEM(0x900E, 0x8F);
    WRITMEM(0x900A, 0x80);
    WRITMEM(0x900C, 0xF0);
    WRITMEM(0x900D, 0xFE);
    WRITMEM(0x9000, 0x05);
    WRITMEM(0x900F, 0x08);
    soundon = 0;  // sound off: nothing is sent
    WRITMEM(0x900C, 0x01);
    soundon = 1;
    // A reset that switches to PAL clears the VIC registers (five messages)
    // and then names the new standard.
    config = 1;
    vid_new = 1;
    capture_stdout(reset_tarvikon);

    EXPECT_EQ(capture_stdout(stop_sound_process), "Closing pipe...OK\nWaiting for soundprocess...OK\n");
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(pipefd[1], -1);
    EXPECT_TRUE(process_gone(child));
    const std::string expected = std::string("\x02\x87\x00\x8F\x01\x80\x03\xF0\x04\xFE", 10) +
                                 std::string("\x01\x00\x02\x00\x03\x00\x04\x00\x00\x00", 10) + "\x05G" + "S";
    EXPECT_EQ(read_file(record_path), expected);
}

TEST_F(SoundProcess, ShutDownStopsTheSoundProcessQuietly) {
    verbose = 0;
    start(record_messages);
    const pid_t child = pid;
    const std::string out = capture_stdout(shut_down_tarvikon);
    EXPECT_EQ(out, "Exiting...\n");
    EXPECT_TRUE(process_gone(child));
    EXPECT_EQ(read_file(record_path), "S");
    new_machine(0);  // shut-down freed the address space
}

TEST_F(SoundProcess, NoSoundMeansNoPipesAndNoProcess) {
    soundon = 0;
    const int before = open_descriptors();
    EXPECT_EQ(start(record_messages), "");
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(pipefd[0], -1);
    EXPECT_EQ(pipefd[1], -1);
    WRITMEM(0x900C, 0xF0);  // nothing to send it to, and nothing breaks
    EXPECT_EQ(memory[0x900C], 0xF0);
}

TEST_F(SoundProcess, DeviceThatCannotBeOpenedLeavesTheEmulatorSilent) {
    verbose = 0;
    sound_device = "/nonexistent/dsp";
    const int before = open_descriptors();
    EXPECT_EQ(start(start_sound), "Error opening /dev/dsp, you won't get sound !\n");
    EXPECT_EQ(soundon, 0);
    EXPECT_EQ(pid, 0);  // reaped
    EXPECT_EQ(pipefd[1], -1);
    EXPECT_EQ(open_descriptors(), before);
    WRITMEM(0x900E, 0x0F);
    EXPECT_EQ(memory[0x900E], 0x0F);
}

TEST_F(SoundProcess, DeviceThatRefusesTheFormatCallFails) {
    sound_device = "/dev/null";  // opens, but knows no sound requests
    EXPECT_EQ(start(start_sound),
              "Opening pipe...OK\nStarting soundprocess...\nInitialising sound device...unsigned 8 bit...failed\n");
    EXPECT_EQ(soundon, 0);
    EXPECT_EQ(pid, 0);
}

TEST_F(SoundProcess, StatusZeroMeansNoSound) {
    EXPECT_EQ(start(report_failure), "Opening pipe...OK\nStarting soundprocess...\n");
    EXPECT_EQ(soundon, 0);
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(pipefd[1], -1);
}

TEST_F(SoundProcess, StatusPipeClosingWithoutAByteMeansNoSound) {
    EXPECT_EQ(start(die_before_reporting), "Opening pipe...OK\nStarting soundprocess...\n");
    EXPECT_EQ(soundon, 0);
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(pipefd[1], -1);
    WRITMEM(0x900C, 0xF0);
}

TEST_F(SoundProcess, DeadReaderStopsTheMessagesWithoutSigpipe) {
    start(take_two_then_die);
    ASSERT_EQ(soundon, 1);
    const pid_t child = pid;
    // The first messages fill the pipe's buffer; once the child is gone a
    // write fails with EPIPE (the emulator must survive it) and ends the sound.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (soundon && std::chrono::steady_clock::now() < deadline) {
        WRITMEM(0x900C, 0xF0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(soundon, 0);
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(pipefd[1], -1);
    EXPECT_TRUE(process_gone(child));
    // Shut-down then leaves the sound alone.
    EXPECT_EQ(capture_stdout(shut_down_tarvikon), "Deallocating VIC 20 RAM...OK\nExiting...\n");
    new_machine(0);
}

TEST_F(SoundProcess, ShutDownAfterTheChildDiedDoesNotHang) {
    start(report_then_die);
    ASSERT_EQ(soundon, 1);
    const pid_t child = pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the child is a zombie now
    EXPECT_EQ(capture_stdout(stop_sound_process), "Closing pipe...OK\nWaiting for soundprocess...OK\n");
    EXPECT_EQ(pid, 0);
    EXPECT_TRUE(process_gone(child));
}

TEST_F(SoundProcess, ShutDownEndsAChildThatIgnoresItsSignal) {
    start(ignore_everything);
    ASSERT_EQ(soundon, 1);
    const pid_t child = pid;
    EXPECT_EQ(capture_stdout(stop_sound_process), "Closing pipe...OK\nWaiting for soundprocess...OK\n");
    EXPECT_TRUE(process_gone(child));
}

TEST_F(SoundProcess, FullPipeLosesMessagesButNeverBlocks) {
    start(wait_for_signal);
    ASSERT_EQ(soundon, 1);
    for (int i = 0; i < 100000; i++) send_sound(SND_SOPRANO, uint8_t(i));  // far more than a pipe holds
    EXPECT_EQ(soundon, 1);
    int queued = 0;
    ioctl(pipefd[1], FIONREAD, &queued);
    EXPECT_GT(queued, 0);
    EXPECT_EQ(queued % 2, 0);  // only whole messages
    EXPECT_LT(queued, 200000);
    capture_stdout(stop_sound_process);
}

rlimit saved_limit;

// Start-up with every descriptor number taken, so that no pipe can be made.
// The limit comes back before the exit tears the test program down (the
// sanitizer runtime needs a pipe or two of its own then).
void start_without_descriptors() {
    dup2(2, 1);  // the message, where the death test can see it
    const int lowest_free = dup(0);
    close(lowest_free);
    getrlimit(RLIMIT_NOFILE, &saved_limit);
    atexit([] { setrlimit(RLIMIT_NOFILE, &saved_limit); });
    rlimit limit = saved_limit;
    limit.rlim_cur = rlim_t(lowest_free);
    setrlimit(RLIMIT_NOFILE, &limit);
    start_sound_process();
}

TEST_F(SoundProcess, PipeFailureEndsStartUp) {
    EXPECT_EXIT(start_without_descriptors(), testing::ExitedWithCode(255), "^Opening pipe\\.\\.\\.failed\n$");
}

}  // namespace
