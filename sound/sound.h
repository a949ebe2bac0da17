// The sound process and the register pipe that feeds it.
//
// The emulator forks a child at start-up that runs start_sound(); the VIC's
// sound register writes reach it as two-byte messages (code, value).
#pragma once

#include <cstdint>
#include <sys/types.h>

extern int pipefd[2];   // register pipe: emulator writes [1], sound process reads [0]
extern int pipefd2[2];  // status pipe: one byte from the sound process
extern pid_t pid;       // the sound process
extern uint8_t soundbuf[2];

// Base frequencies of soprano, alto, bass and noise for the video standard.
extern int sop, mit, bas, noi;

// Message codes.
enum SoundCode : uint8_t { SND_VOLUME = 0, SND_BASS = 1, SND_ALTO = 2, SND_SOPRANO = 3, SND_NOISE = 4, SND_STANDARD = 5 };

// Emulator side.
void start_sound_process();                 // start-up: pipes, fork, status byte
void send_sound(uint8_t code, uint8_t value);  // one message, never blocks
void stop_sound_process();                  // shut-down: close, SIGUSR1, wait

// Sound process side.
[[noreturn]] void start_sound();
void sound_sighand(int sig);
