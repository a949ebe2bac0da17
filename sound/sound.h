// The sound process and the register pipe that feeds it.
//
// The emulator forks a child at start-up that runs start_sound(); the VIC's
// sound register writes reach it as two-byte messages (code, value) and it
// writes 256-sample blocks to the OSS device. At shut-down the emulator
// closes the pipe, sends SIGUSR1 and waits for the child.
#pragma once

#include <csignal>
#include <cstdint>
#include <sys/types.h>

#include "../core/host.h"  // the message codes, forward_sound and stop_sound_process

extern int pipefd[2];   // register pipe: emulator writes [1] (non-blocking), sound process reads [0]
extern int pipefd2[2];  // status pipe: one byte from the sound process
extern pid_t pid;       // the sound process, 0 when there is none
extern uint8_t soundbuf[2];
extern int fd;          // the sound device, in the sound process


// ---- emulator side ----------------------------------------------------------

void start_sound_process();                    // start-up: pipes, fork, status byte
void send_sound(uint8_t code, uint8_t value);  // one message, never blocks

// Recording: the sound process also writes what it plays into a WAV file
// (wav.h) until told to stop. The path goes over the register pipe a byte a
// message; shut-down and a stop fix the file's header even when the sound
// process has died. False when there is no sound process to record.
constexpr uint8_t SND_RECORD_PATH = 6;  // one byte of the path; 0 ends it and starts
constexpr uint8_t SND_RECORD_STOP = 7;
bool start_sound_recording(const char* path);
void stop_sound_recording();
bool sound_recording();

// ---- sound process side -----------------------------------------------------

[[noreturn]] void start_sound();

// The device the sound process opens; tests point it elsewhere.
extern const char* sound_device;

// What the child runs after the fork: start_sound, or a stand-in in tests.
extern void (*sound_process_body)();

// SIGUSR1 only raises sound_stop; the process loop then closes the device
// and exits through close_sound_device(), outside the signal handler.
extern volatile sig_atomic_t sound_stop;
void sound_sighand(int sig);
[[noreturn]] void close_sound_device();
