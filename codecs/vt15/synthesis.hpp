// Pitch-synchronous mixed-excitation synthesis: per pitch period a pulse and
// white noise, each shaped from the five band filters by the band voicing,
// summed, passed through the adaptive enhancement and tilt filters and the
// LPC synthesis filter, scaled to the interpolated gain and dispersed.
// Parameters move from the previous frame's to the current ones at the
// start of every period; a period may run past the frame end, into the
// second half of the two-frame output buffer.
#pragma once

#include "parameters.hpp"
#include "tables.hpp"

#include <cstdint>

namespace vntr::vt15 {

constexpr int kMinPeriod = 20;
constexpr int kMaxPeriod = 160;
constexpr int kShapingMemory = kShapingTaps - 1;
constexpr int kDispersionMemory = kDispersionTaps - 1;

struct SynthesisState {
    FrameParameters previous; // the last frame's parameters, its gains after attenuation
    float previousTilt;
    float noiseLevel; // dB
    bool firstFrame;
    int position; // start of the next period, from the current frame's start
    float previousScale;
    float previousPulseFilter[kShapingTaps];
    float previousNoiseFilter[kShapingTaps];
    // Filter memories, the newest sample last.
    float pulseMemory[kShapingMemory];
    float noiseMemory[kShapingMemory];
    float enhancementMemory[kOrder]; // pole part's outputs, read by the zero part too
    float tiltMemory;
    float synthesisMemory[kOrder];
    float dispersionMemory[kDispersionMemory];
    float output[2 * kFrameLength];
    uint32_t random;
};

// 32-bit linear congruential generator of the synthesis: state * 214013 +
// 2531011, each draw bits 16..30 of the new state.
inline int NextSynthesisRandom(uint32_t &state) {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

constexpr uint32_t kSynthesisSeed = 10000;

void InitSynthesis(SynthesisState &state);

// Synthesises one frame from its parameters (taken by value: the gains are
// attenuated and the pitch adjusted on the way).
//   out [kFrameLength]
void SynthesiseFrame(SynthesisState &state, FrameParameters current, float *out);

// Octave jumps between frames: when the period more than triples, the
// previous period is doubled; when it drops below two thirds, the current
// one is; a second pulse in mid-period keeps the pulse rate moving smoothly.
enum class OctaveMode { None, PreviousDoubled, CurrentDoubled };

struct OctaveChoice {
    OctaveMode mode;
    float previousPeriod; // the periods interpolated between
    float currentPeriod;
};

// previousGain2 and currentGain1 decide an onset (a louder frame with a much
// shorter period starts from its own period).
OctaveChoice ChooseOctave(float previousPitch, float currentPitch, float previousGain2, float currentGain1);

// The pulses of one period of `length` samples: `amplitude` at 0, or in the
// octave modes amplitude/sqrt 2 at 0 and amplitude/sqrt 2 times alpha
// (current doubled) or 1 - alpha (previous doubled) at length/2.
//   out pulses [length]
void PlacePulses(OctaveMode mode, float amplitude, float alpha, int length, float *pulses);

// The jittered period length, (1 - jitter u) period rounded, held to 20..160.
int PeriodLength(float period, float jitter, float u);

// The noise-level tracking and gain attenuation of one frame's two gains.
void AttenuateGains(float &noiseLevel, float *gains);

// Tilt of the enhancement from an LSF vector: half the first reflection
// coefficient when it is negative, else 0.
float SpectralTilt(const float *lsf);

} // namespace vntr::vt15
