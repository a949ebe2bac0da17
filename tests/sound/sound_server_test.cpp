// The sound process against a real sound server: a private PulseAudio
// daemon with a null sink, the OSS device reached through PulseAudio's OSS
// emulation library, and the sink's monitor recorded with parec. The driver
// program stands in for the emulator and sends the register messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <glob.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double RATE = 44100.0;

std::string find_pulsedsp() {
    glob_t found;
    std::string path;
    if (glob("/usr/lib*/{,*/}pulseaudio/libpulsedsp.so", GLOB_BRACE, nullptr, &found) == 0 && found.gl_pathc > 0)
        path = found.gl_pathv[0];
    globfree(&found);
    return path;
}

// Runs argv with extra environment entries; its standard output goes to
// out_fd, its standard error to err_fd (kept for diagnostics by default).
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int out_fd, int err_fd = 2) {
    const pid_t child = fork();
    if (child != 0) return child;
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int quiet_system(const std::string& command) { return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()); }

// The sanitizer runtime must not insist on being loaded before the
// preloaded library.
std::string asan_options() {
    const char* given = getenv("ASAN_OPTIONS");
    return std::string(given ? given : "") + ":verify_asan_link_order=0";
}

// utime + stime of a process, in clock ticks.
long cpu_ticks(pid_t p) {
    const std::string stat = read_file("/proc/" + std::to_string(p) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    char state;
    long utime, stime;
    if (sscanf(stat.c_str() + close + 2, "%c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &state, &utime,
               &stime) != 3)
        return -1;
    return utime + stime;
}

// Time on the CPU in nanoseconds, finer than the clock ticks of stat.
double cpu_ns(pid_t p) {
    const std::string stat = read_file("/proc/" + std::to_string(p) + "/schedstat");
    return stat.empty() ? -1 : std::stod(stat);
}

// True once the process has ended (gone, or a zombie nobody reaped yet).
bool process_ended(pid_t p) {
    const std::string stat = read_file("/proc/" + std::to_string(p) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

class SoundServer : public testing::Test {
protected:
    TempDir runtime;
    std::string pulsedsp;
    bool server_up = false;
    pid_t parec = -1;
    std::string driver_output;
    int driver_status = -1;
    pid_t sound_pid = 0;

    void SetUp() override {
        pulsedsp = find_pulsedsp();
        if (pulsedsp.empty()) SKIP_OR_FAIL("no libpulsedsp.so (package pulseaudio-utils)");
        // Everything of the server (socket, cookie) stays in the temporary directory.
        setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
        setenv("HOME", runtime.path.c_str(), 1);
        if (quiet_system("pulseaudio -n -F /dev/null --load='module-null-sink sink_name=nul' "
                         "--load=module-native-protocol-unix --exit-idle-time=20 --daemonize=yes") != 0)
            SKIP_OR_FAIL("PulseAudio could not start (packages pulseaudio, pulseaudio-utils)");
        server_up = true;
        const auto deadline = Clock::now() + 5s;
        while (access(runtime.file("pulse/native").c_str(), F_OK) != 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        if (quiet_system("pactl info") != 0) SKIP_OR_FAIL("PulseAudio does not answer");
    }

    void TearDown() override {
        stop_recording();
        if (server_up) quiet_system("pulseaudio --kill");
    }

    void start_recording() {
        const int out = open(runtime.file("capture.raw").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        parec = spawn({"parec", "-d", "nul.monitor", "--format=u8", "--channels=1", "--rate=44100"}, {}, out);
        close(out);
        std::this_thread::sleep_for(300ms);
    }

    std::vector<uint8_t> stop_recording() {
        if (parec > 0) {
            kill(parec, SIGTERM);
            waitpid(parec, nullptr, 0);
            parec = -1;
        }
        const std::string raw = read_file(runtime.file("capture.raw"));
        return std::vector<uint8_t>(raw.begin(), raw.end());
    }

    // Runs the driver with the OSS library preloaded. on_started runs once
    // the sound process is up, with its id, while the driver goes on.
    void run_driver(const std::vector<std::string>& args, const std::function<void(pid_t)>& on_started = {}) {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        std::vector<std::string> argv{SOUND_DRIVER};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t driver = spawn(argv, {"LD_PRELOAD=" + pulsedsp, "ASAN_OPTIONS=" + asan_options()}, out[1]);
        close(out[1]);
        const auto deadline = Clock::now() + 20s;
        bool started = false;
        char buf[512];
        for (;;) {
            pollfd p{out[0], POLLIN, 0};
            if (Clock::now() > deadline) {
                kill(driver, SIGKILL);
                ADD_FAILURE() << "the driver did not finish";
                break;
            }
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            driver_output.append(buf, size_t(n));
            const size_t at = driver_output.find("pid ");
            if (!started && at != std::string::npos && driver_output.find('\n', at) != std::string::npos) {
                started = true;
                sound_pid = pid_t(std::stoi(driver_output.substr(at + 4)));
                if (on_started && sound_pid > 0) on_started(sound_pid);
            }
        }
        close(out[0]);
        waitpid(driver, &driver_status, 0);
    }
};

// Positions where the recorded wave rises to its high level.
std::vector<size_t> rising_edges(const std::vector<uint8_t>& d, uint8_t high) {
    std::vector<size_t> rises;
    for (size_t i = 1; i < d.size(); i++)
        if (d[i] == high && d[i - 1] != high) rises.push_back(i);
    return rises;
}

size_t median(std::vector<size_t> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

TEST_F(SoundServer, SopranoToneFollowsTheStandardAndVolumeZeroIsSilent) {
    start_recording();
    double cpu_share = -1, cpu_fine = -1;
    // POKE 36878,15:POKE 36876,240 in NTSC, then the PAL standard, then volume 0.
    run_driver({"-verbose", "0:15", "3:240", "sleep:2500", "5:71", "sleep:1200", "0:0", "sleep:800", "stop"},
               [&](pid_t sound) {
                   std::this_thread::sleep_for(300ms);
                   const long before = cpu_ticks(sound);
                   const double before_ns = cpu_ns(sound);
                   const auto t0 = Clock::now();
                   std::this_thread::sleep_for(2000ms);
                   const long after = cpu_ticks(sound);
                   const double after_ns = cpu_ns(sound);
                   const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
                   if (before >= 0 && after >= 0) cpu_share = double(after - before) / double(sysconf(_SC_CLK_TCK)) / seconds;
                   if (before_ns >= 0 && after_ns >= 0) cpu_fine = (after_ns - before_ns) / 1e9 / seconds;
               });
    std::this_thread::sleep_for(300ms);
    const std::vector<uint8_t> d = stop_recording();

    ASSERT_TRUE(WIFEXITED(driver_status) && WEXITSTATUS(driver_status) == 0) << driver_output;
    EXPECT_EQ(driver_output, "Opening pipe...OK\nStarting soundprocess...\n"
                             "Initialising sound device...unsigned 8 bit...mono...44100 Hz...256 bytes buffer...OK\n"
                             "Soundprocess sucessfully started\n"
                             "soundon 1 pid " + std::to_string(sound_pid) + "\n"
                             "Closing pipe...OK\nWaiting for soundprocess...closing sound device...OK\n"
                             "\nsoundon 1\n");
    EXPECT_TRUE(process_ended(sound_pid));

    // One voice at volume 15 moves the output 29 steps either side of 128.
    for (size_t i = 0; i < d.size(); i++) ASSERT_TRUE(d[i] == 99 || d[i] == 128 || d[i] == 157) << i << ": " << int(d[i]);

    const std::vector<size_t> rises = rising_edges(d, 157);
    ASSERT_GT(rises.size(), 100u) << "no tone recorded (" << d.size() << " samples)";
    std::vector<size_t> periods;
    for (size_t i = 1; i < rises.size(); i++) periods.push_back(rises[i] - rises[i - 1]);
    // Divisor 15: 15980 / 15 = 1065 Hz, 41 samples; PAL 17320 / 15 = 1154 Hz, 38 samples.
    const size_t split = size_t(std::find(periods.begin(), periods.end(), 38u) - periods.begin());
    ASSERT_LT(split, periods.size()) << "the standard message changed nothing";
    const std::vector<size_t> ntsc(periods.begin(), periods.begin() + long(split));
    const std::vector<size_t> pal(periods.begin() + long(split), periods.end());
    EXPECT_EQ(median(ntsc), 41u);
    EXPECT_EQ(median(pal), 38u);

    // A loaded machine may let the server run dry for a moment; the
    // frequency is measured over the periods that the wave ran through.
    struct Tone {
        size_t periods = 0, samples = 0, cut = 0;
        double hz() const { return samples ? RATE * double(periods) / double(samples) : 0.0; }
    };
    auto measure = [&](size_t from, size_t to) {
        Tone t;
        for (size_t i = from; i < to; i++) {
            const auto start = d.begin() + long(rises[i]), end = d.begin() + long(rises[i + 1]);
            if (std::find(start, end, 128) != end) {
                t.cut++;
            } else {
                t.periods++;
                t.samples += rises[i + 1] - rises[i];
            }
        }
        return t;
    };
    const Tone first = measure(0, split), second = measure(split, periods.size());
    EXPECT_NEAR(first.hz(), RATE / 41, RATE / 41 * 0.03);
    EXPECT_NEAR(second.hz(), RATE / 38, RATE / 38 * 0.03);
    // Enough of each tone to measure; the server's start takes about a
    // second of the first.
    EXPECT_GT(first.periods, 200u);
    EXPECT_GT(second.periods, 200u);

    // Volume 0 goes quiet at once and stays quiet.
    const size_t tone_end = rises.back() + 38;
    ASSERT_LT(tone_end, d.size());
    size_t silent = 0;
    for (size_t i = tone_end; i < d.size(); i++) silent += d[i] == 128;
    EXPECT_EQ(silent, d.size() - tone_end);
    EXPECT_GT(double(silent) / RATE, 0.5);

    // Pacing on the device: far from a spinning core.
    ASSERT_GE(cpu_share, 0.0);
    EXPECT_LT(cpu_share, 0.25);
    printf("measured: NTSC %.1f Hz (rule %.1f), PAL %.1f Hz (rule %.1f), %zu of %zu periods cut by dropouts, "
           "sound process CPU %.1f %% (ticks), %.2f %% (scheduler)\n",
           first.hz(), RATE / 41, second.hz(), RATE / 38, first.cut + second.cut, periods.size(), cpu_share * 100,
           cpu_fine * 100);
}

TEST_F(SoundServer, TvSoundHissesWhenSilentAndPlaysTriangles) {
    start_recording();
    run_driver({"-tvsound", "0:0", "sleep:2000", "0:15", "3:240", "sleep:800", "stop"});
    std::this_thread::sleep_for(200ms);
    const std::vector<uint8_t> d = stop_recording();
    ASSERT_TRUE(WIFEXITED(driver_status) && WEXITSTATUS(driver_status) == 0) << driver_output;

    const auto loud = std::find_if(d.begin(), d.end(), [](uint8_t v) { return std::abs(v - 128) > 9; });
    ASSERT_NE(loud, d.end()) << "no tone recorded";
    const std::vector<uint8_t> quiet(d.begin(), loud);
    const size_t moving = size_t(std::count_if(quiet.begin(), quiet.end(), [](uint8_t v) { return v != 128; }));
    EXPECT_GT(moving, 4000u) << "no hiss or hum while the VIC is silent";
    for (uint8_t v : quiet) ASSERT_LE(std::abs(v - 128), 8);

    // A triangle passes through many levels where a square has two.
    const std::vector<uint8_t> tone(loud, loud + std::min<long>(22050, d.end() - loud));
    std::vector<bool> seen(256);
    for (uint8_t v : tone) seen[v] = true;
    EXPECT_GT(std::count(seen.begin(), seen.end(), true), 30);
    // Soprano $F0: period 41, from 29 steps below the middle to 32 above it
    // (an odd period overshoots the peak), and hiss and hum on top.
    const auto [lo, hi] = std::minmax_element(tone.begin(), tone.end());
    EXPECT_GE(*lo, 128 - 29 - 8);
    EXPECT_LE(*hi, 128 + 32 + 8);
    EXPECT_GT(*hi, 128 + 29);
}

TEST_F(SoundServer, SoundProcessEndsWhenTheEmulatorVanishes) {
    // The driver leaves without shut-down, as a crashed emulator would.
    run_driver({"0:15", "3:240", "sleep:300", "exit"});
    ASSERT_GT(sound_pid, 0);
    const auto gone_by = Clock::now() + 4s;
    while (!process_ended(sound_pid) && Clock::now() < gone_by) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(process_ended(sound_pid));
    if (!process_ended(sound_pid)) kill(sound_pid, SIGKILL);
}

TEST_F(SoundServer, EmulatorOutlivesACrashedSoundProcess) {
    run_driver({"0:15", "3:240", "sleep:300", "kill", "sleep:100", "3:200", "3:100", "0:0", "stop"});
    ASSERT_TRUE(WIFEXITED(driver_status) && WEXITSTATUS(driver_status) == 0) << driver_output;
    EXPECT_EQ(driver_output, "soundon 1 pid " + std::to_string(sound_pid) + "\n\nsoundon 0\n");
}

// A recording holds what the process plays: stopped by the emulator, or cut
// short by a crash of the sound process and fixed up at shut-down.
TEST_F(SoundServer, RecordingWritesTheToneIntoAWholeWavFile) {
    const std::string stopped = runtime.file("stopped.wav"), crashed = runtime.file("crashed.wav");
    // The server takes a new stream's first second or so without playing it.
    run_driver({"0:15", "3:240", "sleep:2000", "record:" + stopped, "sleep:1000", "endrecord", "sleep:300", "record:" + crashed,
                "sleep:700", "kill", "sleep:100", "stop"});
    ASSERT_TRUE(WIFEXITED(driver_status) && WEXITSTATUS(driver_status) == 0) << driver_output;
    for (const std::string& path : {stopped, crashed}) {
        SCOPED_TRACE(path);
        const std::string wav = read_file(path);
        ASSERT_GT(wav.size(), 44u);
        auto u32 = [&](size_t at) {
            uint32_t v = 0;
            for (int i = 3; i >= 0; i--) v = v << 8 | uint8_t(wav[at + size_t(i)]);
            return v;
        };
        EXPECT_EQ(wav.substr(0, 4) + wav.substr(8, 8) + wav.substr(36, 4), "RIFFWAVEfmt data");
        EXPECT_EQ(u32(4), wav.size() - 8);
        EXPECT_EQ(u32(40), wav.size() - 44);
        EXPECT_EQ(u32(20), 0x00010001u);  // PCM, mono
        EXPECT_EQ(u32(24), 44100u);
        EXPECT_EQ(u32(32) >> 16, 8u);  // bits a sample
        // Paced by the device: no more than the time it ran and the device's
        // queue; a busy machine may let the server fall behind, never ahead.
        const double seconds = double(wav.size() - 44) / RATE, ran = path == stopped ? 1.0 : 0.7;
        EXPECT_GT(seconds, ran / 2);
        EXPECT_LT(seconds, ran + 0.3);
        const std::vector<uint8_t> d(wav.begin() + 44, wav.end());
        const std::vector<size_t> rises = rising_edges(d, 157);
        ASSERT_GT(rises.size(), 10u);
        std::vector<size_t> periods;
        for (size_t i = 1; i < rises.size(); i++) periods.push_back(rises[i] - rises[i - 1]);
        EXPECT_EQ(median(periods), 41u);  // 15980 / 15 Hz, as played
    }
}

// Runs the whole program on a private 8-bit display with a cartridge that
// starts by itself at reset, records the server for `seconds`, then presses
// the quit key. Skips the test (and returns nothing) when a tool is missing.
struct EmulatorRun {
    std::vector<uint8_t> recording;
    std::string said;
    int status = -1;
};

class EmulatorSound : public SoundServer {
protected:
    std::optional<EmulatorRun> run_emulator(const std::string& cartridge, double seconds) {
        if (!roms_available()) {
            skip_or_fail("VIC 20 ROM images not found in " + shared_path("roms"));
            return std::nullopt;
        }
        const std::string program = std::string(TARVIKON_BINARY_DIR) + "/tarvikon";
        if (access(program.c_str(), X_OK) != 0) {
            ADD_FAILURE() << "no " << program << " built";
            return std::nullopt;
        }
        if (quiet_system("command -v Xvfb && command -v xdotool") != 0) {
            skip_or_fail("Xvfb or xdotool missing (packages xvfb, xdotool)");
            return std::nullopt;
        }

        // An 8-bit display on the first free number.
        int display_pipe[2];
        EXPECT_EQ(pipe(display_pipe), 0);
        const int null = open("/dev/null", O_WRONLY);
        const pid_t xvfb = spawn({"Xvfb", "-displayfd", std::to_string(display_pipe[1]), "-screen", "0",
                                  "1024x768x8", "-nolisten", "tcp", "-noreset"},
                                 {}, null, null);
        close(display_pipe[1]);
        char number[16] = {};
        pollfd p{display_pipe[0], POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0 || read(display_pipe[0], number, sizeof number - 1) <= 0) {
            close(display_pipe[0]);
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
            close(null);
            skip_or_fail("Xvfb did not start");
            return std::nullopt;
        }
        close(display_pipe[0]);
        setenv("DISPLAY", (":" + std::to_string(atoi(number))).c_str(), 1);

        write_file(runtime.file("sound.a0"), cartridge);
        unlink(runtime.file("roms").c_str());
        EXPECT_EQ(symlink(shared_path("roms").c_str(), runtime.file("roms").c_str()), 0);

        start_recording();
        const int out = open(runtime.file("emulator.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t emulator = fork();
        if (emulator == 0) {
            if (chdir(runtime.path.c_str()) != 0) _exit(126);
            dup2(out, 1);
            dup2(open((runtime.path + "/emulator.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            setenv("LD_PRELOAD", pulsedsp.c_str(), 1);
            // The X toolkit keeps allocations to the end, which the leak check would count.
            setenv("ASAN_OPTIONS", (asan_options() + ":detect_leaks=0").c_str(), 1);
            execl(program.c_str(), "tarvikon", "-verbose", "-nocfg", "sound.a0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        // The window may still be on its way on a busy machine: wait for it.
        quiet_system("timeout 20 xdotool search --sync --onlyvisible --name 'Tarvikon for Linux' "
                     "mousemove --window %1 200 140 sleep 0.2 keydown Escape sleep 0.1 keyup Escape");
        EmulatorRun run;
        const auto deadline = Clock::now() + 5s;
        while (waitpid(emulator, &run.status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(emulator, SIGKILL);
                waitpid(emulator, &run.status, 0);
                ADD_FAILURE() << "the emulator did not end on the quit key";
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(200ms);
        run.recording = stop_recording();
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
        close(null);
        run.said = read_file(runtime.file("emulator.out"));
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0)
            << run.said << read_file(runtime.file("emulator.err"));
        return run;
    }

    // An 8 KB image at $A000 that starts by itself: the vectors, "A0CBM", code.
    static std::string cartridge(const std::string& code) {
        std::string image(8192, '\0');
        const std::string head = std::string("\x09\xA0\x09\xA0" "A0\xC3\xC2\xCD") + code;
        image.replace(0, head.size(), head);
        return image;
    }
};

// The whole program: a cartridge sets the volume to 15 and the soprano to
// $F0 and loops; the sound reaches the server, and the quit key ends the
// sound process with the emulator.
TEST_F(EmulatorSound, EmulatorPlaysTheToneOfACartridge) {
    // LDA #$0F, STA $900E, LDA #$F0, STA $900C, JMP to itself.
    auto run = run_emulator(cartridge("\xA9\x0F\x8D\x0E\x90\xA9\xF0\x8D\x0C\x90\x4C\x13\xA0"), 4);
    if (!run) return;
    const std::vector<uint8_t>& d = run->recording;
    const size_t start = run->said.find("Opening pipe...OK\nStarting soundprocess...\n"
                                        "Initialising sound device...unsigned 8 bit...mono...44100 Hz...256 bytes buffer...OK\n"
                                        "Soundprocess sucessfully started\n");
    const size_t end = run->said.find("Closing pipe...OK\nWaiting for soundprocess...closing sound device...OK\n");
    EXPECT_NE(start, std::string::npos) << run->said;
    EXPECT_NE(end, std::string::npos) << run->said;
    EXPECT_LT(start, end);

    const std::vector<size_t> rises = rising_edges(d, 157);
    ASSERT_GT(rises.size(), 500u) << "no tone recorded";
    size_t periods = 0, samples = 0;
    for (size_t i = 1; i < rises.size(); i++) {
        const auto from = d.begin() + long(rises[i - 1]), to = d.begin() + long(rises[i]);
        if (std::find(from, to, 128) != to) continue;  // the server ran dry here
        periods++;
        samples += rises[i] - rises[i - 1];
    }
    EXPECT_NEAR(RATE * double(periods) / double(samples), RATE / 41, RATE / 41 * 0.03);
    for (uint8_t v : d) ASSERT_TRUE(v == 99 || v == 128 || v == 157) << int(v);
}

// At real speed a tone that a program holds for 60 jiffies sounds for one
// second: the kernal is started as the reset would (so the jiffy clock
// runs); after two seconds, by which the server plays the stream, the tone
// goes on at a jiffy edge and off 60 jiffies later.
TEST_F(EmulatorSound, ToneHeldSixtyJiffiesSoundsOneSecond) {
    const std::string code =
        "\x20\x8D\xFD"          // JSR $FD8D  memory test
        "\x20\x52\xFD"          // JSR $FD52  vectors
        "\x20\xF9\xFD"          // JSR $FDF9  VIAs and the jiffy timer
        "\x20\x18\xE5"          // JSR $E518  screen
        "\x58"                  // CLI
        "\xA9\x0F\x8D\x0E\x90"  // volume 15
        "\xA5\xA2\x18\x69\x78\xC5\xA2\xD0\xFC"  // wait 120 jiffies
        "\xA9\xF0\x8D\x0C\x90"  // soprano on
        "\xA5\xA2\x18\x69\x3C\xC5\xA2\xD0\xFC"  // wait until 60 jiffies on
        "\xA9\x00\x8D\x0C\x90"  // soprano off
        "\x4C\x37\xA0";         // and stay
    auto run = run_emulator(cartridge(code), 5);
    if (!run) return;
    // The square wave is never at the middle level while the voice sounds;
    // from its first sample to its last is how long it was heard (a moment
    // where the server ran dry is silence in the recording, in real time).
    const std::vector<uint8_t>& d = run->recording;
    const auto first = std::find_if(d.begin(), d.end(), [](uint8_t v) { return v != 128; });
    ASSERT_NE(first, d.end()) << "no tone recorded";
    const auto last = std::find_if(d.rbegin(), d.rend(), [](uint8_t v) { return v != 128; }).base();
    const double seconds = double(last - first) / RATE;
    const size_t gaps = size_t(std::count(first, last, 128));
    EXPECT_NEAR(seconds, 1.0, 0.05) << d.size() << " samples recorded, " << gaps << " silent within the tone";
    printf("tone of 60 jiffies: %.3f s (%zu samples of silence within)\n", seconds, gaps);
}

}  // namespace
