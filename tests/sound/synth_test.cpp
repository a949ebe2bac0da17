// Block synthesis, followed sample by sample.
#include "sound/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

class Synth : public testing::Test {
protected:
    SoundState s;
    void SetUp() override { reset_sound_state(s, NTSC_BASES); }

    // The samples of one source over n blocks, as one sequence.
    std::vector<int32_t> run(int voice, int blocks, bool tv = false) {
        std::vector<int32_t> all;
        for (int b = 0; b < blocks; b++) {
            make_block(s, tv);
            all.insert(all.end(), s.buf[voice], s.buf[voice] + BLOCK_SAMPLES);
        }
        return all;
    }
    std::vector<uint8_t> run_out(int blocks, bool tv = false) {
        std::vector<uint8_t> all;
        for (int b = 0; b < blocks; b++) {
            make_block(s, tv);
            all.insert(all.end(), s.out, s.out + BLOCK_SAMPLES);
        }
        return all;
    }
};

// Lengths of the runs of equal samples.
std::vector<size_t> runs(const std::vector<int32_t>& v) {
    std::vector<size_t> lengths;
    size_t start = 0;
    for (size_t i = 1; i <= v.size(); i++)
        if (i == v.size() || v[i] != v[start]) {
            lengths.push_back(i - start);
            start = i;
        }
    return lengths;
}

TEST_F(Synth, VolumeIsTheLowNibbleTimesSixteen) {
    const struct {
        uint8_t written, volume;
    } cases[] = {{0x8F, 240}, {0x0F, 240}, {0xFF, 240}, {0x10, 0}, {0x01, 16}, {0xA7, 112}};
    for (auto c : cases) {
        apply_sound_message(s, 0, c.written);
        EXPECT_EQ(s.volume, c.volume) << "written " << int(c.written);
    }
}

TEST_F(Synth, EachCodeFeedsItsOwnVoice) {
    const int codes[] = {1, 2, 3, 4};
    for (int code : codes) {
        reset_sound_state(s, NTSC_BASES);
        apply_sound_message(s, uint8_t(code), 0x80);
        make_block(s, false);
        for (int v = 0; v < REGISTER_VOICES; v++) {
            const bool sounding = std::any_of(s.buf[v], s.buf[v] + BLOCK_SAMPLES, [](int32_t x) { return x != 0; });
            EXPECT_EQ(sounding, v == code - 1) << "code " << code << " voice " << v;
        }
    }
}

TEST_F(Synth, LowestBassIsAPeriodOf1422SamplesInNtsc) {
    apply_sound_message(s, 0, 0x0F);
    apply_sound_message(s, 1, 0x80);
    std::vector<int32_t> bass = run(VOICE_BASS, 12);
    EXPECT_EQ(bass[0], 32767);
    std::vector<size_t> r = runs(bass);
    ASSERT_GE(r.size(), 4u);
    EXPECT_EQ(r[0], 710u);  // the phase starts at 0 and the first sample is phase 1
    EXPECT_EQ(r[1], 711u);
    EXPECT_EQ(r[2], 711u);
    EXPECT_EQ(r[3], 711u);
    EXPECT_EQ(bass[710], -32767);
    // One voice at full volume: 32767 / 4 * 240 / 65536 = 29 steps from the middle.
    make_block(s, false);
    std::vector<uint8_t> levels(s.out, s.out + BLOCK_SAMPLES);
    for (uint8_t v : levels) EXPECT_TRUE(v == 128 + 29 || v == 128 - 29) << int(v);
}

TEST_F(Synth, HighestSopranoAlternatesEverySample) {
    apply_sound_message(s, 3, 0xFE);
    std::vector<int32_t> sop = run(VOICE_SOPRANO, 2);
    for (size_t i = 0; i < sop.size(); i++) ASSERT_EQ(sop[i], i % 2 == 0 ? -32767 : 32767) << i;
}

TEST_F(Synth, SquarePeriodFollowsTheBaseOfTheStandard) {
    // Soprano $F0: divisor 15. NTSC 15980 / 15 = 1065 Hz, 41 samples;
    // PAL 17320 / 15 = 1154 Hz, 38 samples.
    apply_sound_message(s, 3, 0xF0);
    std::vector<size_t> r = runs(run(VOICE_SOPRANO, 4));
    EXPECT_EQ(r[1] + r[2], 41u);
    EXPECT_EQ(r[3] + r[4], 41u);
    apply_sound_message(s, 5, STANDARD_PAL);
    r = runs(run(VOICE_SOPRANO, 4));
    EXPECT_EQ(r[1] + r[2], 38u);
    EXPECT_EQ(r[3] + r[4], 38u);
}

TEST_F(Synth, AllOnesPlaysOneBlockAtTheLowestPitchThenStops) {
    apply_sound_message(s, 3, 0xFF);
    make_block(s, false);
    EXPECT_EQ(s.reg[VOICE_SOPRANO], 0x7F);
    // Divisor 128: 15980 / 128 = 124 Hz, 355 samples, high for 177.
    std::vector<int32_t> first(s.buf[VOICE_SOPRANO], s.buf[VOICE_SOPRANO] + BLOCK_SAMPLES);
    EXPECT_EQ(runs(first)[0], 176u);
    EXPECT_EQ(first[176], -32767);
    for (int b = 0; b < 3; b++) {
        make_block(s, false);
        for (int32_t v : s.buf[VOICE_SOPRANO]) ASSERT_EQ(v, 0);
    }
    // Writing it again gives one more block, going on from the kept phase.
    apply_sound_message(s, 3, 0xFF);
    make_block(s, false);
    EXPECT_EQ(s.buf[VOICE_SOPRANO][0], -32767);  // phase 257 of 355
    EXPECT_EQ(s.buf[VOICE_SOPRANO][98], 32767);  // wrapped to phase 0
    make_block(s, false);
    EXPECT_EQ(s.buf[VOICE_SOPRANO][0], 0);
}

TEST_F(Synth, ClearedTopBitSilencesAtTheNextBlockAndKeepsThePhase) {
    apply_sound_message(s, 2, 0xC0);  // alto, divisor 63: 7990 / 63 = 126 Hz, 350 samples
    make_block(s, false);
    const int phase = s.phase[VOICE_ALTO];
    EXPECT_EQ(phase, 256);
    apply_sound_message(s, 2, 0x7F);
    make_block(s, false);
    for (int32_t v : s.buf[VOICE_ALTO]) ASSERT_EQ(v, 0);
    EXPECT_EQ(s.phase[VOICE_ALTO], phase);
    apply_sound_message(s, 2, 0xC0);
    make_block(s, false);
    EXPECT_EQ(s.buf[VOICE_ALTO][0], -32767);  // phase 257: second half
    EXPECT_EQ(s.buf[VOICE_ALTO][349 - 256], 32767);  // phase 0 again
}

TEST_F(Synth, NoiseShiftRegisterSequence) {
    uint32_t reg = 1;
    for (int i = 0; i < 30; i++) reg = step_shift(reg);
    EXPECT_EQ(reg, 0x40000000u);
    reg = step_shift(reg);
    EXPECT_EQ(reg, 0x80040001u);
    reg = step_shift(reg);
    EXPECT_EQ(reg, 0x00080002u);
}

TEST_F(Synth, NoiseVoiceSitsLowWithSinglePeriodsHigh) {
    // Noise $FE: 31960 Hz, period 44100 / 31960 + 1 = 2, so step k falls on
    // sample 2k - 1. The register starts at 1 (bit 0 set), and the first step
    // that sets bit 0 again is the 31st.
    apply_sound_message(s, 4, 0xFE);
    std::vector<int32_t> noise = run(VOICE_NOISE, 1);
    EXPECT_EQ(noise[0], 32767);
    for (int i = 1; i <= 60; i++) ASSERT_EQ(noise[i], -32767) << i;
    EXPECT_EQ(noise[61], 32767);
    EXPECT_EQ(noise[62], 32767);
    EXPECT_EQ(noise[63], -32767);
    // Over a long run the level changes only on steps, so every stretch is
    // a whole number of periods (the first and last may be cut by the
    // window), and the voice sits low most of the time.
    noise = run(VOICE_NOISE, 40);
    std::vector<size_t> r = runs(noise);
    size_t high_samples = 0, start = r[0];
    for (size_t i = 1; i + 1 < r.size(); start += r[i], i++) {
        EXPECT_EQ(r[i] % 2, 0u) << "stretch at " << start;
        if (noise[start] > 0) high_samples += r[i];
    }
    EXPECT_GT(high_samples, 100u);
    EXPECT_LT(high_samples, noise.size() / 2);
}

TEST_F(Synth, SilenceIsTheMiddleInNormalModeAndAFewStepsAroundItOnTv) {
    std::vector<uint8_t> normal = run_out(20);
    for (uint8_t v : normal) ASSERT_EQ(v, 128);
    // Voices on but volume 0: still silent.
    apply_sound_message(s, 1, 0x90);
    apply_sound_message(s, 4, 0xF0);
    normal = run_out(5);
    for (uint8_t v : normal) ASSERT_EQ(v, 128);

    reset_sound_state(s, NTSC_BASES);
    std::vector<uint8_t> tv = run_out(40, true);  // more than one 2940-sample hum period
    const auto [lo, hi] = std::minmax_element(tv.begin(), tv.end());
    EXPECT_GE(*lo, 128 - 9);
    EXPECT_LE(*hi, 128 + 9);
    EXPECT_LT(*lo, 128);
    EXPECT_GT(*hi, 128);
}

TEST_F(Synth, NormalOutputSpansNineTo247) {
    apply_sound_message(s, 0, 0x0F);
    for (uint8_t code = 1; code <= 4; code++) apply_sound_message(s, code, 0x80);
    std::vector<uint8_t> out = run_out(30);
    EXPECT_EQ(out[0], 247);  // every voice in its first half, noise bit set
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), 9);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 247);
}

TEST_F(Synth, TvVoicesAreTriangles) {
    apply_sound_message(s, 1, 0x80);  // period 1422, slope 65534 / 1422 = 46 per phase step, twice that per sample
    std::vector<int32_t> bass = run(VOICE_BASS, 12, true);
    EXPECT_EQ(bass[1421], 711 * -46);  // phase 0: the bottom
    EXPECT_EQ(bass[710], -(711 * -46));  // phase 711: the top
    for (size_t i = 1; i < bass.size(); i++) ASSERT_EQ(std::abs(bass[i] - bass[i - 1]), 92) << i;

    // Period 2: the triangle degenerates to an alternation, bottom at phase
    // 0 and top at phase 1, so the other way round from the square wave.
    apply_sound_message(s, 3, 0xFE);
    std::vector<int32_t> sop = run(VOICE_SOPRANO, 1, true);
    for (size_t i = 0; i < sop.size(); i++) ASSERT_EQ(sop[i], i % 2 == 0 ? 32767 : -32767) << i;
}

TEST_F(Synth, TvHissAndHum) {
    // The hiss steps its own register with period 2, the noise voice at $FE
    // with the same period: the two sources follow one sequence.
    apply_sound_message(s, 4, 0xFE);
    for (int b = 0; b < 8; b++) {
        make_block(s, true);
        for (int i = 0; i < BLOCK_SAMPLES; i++)
            ASSERT_EQ(s.buf[VOICE_NOISE][i] / 7000, s.buf[VOICE_HISS][i] / 260) << b << " " << i;
    }
    // Hum: 3995 / 250 = 15 Hz, 2940 samples in NTSC; 4329 / 250 = 17 Hz, 2594 in PAL.
    for (auto [bases, period] : {std::pair{NTSC_BASES, 2940}, std::pair{PAL_BASES, 2594}}) {
        reset_sound_state(s, bases);
        std::vector<int32_t> hum = run(VOICE_HUM, 24, true);
        std::vector<size_t> bottoms;
        const int32_t low = *std::min_element(hum.begin(), hum.end());
        for (size_t i = 0; i < hum.size(); i++)
            if (hum[i] == low) bottoms.push_back(i);
        ASSERT_GE(bottoms.size(), 2u);
        EXPECT_EQ(bottoms[0], size_t(period - 1));
        EXPECT_EQ(bottoms[1] - bottoms[0], size_t(period));
    }
}

TEST_F(Synth, TvMixScalesVoicesByVolumeButNotHissAndHum) {
    apply_sound_message(s, 3, 0xFE);
    apply_sound_message(s, 0, 0x0F);
    std::vector<uint8_t> loud = run_out(1, true);
    reset_sound_state(s, NTSC_BASES);
    apply_sound_message(s, 3, 0xFE);
    std::vector<uint8_t> quiet = run_out(1, true);
    // Soprano alone: (32767 >> 2) * 240 / 65536 = 29 steps, plus the few of hiss and hum.
    for (int i = 0; i < BLOCK_SAMPLES; i++) {
        const int swing = loud[i] - quiet[i];
        ASSERT_GE(std::abs(swing), 28) << i;
        ASSERT_LE(std::abs(swing), 30) << i;
        ASSERT_LE(std::abs(quiet[i] - 128), 9) << i;
    }
}

TEST_F(Synth, TvMixHoldsLoudHighNotesAtTheEndsOfTheRange) {
    // Short odd periods (11, 5, 5 samples) overshoot their triangle peaks;
    // together with the noise they pass 255 and must not wrap round to 0.
    apply_sound_message(s, 0, 0x0F);
    apply_sound_message(s, 1, 0xFE);
    apply_sound_message(s, 2, 0xFE);
    apply_sound_message(s, 3, 0xFD);
    apply_sound_message(s, 4, 0xFE);
    int top = 0;
    for (int b = 0; b < 40; b++) {
        make_block(s, true);
        for (int i = 0; i < BLOCK_SAMPLES; i++) {
            const int32_t voices = s.buf[VOICE_BASS][i] + s.buf[VOICE_ALTO][i] + s.buf[VOICE_SOPRANO][i] +
                                   s.buf[VOICE_NOISE][i];
            // Hiss and hum move the output by at most 8 steps.
            if (voices > 0) {
                ASSERT_GE(s.out[i], 128 - 8) << b << " " << i;
            } else if (voices < 0) {
                ASSERT_LE(s.out[i], 128 + 8) << b << " " << i;
            }
            top = std::max(top, int(s.out[i]));
        }
    }
    EXPECT_EQ(top, 255);
}

// Both mixes against their rules, over many blocks of random register
// settings: the normal mode divides the voice sum by 4 toward zero, the TV
// mode shifts it (toward minus infinity) and adds hiss and hum.
TEST_F(Synth, MixesFollowTheirRoundingRulesSampleBySample) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    for (bool tv : {false, true}) {
        reset_sound_state(s, NTSC_BASES);
        size_t differ = 0;  // samples where shifting and dividing the sum give other outputs
        for (int block = 0; block < 400; block++) {
            if (block % 8 == 0) {
                for (uint8_t code = 0; code <= 4; code++) apply_sound_message(s, code, next() | (code ? 0x80 : 0));
            }
            make_block(s, tv);
            for (int i = 0; i < BLOCK_SAMPLES; i++) {
                const int32_t sum =
                    s.buf[VOICE_BASS][i] + s.buf[VOICE_ALTO][i] + s.buf[VOICE_SOPRANO][i] + s.buf[VOICE_NOISE][i];
                int32_t expected;
                if (!tv) {
                    expected = sum / 4 * s.volume / 65536 + 128;
                } else {
                    const int32_t floor_quarter = sum >= 0 ? sum / 4 : -((-sum + 3) / 4);
                    const int32_t a = floor_quarter * s.volume;
                    const int32_t b = (s.buf[VOICE_HISS][i] + s.buf[VOICE_HUM][i]) / 2 * 32;
                    expected = std::clamp((a + b) / 65536 + 128, 0, 255);
                    differ += ((sum / 4) * s.volume + b) / 65536 + 128 != (a + b) / 65536 + 128;
                }
                ASSERT_EQ(s.out[i], expected) << (tv ? "tv" : "normal") << " block " << block << " sample " << i;
            }
        }
        if (tv) {
            EXPECT_GT(differ, 0u) << "no sample tells the two roundings apart";
        }
    }
}

TEST_F(Synth, StandardMessageLoadsBasesAndNothingElse) {
    apply_sound_message(s, 1, 0x93);
    apply_sound_message(s, 0, 0x0A);
    apply_sound_message(s, 5, STANDARD_PAL);
    EXPECT_EQ(s.base.sop, 17320);
    EXPECT_EQ(s.base.mit, 8659);
    EXPECT_EQ(s.base.bas, 4329);
    EXPECT_EQ(s.base.noi, 34640);
    EXPECT_EQ(s.reg[VOICE_BASS], 0x93);
    EXPECT_EQ(s.volume, 160);
    apply_sound_message(s, 5, STANDARD_NTSC);
    EXPECT_EQ(s.base.sop, 15980);
    EXPECT_EQ(s.base.mit, 7990);
    EXPECT_EQ(s.base.bas, 3995);
    EXPECT_EQ(s.base.noi, 31960);

    // Other standard values and codes above 5 change nothing at all.
    make_block(s, false);
    SoundState before = s;
    for (uint8_t value : {uint8_t(0), uint8_t(1), uint8_t(66), uint8_t(70), uint8_t(72), uint8_t(255)})
        apply_sound_message(s, 5, value);
    for (int code = 6; code < 256; code++) apply_sound_message(s, uint8_t(code), 0xFE);
    EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
}

}  // namespace
