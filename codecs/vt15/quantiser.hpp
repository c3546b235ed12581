// Quantisation of the current frame record, the class decision with its
// fall-backs, and the difference codes.
#pragma once

#include "lsf_codebook.hpp"
#include "record.hpp"
#include "tuning.hpp"

namespace vntr::vt15 {

constexpr int kLsfSearchKeep = 16;         // candidates the multi-stage search keeps
constexpr double kLsfWeightExponent = 0.6; // weights (P^2 + Q^2)^-0.3

// What the last quantisation did, for the training and measuring tools.
struct QuantiserTrace {
    float target[kOrder];
    float weights[kOrder];
    float previousLsf[kOrder]; // the base of the difference classes
    int candidateClass;        // before the LSF fall-backs
    int frameClass;
    float absoluteError;   // weighted error of the absolute search of the candidate's kind
    float differenceError; // of the difference search (class 1 or 3), or of repeating (class 5)
};

// Weighted squared distance sum_k w_k (a_k - b_k)^2.
float WeightedDistance(const float *a, const float *b, const float *w);

// The class a quantised record asks for before the LSF fall-backs: an odd
// class only after its partner or itself, class 1 only when its pitch (-5..+4)
// and second-gain (-2..+5) differences fit and the first gain is the mean,
// class 3 only when its second-gain difference (-8..+7) fits.
int CandidateClass(const FrameRecord &prev, const FrameRecord &cur);

// Quantises `cur` after `prev` (already quantised): voicing pattern, pitch,
// jitter and gain indices, class, LSF stages and difference codes; fills
// `fields` and leaves in `cur` exactly what the decoder will rebuild.
// tuning.lsfFinalists > 1: the chosen class's LSF indices are the one of that many
// finalists of its search whose envelope lies nearest the analysed one in
// log-spectral distance (the class is still decided on the search's errors).
void QuantiseFrame(const LsfCodebook &codebook, const FrameRecord &prev, FrameRecord &cur, FrameFields &fields,
                   QuantiserTrace *trace, const EncoderTuning &tuning = {});

// The mean square difference, in dB^2, of the two envelopes 1/|A(e^jw)|^2 of
// two LSF vectors over kEnvelopeBins frequencies spread over 0..pi.
constexpr int kEnvelopeBins = 64;
float EnvelopeDistance(const float *lsfA, const float *lsfB);

} // namespace vntr::vt15
