#include "parameters.hpp"

#include <vntr/dsp/msvq.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vntr::vt15 {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kLsfEdge = 0.01f;

int Clamp(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

void OrderLsf(float *w) {
    for (int pass = 0; pass < 10; ++pass) {
        bool swapped = false;
        for (int j = 1; j < kOrder; ++j) {
            if (w[j] < w[j - 1]) {
                std::swap(w[j], w[j - 1]);
                swapped = true;
            }
        }
        if (!swapped) break;
    }
}

// How far a frequency may move towards a neighbour (or the band edge) that is
// `room` away, when it should move `wanted`: not at all when the neighbour is
// already closer than the minimum spacing, by half the surplus when it is
// within twice the spacing.
float AllowedMove(float wanted, float room) {
    if (room < kLsfMinSpacing) return 0.0f;
    if (room < 2.0f * kLsfMinSpacing) return std::min(wanted, 0.5f * (room - kLsfMinSpacing));
    return wanted;
}

void SpaceLsf(float *w) {
    constexpr float d = kLsfMinSpacing;
    for (int pass = 0; pass < 10; ++pass) {
        for (int j = 1; j < kOrder; ++j) {
            const float gap = w[j] - w[j - 1];
            if (gap >= d) continue;
            const float half = 0.5f * (d - gap);
            float down;
            if (j == 1) {
                // The lowest frequency keeps half its distance from 0.
                down = w[0] < d ? std::min(half, 0.5f * w[0]) : AllowedMove(half, w[0]);
            } else {
                down = AllowedMove(half, w[j - 1] - w[j - 2]);
            }
            float up;
            if (j == kOrder - 1) {
                const float room = kPi - w[j];
                up = room < d ? std::min(half, 0.5f * room) : AllowedMove(half, room);
            } else {
                up = AllowedMove(half, w[j + 1] - w[j]);
            }
            w[j - 1] -= down;
            w[j] += up;
        }
        bool spaced = true;
        for (int j = 1; j < kOrder; ++j) {
            if (w[j] - w[j - 1] < kLsfAcceptedSpacing) spaced = false;
        }
        if (spaced) break;
    }
}

} // namespace

float PitchFromIndex(int index) {
    const float step = (kLogPitchMax - kLogPitchMin) / static_cast<float>(kPitchLevels - 1);
    return std::pow(10.0f, kLogPitchMin + static_cast<float>(index) * step);
}

int NearestPitchIndex(float pitch) {
    const float step = (kLogPitchMax - kLogPitchMin) / static_cast<float>(kPitchLevels - 1);
    const float level = (std::log10(std::max(pitch, 1.0f)) - kLogPitchMin) / step;
    return Clamp(static_cast<int>(std::lround(level)), 0, kPitchLevels - 1);
}

float Gain2FromIndex(int index) {
    return kGain2Min + kGain2Step * static_cast<float>(index);
}

int NearestGain2Index(float gainDb) {
    return Clamp(static_cast<int>(std::lround((gainDb - kGain2Min) / kGain2Step)), 0, kGain2Levels - 1);
}

void Gain1Range(float g2, float gp, float &lo, float &hi) {
    lo = std::max(std::min(g2, gp) - 6.0f, kGain1Min);
    hi = std::min(std::max(g2, gp) + 6.0f, kGain1Max);
}

float Gain1FromIndex(int g1, float g2, float gp) {
    if (g1 == 0) return 0.5f * (g2 + gp);
    float lo, hi;
    Gain1Range(g2, gp, lo, hi);
    return lo + (hi - lo) * static_cast<float>(g1 - 1) / static_cast<float>(kGain1Levels - 1);
}

void VoicingFromPattern(int pattern, float *voicing) {
    if (pattern == 1) pattern = 0;
    voicing[0] = 1.0f;
    for (int b = 1; b < kBands; ++b) voicing[b] = static_cast<float>((pattern >> (kBands - 1 - b)) & 1);
}

void InitialLsf(float *lsf) {
    for (int k = 0; k < kOrder; ++k) lsf[k] = kPi * static_cast<float>(k + 1) / 11.0f;
}

void OrderAndSpaceLsf(float *lsf) {
    for (int k = 0; k < kOrder; ++k) lsf[k] = std::clamp(lsf[k], kLsfEdge, kPi - kLsfEdge);
    OrderLsf(lsf);
    SpaceLsf(lsf);
}

void RebuildLsf(const FrameFields &frame, const LsfCodebook &codebook, const float *previous, float *lsf) {
    const LsfLayout &layout = kLsfLayouts[frame.frameClass];
    if (layout.stageCount == 0) {
        std::copy(previous, previous + kOrder, lsf);
        return;
    }
    dsp::MsvqStage stages[kLsfStages];
    int indices[kLsfStages];
    for (int s = 0; s < layout.stageCount; ++s) {
        const int stage = layout.firstStage + s;
        stages[s] = dsp::MsvqStage{codebook.stage[stage], kLsfStageSizes[stage]};
        // Field widths match the stage sizes, so every index is inside its stage.
        indices[s] = frame.value[kFieldLsf + stage] % kLsfStageSizes[stage];
    }
    dsp::MsvqSum(layout.difference ? previous : nullptr, kOrder, stages, layout.stageCount, indices, lsf);
    OrderAndSpaceLsf(lsf);
}

void DecodeParameters(const FrameFields &frame, const LsfCodebook &codebook, DifferenceHistory &history,
                      FrameParameters &out) {
    const int c = frame.frameClass;
    const uint16_t *f = frame.value;
    const bool voiced = c == kClassVoiced || c == kClassVoicedContinued;

    int pitchIndex = kUnvoicedPitchIndex;
    out.pitch = kUnvoicedPitch;
    out.jitter = 0.0f;
    for (float &v : out.voicing) v = 0.0f;
    if (voiced) {
        pitchIndex = c == kClassVoiced ? f[kFieldPitch] : history.pitchIndex + f[kFieldPitch] - 4;
        pitchIndex = Clamp(pitchIndex, 0, kPitchLevels - 1);
        out.pitch = PitchFromIndex(pitchIndex);
        out.jitter = 0.25f * static_cast<float>(f[kFieldJitter]);
        VoicingFromPattern(c == kClassVoiced ? f[kFieldPattern] : f[kFieldPattern] + 8, out.voicing);
    }

    int gain2Index;
    switch (c) {
    case kClassVoicedContinued:
        gain2Index = history.gain2Index + f[kFieldGain2] - 2;
        break;
    case kClassUnvoicedContinued:
        gain2Index = history.gain2Index + f[kFieldGain2] - 8;
        break;
    case kClassRepeat:
        gain2Index = history.gain2Index;
        break;
    default:
        gain2Index = f[kFieldGain2];
        break;
    }
    gain2Index = Clamp(gain2Index, 0, kGain2Levels - 1);
    const float g2 = Gain2FromIndex(gain2Index);
    const int g1 = (c == kClassVoiced || c == kClassUnvoiced) ? f[kFieldGain1] : 0;
    out.gain[0] = Gain1FromIndex(g1, g2, history.gain2);
    out.gain[1] = g2;

    float lsf[kOrder];
    RebuildLsf(frame, codebook, history.lsf, lsf);
    std::copy(lsf, lsf + kOrder, out.lsf);

    history.frameClass = c;
    history.pitchIndex = pitchIndex;
    history.gain2Index = gain2Index;
    history.gain2 = g2;
    std::copy(lsf, lsf + kOrder, history.lsf);
}

void InitDifferenceHistory(DifferenceHistory &history, int pitchIndex) {
    history.frameClass = kInitialPreviousClass;
    history.pitchIndex = pitchIndex;
    history.gain2Index = 0;
    history.gain2 = kGain2Min;
    InitialLsf(history.lsf);
}

} // namespace vntr::vt15
