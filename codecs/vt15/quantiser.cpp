#include "quantiser.hpp"

#include "parameters.hpp"

#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/msvq.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace vntr::vt15 {
namespace {

struct LsfChoice {
    int indices[kLsfStages];
    float error;
};

LsfChoice SearchLsf(const LsfCodebook &codebook, int frameClass, const float *target, const float *weights,
                    const float *previous) {
    const LsfLayout &layout = kLsfLayouts[frameClass];
    dsp::MsvqStage stages[kLsfStages] = {};
    for (int s = 0; s < layout.stageCount; ++s) {
        const int stage = layout.firstStage + s;
        stages[s] = dsp::MsvqStage{codebook.stage[stage], kLsfStageSizes[stage]};
    }
    const dsp::MsvqChoice found = dsp::MsvqSearch(target, weights, layout.difference ? previous : nullptr, kOrder,
                                                  stages, layout.stageCount, kLsfSearchKeep, nullptr);
    LsfChoice choice{};
    for (int s = 0; s < layout.stageCount; ++s) choice.indices[s] = found.indices[s];
    choice.error = found.error;
    return choice;
}

// The log envelope 10 log10 1/|A(e^jw)|^2 of an LSF vector at the bins'
// frequencies (w = pi (b + 1/2) / kEnvelopeBins).
void LogEnvelope(const float *lsf, float *out) {
    float a[kOrder];
    dsp::LspToLpc(lsf, kOrder, a);
    for (int b = 0; b < kEnvelopeBins; ++b) {
        const double w = std::numbers::pi * (b + 0.5) / kEnvelopeBins;
        double re = 1.0;
        double im = 0.0;
        for (int k = 0; k < kOrder; ++k) {
            re += a[k] * std::cos(w * (k + 1));
            im -= a[k] * std::sin(w * (k + 1));
        }
        out[b] = static_cast<float>(-10.0 * std::log10(re * re + im * im + 1e-12));
    }
}

// Of the search's finalists, the one whose rebuilt vector (ordered and
// spaced, as the decoder rebuilds it) has the envelope nearest the target's.
LsfChoice NearestEnvelope(const LsfCodebook &codebook, int frameClass, const float *target, const float *weights,
                          const float *previous, int finalists, float peakWeight) {
    const LsfLayout &layout = kLsfLayouts[frameClass];
    dsp::MsvqStage stages[kLsfStages] = {};
    for (int s = 0; s < layout.stageCount; ++s) {
        const int stage = layout.firstStage + s;
        stages[s] = dsp::MsvqStage{codebook.stage[stage], kLsfStageSizes[stage]};
    }
    const float *base = layout.difference ? previous : nullptr;
    dsp::MsvqChoice found[dsp::kMsvqMaxKeep];
    const int count =
        dsp::MsvqFinalists(target, weights, base, kOrder, stages, layout.stageCount, kLsfSearchKeep, found);
    const int compared = count < finalists ? count : finalists;
    float reference[kEnvelopeBins];
    LogEnvelope(target, reference);
    // Bins weighted by the target's power (relative to its peak) to peakWeight.
    float binWeight[kEnvelopeBins];
    const float peak = *std::max_element(reference, reference + kEnvelopeBins);
    for (int b = 0; b < kEnvelopeBins; ++b) {
        binWeight[b] = peakWeight > 0.0f ? std::pow(10.0f, 0.1f * peakWeight * (reference[b] - peak)) : 1.0f;
    }
    LsfChoice choice{};
    float best = 3e38f;
    for (int i = 0; i < compared; ++i) {
        float lsf[kOrder];
        dsp::MsvqSum(base, kOrder, stages, layout.stageCount, found[i].indices, lsf);
        OrderAndSpaceLsf(lsf);
        float envelope[kEnvelopeBins];
        LogEnvelope(lsf, envelope);
        float distance = 0.0f;
        for (int b = 0; b < kEnvelopeBins; ++b) {
            distance += binWeight[b] * (envelope[b] - reference[b]) * (envelope[b] - reference[b]);
        }
        if (i == 0 || distance < best) {
            best = distance;
            for (int s = 0; s < layout.stageCount; ++s) choice.indices[s] = found[i].indices[s];
            choice.error = found[i].error;
        }
    }
    return choice;
}

void QuantiseVoicing(FrameRecord &cur) {
    if (!cur.active || !IsVoiced(cur)) {
        cur.pattern = 0;
        for (float &v : cur.voicing) v = 0.0f;
        return;
    }
    int pattern = 0;
    for (int b = 1; b < kBands; ++b) {
        if (cur.voicing[b] > 0.6f) pattern |= 1 << (kBands - 1 - b);
    }
    if (pattern == 1) pattern = 0; // band 5 alone is not sent
    cur.pattern = pattern;
    VoicingFromPattern(pattern, cur.voicing);
}

// The decoder's level at sample b (0..180) of the frame from the previous
// second gain gp, the first gain g1 (at 90) and the second g2 (at 180).
float ContourAt(int b, float gp, float g1, float g2) {
    return b <= kFrameLength / 2 ? gp + (g1 - gp) * static_cast<float>(b) / 90.0f
                                 : g1 + (g2 - g1) * static_cast<float>(b - 90) / 90.0f;
}

void QuantiseGainsByContour(const FrameRecord &prev, FrameRecord &cur, float meanBonus) {
    const float gp = Gain2FromIndex(prev.gain2Index);
    const int nearest = NearestGain2Index(cur.gain[1]);
    float best = 3e38f;
    for (int i2 = std::max(0, nearest - 1); i2 <= std::min(kGain2Levels - 1, nearest + 1); ++i2) {
        const float g2 = Gain2FromIndex(i2);
        for (int i1 = 0; i1 <= kGain1Levels; ++i1) {
            const float g1 = Gain1FromIndex(i1, g2, gp);
            float cost = i1 == 0 ? -meanBonus : 0.0f;
            for (int k = 0; k < kContourPoints; ++k) {
                const float e = ContourAt(30 * (k + 1), gp, g1, g2) - cur.contour[k];
                cost += (k == kContourPoints - 1 ? 2.0f : 1.0f) * e * e;
            }
            if (cost < best) {
                best = cost;
                cur.gain2Index = i2;
                cur.gain1Index = i1;
            }
        }
    }
}

void QuantiseGains(const FrameRecord &prev, FrameRecord &cur, const EncoderTuning &tuning) {
    if (tuning.gainContour) {
        QuantiseGainsByContour(prev, cur, tuning.contourMeanBonus);
        return;
    }
    const bool nearestGain1 = tuning.nearestGain1;
    cur.gain2Index = NearestGain2Index(cur.gain[1]);
    const float g2 = Gain2FromIndex(cur.gain2Index);
    const float gp = Gain2FromIndex(prev.gain2Index);
    const float g1 = std::clamp(cur.gain[0], kGain1Min, kGain1Max);
    if (nearestGain1) {
        int best = 0;
        for (int i = 1; i <= kGain1Levels; ++i) {
            if (std::fabs(Gain1FromIndex(i, g2, gp) - g1) < std::fabs(Gain1FromIndex(best, g2, gp) - g1)) {
                best = i;
            }
        }
        cur.gain1Index = best;
        return;
    }
    if (std::fabs(g2 - gp) < 5.0f && std::fabs(g1 - 0.5f * (g2 + gp)) <= 3.0f) {
        cur.gain1Index = 0;
        return;
    }
    float lo, hi;
    Gain1Range(g2, gp, lo, hi);
    const float level = (g1 - lo) / (hi - lo) * static_cast<float>(kGain1Levels - 1);
    cur.gain1Index = std::clamp(static_cast<int>(std::lround(level)), 0, kGain1Levels - 1) + 1;
}

} // namespace

int CandidateClass(const FrameRecord &prev, const FrameRecord &cur) {
    const int p = prev.frameClass;
    if (!cur.active) {
        const bool previousInactive = p == kClassLowLevel || p == kClassRepeat;
        return previousInactive && std::abs(cur.gain2Index - prev.gain2Index) <= 1 ? kClassRepeat : kClassLowLevel;
    }
    const int gainStep = cur.gain2Index - prev.gain2Index;
    if (!IsVoiced(cur)) {
        // Class 3 sends the second-gain step in 4 bits as step + 8: a larger
        // jump (a fricative onset) is sent whole rather than cut short.
        const bool continues = (p == kClassUnvoiced || p == kClassUnvoicedContinued) && gainStep >= -8 && gainStep <= 7;
        return continues ? kClassUnvoicedContinued : kClassUnvoiced;
    }
    const int pitchStep = cur.pitchIndex - prev.pitchIndex;
    // The second-gain difference travels in 3 bits as step + 2: beyond -2..+5
    // the frame is sent whole.
    const bool continues = (p == kClassVoiced || p == kClassVoicedContinued) && cur.gain1Index == 0 &&
                           cur.pattern >= 8 && pitchStep >= -5 && pitchStep <= 4 && gainStep >= -2 && gainStep <= 5;
    return continues ? kClassVoicedContinued : kClassVoiced;
}

float EnvelopeDistance(const float *lsfA, const float *lsfB) {
    float a[kEnvelopeBins];
    float b[kEnvelopeBins];
    LogEnvelope(lsfA, a);
    LogEnvelope(lsfB, b);
    float sum = 0.0f;
    for (int k = 0; k < kEnvelopeBins; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return sum / kEnvelopeBins;
}

float WeightedDistance(const float *a, const float *b, const float *w) {
    float e = 0.0f;
    for (int k = 0; k < kOrder; ++k) e += w[k] * (a[k] - b[k]) * (a[k] - b[k]);
    return e;
}

void QuantiseFrame(const LsfCodebook &codebook, const FrameRecord &prev, FrameRecord &cur, FrameFields &fields,
                   QuantiserTrace *trace, const EncoderTuning &tuning) {
    // 1-4.
    QuantiseVoicing(cur);
    const bool voiced = IsVoiced(cur);
    if (voiced) {
        cur.pitchIndex = NearestPitchIndex(cur.pitch);
    } else {
        cur.pitchIndex = kUnvoicedPitchIndex;
        cur.pitch = kUnvoicedPitch;
    }
    cur.jitterIndex = voiced && cur.jitter >= 0.125f ? 1 : 0;
    QuantiseGains(prev, cur, tuning);

    // The class, and the LSF with the fall-backs of the difference classes.
    const int candidate = CandidateClass(prev, cur);
    float weights[kOrder];
    dsp::LspWeights(cur.lsf, kOrder, kLsfWeightExponent, weights);
    const int absoluteClass = candidate - candidate % 2;
    const LsfChoice absolute = SearchLsf(codebook, absoluteClass, cur.lsf, weights, prev.quantisedLsf);
    int frameClass = candidate;
    LsfChoice chosen = absolute;
    float differenceError = 0.0f;
    if (candidate == kClassVoicedContinued || candidate == kClassUnvoicedContinued) {
        const LsfChoice difference = SearchLsf(codebook, candidate, cur.lsf, weights, prev.quantisedLsf);
        differenceError = difference.error;
        const float limit = candidate == kClassVoicedContinued ? tuning.class1Fallback : tuning.class3Fallback;
        if (difference.error > limit * absolute.error) {
            frameClass = absoluteClass;
        } else {
            chosen = difference;
        }
    } else if (candidate == kClassRepeat) {
        differenceError = WeightedDistance(cur.lsf, prev.quantisedLsf, weights);
        if (tuning.class5Margin * absolute.error < differenceError) frameClass = kClassLowLevel;
    }

    // The tuned encoder's choice among the chosen class's finalists.
    if (tuning.lsfFinalists > 1 && kLsfLayouts[frameClass].stageCount > 0) {
        chosen = NearestEnvelope(codebook, frameClass, cur.lsf, weights, prev.quantisedLsf, tuning.lsfFinalists,
                                 tuning.envelopePeakWeight);
    }

    // Fields and difference codes.
    fields = FrameFields{};
    fields.frameClass = frameClass;
    uint16_t *f = fields.value;
    const LsfLayout &layout = kLsfLayouts[frameClass];
    for (int s = 0; s < layout.stageCount; ++s) {
        f[kFieldLsf + layout.firstStage + s] = static_cast<uint16_t>(chosen.indices[s]);
    }
    switch (frameClass) {
    case kClassVoiced:
        f[kFieldPitch] = static_cast<uint16_t>(cur.pitchIndex);
        f[kFieldJitter] = static_cast<uint16_t>(cur.jitterIndex);
        f[kFieldPattern] = static_cast<uint16_t>(cur.pattern);
        f[kFieldGain1] = static_cast<uint16_t>(cur.gain1Index);
        f[kFieldGain2] = static_cast<uint16_t>(cur.gain2Index);
        break;
    case kClassVoicedContinued: {
        const int step = std::clamp(cur.pitchIndex - prev.pitchIndex, -4, 3);
        cur.pitchIndex = prev.pitchIndex + step;
        f[kFieldPitch] = static_cast<uint16_t>(step + 4);
        f[kFieldJitter] = static_cast<uint16_t>(cur.jitterIndex);
        f[kFieldPattern] = static_cast<uint16_t>(cur.pattern - 8);
        f[kFieldGain2] = static_cast<uint16_t>(cur.gain2Index - prev.gain2Index + 2);
        break;
    }
    case kClassUnvoiced:
        f[kFieldGain1] = static_cast<uint16_t>(cur.gain1Index);
        f[kFieldGain2] = static_cast<uint16_t>(cur.gain2Index);
        break;
    case kClassUnvoicedContinued: {
        // The class decision keeps the step inside the field already.
        const int step = std::clamp(cur.gain2Index - prev.gain2Index, -8, 7);
        cur.gain2Index = prev.gain2Index + step;
        cur.gain1Index = 0;
        f[kFieldGain2] = static_cast<uint16_t>(step + 8);
        break;
    }
    case kClassLowLevel:
        cur.gain1Index = 0;
        f[kFieldGain2] = static_cast<uint16_t>(cur.gain2Index);
        break;
    default: // repeat
        cur.gain1Index = 0;
        cur.gain2Index = prev.gain2Index;
        break;
    }
    if (!voiced) cur.jitterIndex = 0;
    cur.frameClass = frameClass;
    RebuildLsf(fields, codebook, prev.quantisedLsf, cur.quantisedLsf);

    if (trace != nullptr) {
        std::copy(cur.lsf, cur.lsf + kOrder, trace->target);
        std::copy(weights, weights + kOrder, trace->weights);
        std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, trace->previousLsf);
        trace->candidateClass = candidate;
        trace->frameClass = frameClass;
        trace->absoluteError = absolute.error;
        trace->differenceError = differenceError;
    }
}

} // namespace vntr::vt15
