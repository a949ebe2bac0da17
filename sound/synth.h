// Synthesis of the VIC's voices into blocks of 8-bit samples.
//
// Everything the sound process knows lives in one SoundState: the register
// copies, the volume, the base frequencies of the video standard, the phase
// counters and the two shift registers. apply_sound_message() changes it the
// way a register message does, and make_block() turns it into the next 256
// samples (and advances phases and shift registers). Neither touches anything
// outside the state, so tests can follow the output sample by sample.
#pragma once

#include <cstdint>

constexpr int SAMPLE_RATE = 44100;
constexpr int BLOCK_SAMPLES = 256;

// The voices, in the order of their register messages (codes 1 to 4), then
// the two sources that only TV sound mixes in.
enum SoundVoice { VOICE_BASS = 0, VOICE_ALTO, VOICE_SOPRANO, VOICE_NOISE, VOICE_HISS, VOICE_HUM, VOICE_COUNT };
constexpr int REGISTER_VOICES = 4;

// Base frequencies in Hz; a voice plays base / divisor.
struct SoundBases {
    int sop, mit, bas, noi;
};
constexpr SoundBases NTSC_BASES{15980, 7990, 3995, 31960};
constexpr SoundBases PAL_BASES{17320, 8659, 4329, 34640};

// The standard message carries the standard's cycles per raster line.
constexpr uint8_t STANDARD_NTSC = 65;  // 'A'
constexpr uint8_t STANDARD_PAL = 71;   // 'G'

// Levels of the sources before mixing.
constexpr int32_t TONE_LEVEL = 32767;
constexpr int32_t TV_NOISE_LEVEL = 7000;
constexpr int32_t HISS_LEVEL = 260;
constexpr int HUM_DIVISOR = 250;       // the hum is a bass note far below any register value
constexpr uint32_t SHIFT_TAP = 0x40001;  // fed back when the top bit is set
constexpr uint8_t SILENCE = 128;

struct SoundState {
    uint8_t reg[REGISTER_VOICES];  // register copies: bass, alto, soprano, noise
    uint8_t volume;                // 0 to 240 (the low four bits of $900E times 16)
    SoundBases base;
    int phase[VOICE_COUNT];
    uint32_t noise_shift;
    uint32_t hiss_shift;
    int32_t buf[VOICE_COUNT][BLOCK_SAMPLES];  // the last block of each source
    uint8_t out[BLOCK_SAMPLES];               // the last mixed block
};

// The state the sound process starts with: registers and volume 0, phases 0,
// shift registers 1, sources silent, output at the middle level.
void reset_sound_state(SoundState& s, SoundBases base);

// One register message: code 0 volume, 1 to 4 the voice registers, 5 the
// video standard (65 NTSC, 71 PAL). Anything else is ignored.
void apply_sound_message(SoundState& s, uint8_t code, uint8_t value);

// The next 256 samples into s.out (and each source into s.buf): square
// voices for the normal mode, triangles with hiss and hum when tv is true.
void make_block(SoundState& s, bool tv);

// One step of the 32-bit noise shift register.
uint32_t step_shift(uint32_t reg);
