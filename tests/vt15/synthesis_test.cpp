// The mixed-excitation synthesis.
#include "synthesis.hpp"

#include <vntr/dsp/lsp.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace vntr::vt15 {
namespace {

FrameParameters Frame(float pitch, float gainDb, bool voiced, float jitter = 0.0f) {
    FrameParameters p{};
    p.pitch = pitch;
    p.gain[0] = p.gain[1] = gainDb;
    for (float &v : p.voicing) v = voiced ? 1.0f : 0.0f;
    p.jitter = jitter;
    // A vowel-like envelope: formants near 500, 1500 and 2500 Hz.
    const float lsf[kOrder] = {0.25f, 0.42f, 0.9f, 1.2f, 1.6f, 1.95f, 2.25f, 2.5f, 2.75f, 2.95f};
    std::copy(lsf, lsf + kOrder, p.lsf);
    return p;
}

std::vector<float> Synthesise(SynthesisState &s, const std::vector<FrameParameters> &frames) {
    std::vector<float> out;
    for (const FrameParameters &p : frames) {
        float pcm[kFrameLength];
        SynthesiseFrame(s, p, pcm);
        out.insert(out.end(), pcm, pcm + kFrameLength);
    }
    return out;
}

double Rms(const std::vector<float> &x, std::size_t from, std::size_t to) {
    double e = 0.0;
    for (std::size_t i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
    return std::sqrt(e / static_cast<double>(to - from));
}

TEST(BandFilters, SumToNearlyAUnitImpulseAndAreSymmetric) {
    for (int k = 0; k < kShapingTaps; ++k) {
        float sum = 0.0f;
        for (int b = 0; b < kBands; ++b) {
            sum += kBandFilters[b][k];
            EXPECT_EQ(kBandFilters[b][k], kBandFilters[b][kShapingTaps - 1 - k]);
        }
        if (k == 16) {
            EXPECT_NEAR(sum, 1.017f, 5e-4f);
        } else {
            EXPECT_LT(std::fabs(sum), 0.003f) << k;
        }
    }
    double energy = 0.0;
    for (float t : kDispersionFilter) energy += static_cast<double>(t) * t;
    EXPECT_NEAR(energy, 1.0, 0.01);
    EXPECT_EQ(kDispersionFilterReversed[0], kDispersionFilter[kDispersionTaps - 1]);
}

TEST(Synthesis, PeriodLengthsStayWithin20And160WhateverJitterAndPitchGive) {
    for (float period : {10.0f, 20.0f, 20.4f, 90.0f, 159.5f, 160.0f, 300.0f}) {
        for (float u : {-1.0f, -0.3f, 0.0f, 0.7f, 1.0f}) {
            const int l = PeriodLength(period, 0.25f, u);
            EXPECT_GE(l, kMinPeriod);
            EXPECT_LE(l, kMaxPeriod);
        }
    }
    EXPECT_EQ(PeriodLength(100.0f, 0.25f, 1.0f), 75);
    EXPECT_EQ(PeriodLength(100.0f, 0.25f, -1.0f), 125);
    EXPECT_EQ(PeriodLength(50.4f, 0.0f, 0.9f), 50);
    // And in a whole synthesis with strong jitter at both pitch extremes.
    auto s = std::make_unique<SynthesisState>();
    InitSynthesis(*s);
    std::vector<FrameParameters> frames;
    for (int i = 0; i < 40; ++i) frames.push_back(Frame(i % 2 ? 20.0f : 160.0f, 50.0f, true, 0.25f));
    for (const FrameParameters &p : frames) {
        float pcm[kFrameLength];
        SynthesiseFrame(*s, p, pcm);
        ASSERT_GE(s->position, 0);
        ASSERT_LT(s->position, kMaxPeriod) << "a period never starts further than 160 samples past the frame";
    }
}

TEST(Synthesis, APeriodThatMoreThanTriplesDoublesTheShorterOneAndAddsAMidPeriodPulse) {
    OctaveChoice up = ChooseOctave(30.0f, 100.0f, 40.0f, 40.0f);
    EXPECT_EQ(up.mode, OctaveMode::PreviousDoubled);
    EXPECT_EQ(up.previousPeriod, 60.0f);
    EXPECT_EQ(up.currentPeriod, 100.0f);
    OctaveChoice capped = ChooseOctave(50.0f, 155.0f, 40.0f, 40.0f);
    EXPECT_EQ(capped.mode, OctaveMode::PreviousDoubled);
    EXPECT_EQ(capped.previousPeriod, 100.0f);
    OctaveChoice down = ChooseOctave(120.0f, 70.0f, 40.0f, 40.0f);
    EXPECT_EQ(down.mode, OctaveMode::CurrentDoubled);
    EXPECT_EQ(down.currentPeriod, 140.0f);
    EXPECT_EQ(ChooseOctave(150.0f, 90.0f, 40.0f, 40.0f).currentPeriod, 159.5f);
    EXPECT_EQ(ChooseOctave(120.0f, 90.0f, 40.0f, 40.0f).mode, OctaveMode::None);
    EXPECT_EQ(ChooseOctave(60.0f, 70.0f, 40.0f, 40.0f).mode, OctaveMode::None);
    // An onset (much louder, much shorter) starts from its own period.
    const OctaveChoice onset = ChooseOctave(120.0f, 50.0f, 20.0f, 40.0f);
    EXPECT_EQ(onset.mode, OctaveMode::None);
    EXPECT_EQ(onset.previousPeriod, 50.0f);

    float pulses[80];
    PlacePulses(OctaveMode::PreviousDoubled, 1000.0f, 0.25f, 80, pulses);
    EXPECT_NEAR(pulses[0], 1000.0f / std::numbers::sqrt2_v<float>, 1e-3f);
    EXPECT_NEAR(pulses[40], 0.75f * 1000.0f / std::numbers::sqrt2_v<float>, 1e-3f);
    PlacePulses(OctaveMode::CurrentDoubled, 1000.0f, 0.25f, 80, pulses);
    EXPECT_NEAR(pulses[40], 0.25f * 1000.0f / std::numbers::sqrt2_v<float>, 1e-3f);
    int nonzero = 0;
    for (float p : pulses) nonzero += p != 0.0f;
    EXPECT_EQ(nonzero, 2);
    PlacePulses(OctaveMode::None, 1000.0f, 0.25f, 80, pulses);
    EXPECT_EQ(pulses[0], 1000.0f);
    EXPECT_EQ(pulses[40], 0.0f);
}

TEST(Synthesis, TheCurrentPeriodDoubledForAJumpIsHalvedAgainForTheNextFrame) {
    auto s = std::make_unique<SynthesisState>();
    InitSynthesis(*s);
    Synthesise(*s, {Frame(60.0f, 50.0f, true), Frame(60.0f, 50.0f, true)});
    Synthesise(*s, {Frame(35.0f, 50.0f, true)});
    EXPECT_FLOAT_EQ(s->previous.pitch, 35.0f);
}

TEST(Synthesis, SteadyFramesComeOutAtTheirGain) {
    for (bool voiced : {true, false}) {
        auto s = std::make_unique<SynthesisState>();
        InitSynthesis(*s);
        std::vector<FrameParameters> frames(30, Frame(57.0f, 60.0f, voiced));
        const auto out = Synthesise(*s, frames);
        // 60 dB is an RMS of 1000; the dispersion filter has unit energy.
        EXPECT_NEAR(Rms(out, 10 * kFrameLength, out.size()), 1000.0, 150.0) << voiced;
    }
}

TEST(Synthesis, VoicedFramesArePeriodicAtTheirPitch) {
    auto s = std::make_unique<SynthesisState>();
    InitSynthesis(*s);
    const auto out = Synthesise(*s, std::vector<FrameParameters>(20, Frame(64.0f, 60.0f, true)));
    auto corr = [&](int lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 2000; i + static_cast<std::size_t>(lag) < out.size(); ++i) {
            xy += out[i] * out[i + static_cast<std::size_t>(lag)];
            xx += out[i] * out[i];
            yy += out[i + static_cast<std::size_t>(lag)] * out[i + static_cast<std::size_t>(lag)];
        }
        return xy / std::sqrt(xx * yy);
    };
    EXPECT_GT(corr(64), 0.95);
    EXPECT_LT(corr(32), 0.5);
}

TEST(Synthesis, TheFirstFrameStartsQuietlyWithoutAClick) {
    // The shaping filters fade in from zero; the first period has no signal
    // and must not set the scale the next period ramps from.
    auto s = std::make_unique<SynthesisState>();
    InitSynthesis(*s);
    const auto out = Synthesise(*s, std::vector<FrameParameters>(3, Frame(50.0f, 10.0f, false)));
    for (float x : out) ASSERT_LT(std::fabs(x), 40.0f);
}

TEST(Synthesis, GainsNearTheNoiseLevelAreAttenuated) {
    float noise = 30.0f;
    float gains[2] = {31.0f, 31.0f};
    AttenuateGains(noise, gains);
    EXPECT_FLOAT_EQ(noise, 30.0f + 2 * 0.0337435f);
    // Far above 3 + min(N, 20) = 23 dB: only a fraction of a dB.
    EXPECT_GT(gains[0], 30.0f);
    EXPECT_LT(gains[0], 31.0f);
    float quiet[2] = {20.0f, 20.0f};
    noise = 20.0f;
    AttenuateGains(noise, quiet);
    EXPECT_FLOAT_EQ(quiet[0], 14.0f); // below the threshold: 6 dB
    EXPECT_FLOAT_EQ(quiet[1], 14.0f);
    float loud[2] = {70.0f, 70.0f};
    noise = 10.0f;
    AttenuateGains(noise, loud);
    EXPECT_NEAR(loud[1], 70.0f, 1e-4f);
    EXPECT_LE(noise, 80.0f);
}

TEST(Synthesis, TiltIsHalfTheFirstReflectionCoefficientWhenNegative) {
    // A(z) = 1 - 0.9 z^-1: k1 = -0.9.
    float a[kOrder] = {-0.9f};
    float lsf[kOrder];
    dsp::LpcToLsp(a, kOrder, lsf);
    EXPECT_NEAR(SpectralTilt(lsf), -0.45f, 1e-3f);
    a[0] = 0.9f; // a high-pass envelope: no tilt
    dsp::LpcToLsp(a, kOrder, lsf);
    EXPECT_EQ(SpectralTilt(lsf), 0.0f);
}

TEST(Synthesis, TheGeneratorIsTheDocumentedOne) {
    uint32_t state = kSynthesisSeed;
    const int first = NextSynthesisRandom(state);
    EXPECT_EQ(state, 10000u * 214013u + 2531011u);
    EXPECT_EQ(first, static_cast<int>((state >> 16) & 0x7FFF));
    for (int i = 0; i < 1000; ++i) {
        const int r = NextSynthesisRandom(state);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

} // namespace
} // namespace vntr::vt15
