#include "pitch_search.hpp"

namespace vntr::vt120 {

int ClampPitchCentre(int centre) {
    return centre < kMinLag + 1 ? kMinLag + 1 : (centre > kMaxLag - 1 ? kMaxLag - 1 : centre);
}

PitchChoice SearchPitch(const float *history, const float *h, const float *target, int centre,
                        const dsp::PredictorCodebook &codebook) {
    PitchChoice choice{};
    const int first = ClampPitchCentre(centre) - 1;
    float scores[kPitchCandidates][dsp::kPredictorEntries];
    for (int c = 0; c < kPitchCandidates; ++c) {
        float u[kAdaptiveLength];
        dsp::BuildExtendedVector(history + kExcitationHistory, first + c, kSubframeLength, u);
        float views[dsp::kPredictorTaps][dsp::kPredictorMaxLength];
        choice.statistics[c] = dsp::FilterPredictorViews(u, h, target, kSubframeLength, views);
        dsp::PredictorScores(choice.statistics[c], codebook, scores[c]);
    }
    float best = -3e38f;
    for (int e = 0; e < dsp::kPredictorEntries; ++e) {
        for (int c = 0; c < kPitchCandidates; ++c) {
            if (scores[c][e] > best) {
                best = scores[c][e];
                choice.entry = e;
                choice.candidate = c;
            }
        }
    }
    choice.lag = first + choice.candidate;
    return choice;
}

} // namespace vntr::vt120
