#include "pitch_search.hpp"

#include "pitch_scores.hpp"
#include "pitch_views.hpp"

namespace vntr::vt120 {

int ClampPitchCentre(int centre) {
    return centre < kMinLag + 1 ? kMinLag + 1 : (centre > kMaxLag - 1 ? kMaxLag - 1 : centre);
}

PredictorPair BestPredictorPair(const dsp::PredictorStatistics *stats, const dsp::PredictorCodebook &codebook,
                                Simd simd) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) return avx2::BestPredictorPair(stats, codebook);
#else
    (void)simd;
#endif
    float scores[kPitchCandidates][dsp::kPredictorEntries];
    for (int c = 0; c < kPitchCandidates; ++c) dsp::PredictorScores(stats[c], codebook, scores[c]);
    PredictorPair pair{0, 0};
    float best = -3e38f;
    for (int e = 0; e < dsp::kPredictorEntries; ++e) {
        for (int c = 0; c < kPitchCandidates; ++c) {
            if (scores[c][e] > best) {
                best = scores[c][e];
                pair = {e, c};
            }
        }
    }
    return pair;
}

PitchChoice SearchPitch(const float *history, const float *h, const float *target, int centre,
                        const dsp::PredictorCodebook &codebook, Simd simd) {
    PitchChoice choice{};
    const int first = ClampPitchCentre(centre) - 1;
    CandidateStatistics(history, h, target, first, choice.statistics, simd);
    const PredictorPair pair = BestPredictorPair(choice.statistics, codebook, simd);
    choice.entry = pair.entry;
    choice.candidate = pair.candidate;
    choice.lag = first + choice.candidate;
    return choice;
}

} // namespace vntr::vt120
