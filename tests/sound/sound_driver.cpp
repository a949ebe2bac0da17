// Stands in for the emulator around the sound process: starts it, sends the
// register messages named on the command line and stops it.
//
//   sound_driver [-verbose] [-tvsound] [-pal] STEP...
//
// Steps: CODE:VALUE sends a message; sleep:MS waits; stop runs the
// shut-down of the sound process; kill ends the sound process with SIGKILL
// (as if it had crashed); exit leaves without stopping it; record:PATH starts
// a WAV recording and endrecord stops it. After the start
// the driver prints "soundon N pid P".
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "core/tarvikon.h"
#include "sound/sound.h"

int main(int argc, char** argv) {
    int first = 1;
    set_video_constants(0);
    for (; first < argc && argv[first][0] == '-'; first++) {
        if (!strcmp(argv[first], "-verbose")) verbose = 1;
        if (!strcmp(argv[first], "-tvsound")) tvsound = 1;
        if (!strcmp(argv[first], "-pal")) set_video_constants(1);
    }
    soundon = 1;
    start_sound_process();
    const pid_t child = pid;
    printf("soundon %d pid %d\n", soundon, int(child));
    for (int i = first; i < argc; i++) {
        const std::string step = argv[i];
        if (step.rfind("sleep:", 0) == 0) {
            usleep(useconds_t(std::stoi(step.substr(6)) * 1000));
        } else if (step == "stop") {
            if (soundon) stop_sound_process();
        } else if (step == "kill") {
            kill(child, SIGKILL);
        } else if (step.rfind("record:", 0) == 0) {
            if (!start_sound_recording(step.substr(7).c_str())) return 3;
        } else if (step == "endrecord") {
            stop_sound_recording();
        } else if (step == "exit") {
            _exit(0);
        } else {
            const size_t colon = step.find(':');
            if (colon == std::string::npos) return 2;
            send_sound(uint8_t(std::stoi(step.substr(0, colon), nullptr, 0)),
                       uint8_t(std::stoi(step.substr(colon + 1), nullptr, 0)));
        }
    }
    printf("\nsoundon %d\n", soundon);
    return 0;
}
