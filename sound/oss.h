// The OSS device requests the sound process uses. The kernel headers carry
// them; where they are missing, the same numbers are spelled out here.
#pragma once

#if __has_include(<sys/soundcard.h>)
#include <sys/soundcard.h>
#else
struct audio_buf_info {
    int fragments;
    int fragstotal;
    int fragsize;
    int bytes;
};
#define AFMT_U8 0x00000008
#define SNDCTL_DSP_RESET 0x00005000
#define SNDCTL_DSP_SPEED 0xC0045002
#define SNDCTL_DSP_STEREO 0xC0045003
#define SNDCTL_DSP_SETFMT 0xC0045005
#define SNDCTL_DSP_SETFRAGMENT 0xC004500A
#define SNDCTL_DSP_GETOSPACE 0x8010500C
#endif
