// How hard the VT15 encoder works on the spectral envelope.  The defaults are
// the described encoder's; every setting writes frames of the same format,
// classes and bit rate rules, so the tuned encoder differs in its choices only.
#pragma once

#include "analysis.hpp"

namespace vntr::vt15 {

struct EncoderTuning {
    // The envelope the LSF quantiser codes (the voice-activity detector and
    // the peakiness measure keep the described analysis): a Gaussian lag
    // window of this width in Hz on the autocorrelation (0: none), a white
    // noise correction of r[0] by 1 + noiseCorrection, and the bandwidth
    // expansion of the LPC set.
    float lagWindowHz = 0.0f;
    float noiseCorrection = 0.0f;
    float bandwidthExpansion = kBandwidthExpansion;
    // Of the LSF search's finalists, how many are compared by the
    // log-spectral distance of their envelopes to the analysed one (1: the
    // search's own choice by weighted LSF distance).  The frame's class is
    // decided on the search's errors either way.
    int lsfFinalists = 1;
    // The class decision's LSF fall-backs: a continuation frame (class 1 or
    // 3) is sent whole when its difference search leaves more than this many
    // times the error of the whole search; an inactive frame repeats the
    // previous spectrum only while repeating costs less than class5Margin
    // times the error of coding it.  Lower values spend more bits.
    // Added to every band's voicing strength as analysed, before the
    // peakiness rule, the smoothing and the class decision read it
    // (positive: more bands and frames voiced).
    float voicingBias = 0.0f;
    float class1Fallback = 4.0f;
    float class3Fallback = 5.0f;
    float class5Margin = 4.0f;
    // The pitch tracker (0: the described pitch and its smoothing alone):
    // each active frame keeps up to pitchCandidates pitches, the peaks of
    // the low-pass's normalised correlation refined to a fraction of a
    // sample and the described pitch; a voiced frame takes the candidate of
    // least cost over three frames, (1 - strength) plus pitchContinuity
    // times the octave distance (at most one octave) to the previous
    // frame's pitch and to the best-fitting candidate of the next.  Its band
    // voicing is the one analysed at the chosen pitch.
    float pitchContinuity = 0.0f;
    int pitchCandidates = 4;
    // With the tracker: the gains measured over multiples of each candidate
    // (the chosen one's are sent), and the smoothing's own pitch corrections
    // inside and at the edges of voiced runs kept or left out.
    bool candidateGains = false;
    // Taken off the cost of the described pitch (the first candidate).
    float describedBonus = 0.0f;
    // Jitter on a voiced frame whose band-1 strength is below this (the
    // described rule: 0.5, reached only by frames the peakiness voices).
    float jitterBelow = 0.5f;
    bool smoothPitch = true;
    // Band voicing of bands 2..5: the best correlation within this many
    // samples of the pitch (0: at the pitch).
    float voicingReach = 0.0f;
    // The first gain by the nearest of all eight decoded values (the mean of
    // the second gains included) instead of the mean only within 3 dB.
    bool nearestGain1 = false;
    // Both gains chosen together (the second among its nearest index and
    // the two beside it, the first among all eight) so that the decoder's
    // level contour, straight in dB from the previous second gain through
    // the first to the second, best meets the levels measured every 30
    // samples over windows of at least contourWindow samples (a multiple of
    // the pitch when voiced); the mean first gain (index 0, which a
    // continuation frame needs) is preferred by contourMeanBonus dB^2.
    bool gainContour = false;
    float contourWindow = 60.0f;
    float contourMeanBonus = 0.0f;
    // The decoder holds each pitch period at the level of its start: the
    // levels are measured this many half periods later than the points they
    // are compared at (unvoiced: periods of 50 samples).
    float contourLead = 0.0f;
    // The LSF finalists compared by an envelope distance weighted towards
    // the spectral peaks: each bin's squared error in dB times the target
    // envelope's power to this exponent (0: unweighted).
    float envelopePeakWeight = 0.0f;

    bool DescribedAnalysis() const {
        return lagWindowHz == 0.0f && noiseCorrection == 0.0f && bandwidthExpansion == kBandwidthExpansion;
    }
};

// The tuned encoder's settings (VT15 HQ): the gains by the level contour
// and the pitch tracker with three candidates and their own gains, chosen on
// recordings of no table's training and kept because they raised the ViSQOL
// score and lowered the log-spectral distance on most held-out recordings
// (codecs/tuned/README.md).
inline EncoderTuning TunedEncoder() {
    EncoderTuning t;
    t.gainContour = true;
    t.contourMeanBonus = 16.0f;
    t.pitchContinuity = 0.05f;
    t.pitchCandidates = 3;
    t.candidateGains = true;
    return t;
}

} // namespace vntr::vt15
