#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include "../core/tarvikon.h"
#include "oss.h"
#include "sound.h"

volatile sig_atomic_t sound_stop = 0;

// The handler may interrupt the process inside a device call (with an OSS
// emulation library preloaded, one that holds its own locks), so it does no
// more than leave a note for the loop.
void sound_sighand(int) { sound_stop = 1; }

void close_sound_device() {
    if (verbose) fputs("closing sound device...", stdout);
    ioctl(fd, SNDCTL_DSP_RESET, 0);
    close(fd);
    close(pipefd[0]);
    _exit(0);
}
