#include "sound.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../core/tarvikon.h"
#include "oss.h"
#include "synth.h"
#include "wav.h"

#include <string>

int pipefd[2] = {-1, -1};
int pipefd2[2] = {-1, -1};
pid_t pid = 0;
uint8_t soundbuf[2];
int fd = -1;

const char* sound_device = "/dev/dsp";
void (*sound_process_body)() = start_sound;

namespace {

constexpr int FRAGMENTS = 0x00080008;  // 8 fragments of 2^8 bytes
constexpr int FRAGMENT_BYTES = 256;
constexpr int BLOCK_MS = (BLOCK_SAMPLES * 1000 + SAMPLE_RATE - 1) / SAMPLE_RATE;  // 6 ms, rounded up
constexpr int CHILD_EXIT_MS = 2000;    // how long shut-down waits before it stops waiting politely
constexpr int ORPHAN_WAIT_MS = 2000;   // how long a process whose pipe closed waits for SIGUSR1

void say(const char* text) {
    if (verbose) fputs(text, stdout);
}

// ---- emulator side -------------------------------------------------------------

[[noreturn]] void fail_start() {
    fputs("failed\n", stdout);
    exit(-1);
}

// Waits for the sound process to end. One that ignores its signal for
// CHILD_EXIT_MS is killed, so that shut-down cannot hang on it.
void reap_sound_process() {
    if (pid <= 0) return;
    for (int waited = 0;; waited++) {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r == -1 && errno != EINTR)) break;
        if (waited == CHILD_EXIT_MS) {
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) == -1 && errno == EINTR) {
            }
            break;
        }
        usleep(1000);
    }
    pid = 0;
}

// The sound process is gone or never came up: no more messages, no signal.
std::string recording_path;  // the file being recorded, on the emulator's side

void fix_recording() {
    if (!recording_path.empty()) wav_fix_sizes(recording_path.c_str());
    recording_path.clear();
}

void sound_off() {
    soundon = 0;
    if (pipefd[1] != -1) close(pipefd[1]);
    pipefd[1] = -1;
    reap_sound_process();
    fix_recording();
}

// ---- sound process side --------------------------------------------------------

[[noreturn]] void give_up(int status_fd, const char* text) {
    fputs(text, stdout);
    const uint8_t status = 0;
    if (write(status_fd, &status, 1) != 1) {
        // the emulator is gone; nobody is left to tell
    }
    _exit(-1);
}

// Sets one device parameter; an answer other than the value asked for means
// the device cannot play what the synthesis makes.
void set_device(unsigned long request, int value, bool must_match) {
    int answer = value;
    if (ioctl(fd, request, &answer) == -1) give_up(pipefd2[1], "failed\n");
    if (must_match && answer != value) give_up(pipefd2[1], "Unsupported soundcard\n");
}

void open_device() {
    fd = open(sound_device, O_WRONLY | O_NONBLOCK);
    if (fd == -1) give_up(pipefd2[1], "Error opening /dev/dsp, you won't get sound !\n");
    say("Initialising sound device...unsigned 8 bit...");
    set_device(SNDCTL_DSP_SETFMT, AFMT_U8, true);
    say("mono...");
    set_device(SNDCTL_DSP_STEREO, 0, true);
    if (verbose) printf("%d Hz...", SAMPLE_RATE);
    set_device(SNDCTL_DSP_SPEED, SAMPLE_RATE, true);
    if (verbose) printf("%d bytes buffer...", FRAGMENT_BYTES);
    set_device(SNDCTL_DSP_SETFRAGMENT, FRAGMENTS, false);
}

SoundState state;
bool pipe_open;          // false once the emulator has closed its end
uint8_t partial[2];      // a message split across reads
int partial_len;
std::string record_path;  // as received so far
int record_fd = -1;       // the WAV file being written, in the sound process

// The recording's messages; the others go to the synthesis.
void apply_message(uint8_t code, uint8_t value) {
    if (code == SND_RECORD_PATH && value) {
        record_path += char(value);
    } else if (code == SND_RECORD_PATH || code == SND_RECORD_STOP) {
        if (record_fd != -1) close(record_fd);
        record_fd = code == SND_RECORD_PATH ? wav_create(record_path.c_str()) : -1;
        record_path.clear();
    } else {
        apply_sound_message(state, code, value);
    }
}

// Applies every message that is waiting. Pipe writes of two bytes arrive
// whole, but a split message is kept for the next read all the same.
void drain_messages() {
    uint8_t bytes[4096];
    for (;;) {
        const ssize_t n = read(pipefd[0], bytes, sizeof bytes);
        if (n == 0) pipe_open = false;
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; i++) {
            partial[partial_len++] = bytes[i];
            if (partial_len == 2) {
                apply_message(partial[0], partial[1]);
                partial_len = 0;
            }
        }
    }
}

// Sleeps up to ms, waking early for a message or (when wanted) for room in
// the device. Messages are read as they come so that the pipe never fills
// up and drops the last value of a burst; a steady stream of them wakes the
// process at most once a millisecond.
void wait_for(int ms, bool device_room) {
    pollfd fds[2] = {{pipefd[0], POLLIN, 0}, {fd, POLLOUT, 0}};
    if (!pipe_open) fds[0].fd = -1;
    if (poll(fds, device_room ? 2 : 1, ms) <= 0 || !fds[0].revents) return;
    drain_messages();
    poll(nullptr, 0, 1);
}

// Free bytes in the device buffer, or -1 when the device cannot tell.
int device_room() {
    audio_buf_info info;
    if (ioctl(fd, SNDCTL_DSP_GETOSPACE, &info) == -1) return -1;
    return info.bytes;
}

// Writes one block. When the device takes only part of it, the rest waits
// for room instead of retrying at full speed; messages keep arriving
// meanwhile and count from the next block. A device that fails outright
// loses the block, and the loop keeps the pace of the samples.
void write_block(const uint8_t* out) {
    int done = 0, refused = 0;
    while (done < BLOCK_SAMPLES && !sound_stop) {
        const ssize_t n = write(fd, out + done, size_t(BLOCK_SAMPLES - done));
        if (n > 0) {
            done += int(n);
            refused = 0;
        } else if (n == -1 && errno == EINTR) {
            continue;
        } else if (n == -1 && errno != EAGAIN) {
            wait_for(BLOCK_MS, false);
            return;
        } else {
            // A device that claims room and still refuses twice gets a rest.
            wait_for(BLOCK_MS, refused++ < 2);
        }
    }
}

[[noreturn]] void sound_loop(bool tv) {
    int orphan_ms = 0;
    for (;;) {
        if (sound_stop) close_sound_device();
        if (pipe_open) drain_messages();
        if (!pipe_open) {
            // Shut-down closes the pipe just before it signals; if no signal
            // follows, the emulator has died and the sound goes with it.
            if (orphan_ms >= ORPHAN_WAIT_MS) {
                verbose = 0;
                close_sound_device();
            }
            wait_for(10, false);
            orphan_ms += 10;
            continue;
        }
        // Only as much as the device buffer holds is queued, which keeps a
        // register write within about 46 ms of its sound.
        const int room = device_room();
        if (room != -1 && room < BLOCK_SAMPLES) {
            wait_for((BLOCK_SAMPLES - room) * 1000 / SAMPLE_RATE + 1, false);
            continue;
        }
        make_block(state, tv);
        // A file that fails (a full disk) ends the recording, not the sound.
        if (record_fd != -1 && !wav_append(record_fd, state.out, BLOCK_SAMPLES)) {
            close(record_fd);
            record_fd = -1;
        }
        write_block(state.out);
    }
}

}  // namespace

// ---- emulator side -------------------------------------------------------------

void start_sound_process() {
    if (!soundon) return;
    setvbuf(stdout, nullptr, _IONBF, 0);
    say("Opening pipe...");
    if (pipe(pipefd) == -1) fail_start();
    if (pipe(pipefd2) == -1) fail_start();
    say("OK\n");
    say("Starting soundprocess...\n");
    fflush(stdout);
    pid = fork();
    if (pid == -1) fail_start();
    if (pid == 0) {
        sound_process_body();
        _exit(0);
    }
    close(pipefd[0]);
    close(pipefd2[1]);
    pipefd[0] = pipefd2[1] = -1;
    // A sound process that dies must not take the emulator with it.
    signal(SIGPIPE, SIG_IGN);

    uint8_t status = 0;
    ssize_t n;
    while ((n = read(pipefd2[0], &status, 1)) == -1 && errno == EINTR) {
    }
    if (n == -1) fail_start();
    close(pipefd2[0]);
    pipefd2[0] = -1;
    fcntl(pipefd[1], F_SETFL, fcntl(pipefd[1], F_GETFL) | O_NONBLOCK);
    // No byte at all means the process died before it could report.
    if (n == 0 || status != 1) {
        sound_off();
        return;
    }
    soundon = 1;
    say("Soundprocess sucessfully started\n");
}

void send_sound(uint8_t code, uint8_t value) {
    if (pipefd[1] == -1) return;
    soundbuf[0] = code;
    soundbuf[1] = value;
    // A full pipe loses the message; a pipe without reader ends the sound.
    if (write(pipefd[1], soundbuf, 2) == -1 && errno == EPIPE) sound_off();
}

void forward_sound(uint8_t code, uint8_t value) {
    if (soundon) send_sound(code, value);
}

void stop_sound_process() {
    say("Closing pipe...");
    if (pipefd[1] != -1) close(pipefd[1]);
    pipefd[1] = -1;
    say("OK\n");
    say("Waiting for soundprocess...");
    if (pid > 0) kill(pid, SIGUSR1);
    reap_sound_process();
    fix_recording();
    say("OK\n");
}

bool start_sound_recording(const char* path) {
    if (!soundon || pipefd[1] == -1 || !*path) return false;
    stop_sound_recording();
    // Created here as well, so that the file is there (and its header whole)
    // whatever the sound process manages; it starts the file afresh.
    const int fd = wav_create(path);
    if (fd == -1) return false;
    close(fd);
    for (const char* c = path; *c; c++) send_sound(SND_RECORD_PATH, uint8_t(*c));
    send_sound(SND_RECORD_PATH, 0);
    recording_path = path;
    return true;
}

void stop_sound_recording() {
    if (recording_path.empty()) return;
    send_sound(SND_RECORD_STOP, 0);
    fix_recording();
}

bool sound_recording() { return !recording_path.empty(); }

// ---- sound process ---------------------------------------------------------------

void start_sound() {
    // The standard in effect at the fork, as its message would set it.
    reset_sound_state(state, NTSC_BASES);
    apply_sound_message(state, SND_STANDARD, uint8_t(scanline));
    pipe_open = true;
    partial_len = 0;
    sound_stop = 0;
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (signal(SIGUSR1, sound_sighand) == SIG_ERR) give_up(pipefd2[1], "Signal error\n");
    close(pipefd[1]);
    close(pipefd2[0]);
    open_device();
    say("OK\n");
    const uint8_t status = 1;
    if (write(pipefd2[1], &status, 1) != 1) _exit(-1);
    close(pipefd2[1]);
    fcntl(pipefd[0], F_SETFL, fcntl(pipefd[0], F_GETFL) | O_NONBLOCK);
    sound_loop(tvsound != 0);
}
