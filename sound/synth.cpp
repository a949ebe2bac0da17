#include "synth.h"

#include <algorithm>
#include <cstring>

#include "sound.h"

namespace {

constexpr uint8_t VOICE_ON = 0x80;
constexpr uint8_t VOICE_ONE_SHOT = 0xFF;  // plays one block at the lowest pitch, then stops
constexpr int ONE_SHOT_DIVISOR = 128;

// The divisor a voice register asks for, 0 for a silent voice. $FF is a
// quirk: it sounds for one block with divisor 128 and then turns the voice
// off until the program writes the register again.
int take_divisor(uint8_t& reg) {
    if (reg < VOICE_ON) return 0;
    if (reg == VOICE_ONE_SHOT) {
        reg = VOICE_ON - 1;
        return ONE_SHOT_DIVISOR;
    }
    return 255 - reg;
}

// The bases come only from the two standard tables, where no period can be
// 0; the floors only keep a stray value from dividing by zero.
int at_least_one(int v) { return v < 1 ? 1 : v; }

int period_of(int base, int divisor) { return at_least_one(SAMPLE_RATE / at_least_one(base / divisor)); }

void fill_square(int32_t* buf, int& phase, int period) {
    const int half = period / 2;
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
        phase = (phase + 1) % period;
        buf[i] = phase < half ? TONE_LEVEL : -TONE_LEVEL;
    }
}

// Runs from about -32767 at phase 0 up to about +32767 at half the period.
void fill_triangle(int32_t* buf, int& phase, int period) {
    const int half = period / 2;
    const int slope = -(65534 / period);
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
        phase = (phase + 1) % period;
        const int t = phase < half ? 2 * phase : 2 * (period - phase);
        buf[i] = (half - t) * slope;
    }
}

// The register steps each time the phase wraps; bit 0 gives the level.
void fill_shifted(int32_t* buf, int& phase, uint32_t& shift, int period, int32_t level) {
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
        phase = (phase + 1) % period;
        if (phase == 0) shift = step_shift(shift);
        buf[i] = (shift & 1) ? level : -level;
    }
}

int voice_base(const SoundState& s, int voice) {
    switch (voice) {
    case VOICE_BASS: return s.base.bas;
    case VOICE_ALTO: return s.base.mit;
    case VOICE_SOPRANO: return s.base.sop;
    default: return s.base.noi;
    }
}

void make_voices(SoundState& s, bool tv) {
    for (int v = 0; v < REGISTER_VOICES; v++) {
        int32_t* buf = s.buf[v];
        const int divisor = take_divisor(s.reg[v]);
        if (divisor == 0) {
            std::memset(buf, 0, sizeof s.buf[v]);
            continue;
        }
        const int period = period_of(voice_base(s, v), divisor);
        if (v == VOICE_NOISE)
            fill_shifted(buf, s.phase[v], s.noise_shift, period + 1, tv ? TV_NOISE_LEVEL : TONE_LEVEL);
        else if (tv)
            fill_triangle(buf, s.phase[v], period);
        else
            fill_square(buf, s.phase[v], period);
    }
}

void mix_normal(SoundState& s) {
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
        int32_t v = s.buf[VOICE_BASS][i] + s.buf[VOICE_ALTO][i] + s.buf[VOICE_SOPRANO][i] + s.buf[VOICE_NOISE][i];
        v = v / 4 * s.volume;
        s.out[i] = uint8_t(v / 65536 + SILENCE);
    }
}

// Hiss and hum stay at a fixed level whatever the volume, like the noise
// floor of a television's sound stage. A triangle with a short odd period
// overshoots its peak (up to twice over at period 3), so loud high notes on
// several voices can pass the 8-bit range; they are held at its ends rather
// than wrapped round to the other end.
void mix_tv(SoundState& s) {
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
        const int32_t voices =
            s.buf[VOICE_BASS][i] + s.buf[VOICE_ALTO][i] + s.buf[VOICE_SOPRANO][i] + s.buf[VOICE_NOISE][i];
        const int32_t a = (voices >> 2) * s.volume;
        const int32_t b = (s.buf[VOICE_HISS][i] + s.buf[VOICE_HUM][i]) / 2 * 32;
        s.out[i] = uint8_t(std::clamp((a + b) / 65536 + SILENCE, 0, 255));
    }
}

}  // namespace

uint32_t step_shift(uint32_t reg) {
    reg <<= 1;
    if (reg & 0x80000000u) reg ^= SHIFT_TAP;
    return reg;
}

void reset_sound_state(SoundState& s, SoundBases base) {
    std::memset(&s, 0, sizeof s);
    s.base = base;
    s.noise_shift = 1;
    s.hiss_shift = 1;
    std::memset(s.out, SILENCE, sizeof s.out);
}

void apply_sound_message(SoundState& s, uint8_t code, uint8_t value) {
    if (code == SND_VOLUME) {
        s.volume = uint8_t(value << 4);
    } else if (code >= SND_BASS && code <= SND_NOISE) {
        static_assert(VOICE_ALTO == SND_ALTO - SND_BASS && VOICE_SOPRANO == SND_SOPRANO - SND_BASS &&
                      VOICE_NOISE == SND_NOISE - SND_BASS);
        s.reg[code - SND_BASS] = value;
    } else if (code == SND_STANDARD) {
        if (value == STANDARD_NTSC) s.base = NTSC_BASES;
        if (value == STANDARD_PAL) s.base = PAL_BASES;
    }
}

void make_block(SoundState& s, bool tv) {
    make_voices(s, tv);
    if (!tv) {
        mix_normal(s);
        return;
    }
    fill_shifted(s.buf[VOICE_HISS], s.phase[VOICE_HISS], s.hiss_shift, period_of(s.base.noi, 1) + 1, HISS_LEVEL);
    fill_triangle(s.buf[VOICE_HUM], s.phase[VOICE_HUM], period_of(s.base.bas, HUM_DIVISOR));
    mix_tv(s);
}
