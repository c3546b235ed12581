#include "encoder.hpp"

#include "parameters.hpp"
#include "smoothing.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vntr::vt15 {
namespace {

void Unvoice(FrameRecord &r) {
    for (float &v : r.voicing) v = 0.0f;
    r.pitch = kUnvoicedPitch;
}

int PackCurrent(EncoderState &state, uint8_t *out) {
    FrameFields fields;
    QuantiseFrame(*state.codebook, state.previous, state.current, fields, &state.trace, state.tuning);
    return PackFrame(state.remainder, fields, out);
}

// The levels every 30 samples from the previous analysis centre, over the
// smallest multiple of the pitch (when voiced) not shorter than `window`.
void MeasureContour(const float *speech, float pitch, const EncoderTuning &tuning, float *contour) {
    float length = tuning.contourWindow;
    if (pitch > 0.0f) length = std::ceil(length / pitch) * pitch;
    const int n = std::min(static_cast<int>(std::lround(length)), 160);
    const int lead = static_cast<int>(std::lround(0.5f * tuning.contourLead * (pitch > 0.0f ? pitch : kUnvoicedPitch)));
    for (int k = 0; k < kContourPoints; ++k) {
        // Held inside the history whatever the lead.
        const int centre =
            std::clamp(kAnalysisCentre - kFrameLength + 30 * (k + 1) + lead, n / 2, kHistory - (n + 1) / 2);
        contour[k] = LevelAt(speech, centre, n);
    }
}

// Octave distance between two pitches, at most one octave.
float OctaveDistance(float a, float b) {
    return std::min(std::fabs(std::log2(a / b)), 1.0f);
}

// The tracker's choice for a voiced `current`: the candidate of least
// (1 - strength) + continuity * (distance to the previous pitch + the least
// cost of a candidate of the next frame reached from it).
void TrackPitch(const EncoderTuning &tuning, const FrameRecord &previous, FrameRecord &current,
                const FrameRecord &next) {
    if (!current.active || !IsVoiced(current) || current.candidateCount == 0) return;
    const bool fromPrevious = previous.active && IsVoiced(previous);
    const bool toNext = next.active && IsVoiced(next) && next.candidateCount > 0;
    const float w = tuning.pitchContinuity;
    int best = 0;
    float bestCost = 3e38f;
    for (int i = 0; i < current.candidateCount; ++i) {
        const PitchCandidate &c = current.candidates[i];
        float cost = 1.0f - c.strength - (i == 0 ? tuning.describedBonus : 0.0f);
        if (fromPrevious) cost += w * OctaveDistance(c.pitch, previous.pitch);
        if (toNext) {
            float ahead = 3e38f;
            for (int j = 0; j < next.candidateCount; ++j) {
                const PitchCandidate &n = next.candidates[j];
                ahead = std::min(ahead, 1.0f - n.strength + w * OctaveDistance(c.pitch, n.pitch));
            }
            cost += ahead;
        }
        if (cost < bestCost) {
            bestCost = cost;
            best = i;
        }
    }
    const PitchCandidate &chosen = current.candidates[best];
    current.pitch = chosen.pitch;
    current.gain[0] = chosen.gain[0];
    current.gain[1] = chosen.gain[1];
    // The records are made yes-or-no once the smoothing has seen them as `next`.
    for (int b = 1; b < kBands; ++b) current.voicing[b] = chosen.voicing[b] > 0.6f ? 1.0f : 0.0f;
}

} // namespace

void InitEncoder(EncoderState &state, const EncoderTuning &tuning) {
    state = EncoderState{};
    state.tuning = tuning;
    state.codebook = &DefaultLsfCodebook();
    InitRecord(state.previous);
    InitRecord(state.current);
    InitRecord(state.next);
    InitInputFilters(state.filters);
    HammingWindow(state.window);
    InitVad(state.vad);
    InitPitchAverage(state.pitchAverage);
    state.hangover = kHangoverFrames;
}

bool ApplyHangover(int &counter, bool detected, const FrameRecord &previous, FrameRecord &current) {
    if (detected) {
        counter = 0;
        return true;
    }
    if (current.active && !previous.active) {
        current.active = false;
        Unvoice(current);
        counter = kHangoverFrames;
    } else if (counter < kHangoverFrames) {
        ++counter;
    }
    return counter < kHangoverFrames;
}

void AnalyseNewestFrame(EncoderState &state) {
    FrameRecord &next = state.next;
    const SignalHistory &h = state.history;
    const float previousIntegerPitch = state.current.integerPitch;
    InitRecord(next);

    SpectralAnalysis spectrum;
    AnalyseSpectrum(h.speech, state.window, spectrum);
    if (state.tuning.DescribedAnalysis()) {
        std::copy(spectrum.lsf, spectrum.lsf + kOrder, next.lsf);
    } else {
        SpectralAnalysis tuned;
        AnalyseSpectrum(h.speech, state.window, state.tuning.lagWindowHz, state.tuning.noiseCorrection,
                        state.tuning.bandwidthExpansion, tuned);
        std::copy(tuned.lsf, tuned.lsf + kOrder, next.lsf);
    }

    const VadFeatures features = VadMeasure(state.vad, spectrum.windowed, spectrum.autocorrelation, spectrum.lsf);
    bool active = VadDecide(state.vad, features);

    if (!state.analysedFrame) {
        // The very first frame only fills the history: inactive, at rest.
        state.analysedFrame = true;
        InitRecord(next);
        next.averagePitch = AveragePitch(state.pitchAverage);
        return;
    }

    active = ApplyHangover(state.hangover, active, state.previous, state.current);
    next.active = active;

    next.gain[0] = MeasureGain(h.speech, kFirstGainCentre, 0.0f);
    next.gain[1] = MeasureGain(h.speech, kAnalysisCentre, 0.0f);
    if (state.tuning.gainContour) MeasureContour(h.speech, 0.0f, state.tuning, next.contour);
    if (!active) {
        next.averagePitch = AveragePitch(state.pitchAverage);
        return;
    }

    const PitchVoicing pv = AnalysePitch(h, previousIntegerPitch, AveragePitch(state.pitchAverage));
    next.integerPitch = pv.integerPitch;
    next.pitch = pv.pitch;
    next.pitchStrength = pv.strength;
    std::copy(pv.voicing, pv.voicing + kBands, next.voicing);
    const EncoderTuning &tuning = state.tuning;
    if (tuning.voicingReach > 0.0f) BandVoicing(h, next.pitch, tuning.voicingReach, next.voicing);
    for (float &v : next.voicing) v += tuning.voicingBias;

    next.jitter = next.voicing[0] < tuning.jitterBelow ? 0.25f : 0.0f;
    const float peakiness = ResidualPeakiness(h.speech, spectrum.lpc);
    if (peakiness > 1.34f) next.voicing[0] = 1.0f;
    if (peakiness > 1.6f) next.voicing[1] = next.voicing[2] = 1.0f;
    if (next.voicing[0] > 0.6f) {
        next.gain[0] = MeasureGain(h.speech, kFirstGainCentre, next.pitch);
        next.gain[1] = MeasureGain(h.speech, kAnalysisCentre, next.pitch);
        if (tuning.gainContour) MeasureContour(h.speech, next.pitch, tuning, next.contour);
    }
    if (tuning.pitchContinuity > 0.0f) {
        next.candidateCount =
            PitchCandidates(h, next.pitch, tuning.voicingReach, tuning.pitchCandidates, next.candidates);
        for (int i = 0; i < next.candidateCount; ++i) {
            float *v = next.candidates[i].voicing;
            for (int b = 1; b < kBands; ++b) v[b] += tuning.voicingBias;
            if (peakiness > 1.6f) v[1] = v[2] = 1.0f;
            float *g = next.candidates[i].gain;
            g[0] = next.gain[0];
            g[1] = next.gain[1];
            if (tuning.candidateGains && next.voicing[0] > 0.6f) {
                g[0] = MeasureGain(h.speech, kFirstGainCentre, next.candidates[i].pitch);
                g[1] = MeasureGain(h.speech, kAnalysisCentre, next.candidates[i].pitch);
            }
        }
    }
    UpdatePitchAverage(state.pitchAverage, next.pitch, next.pitchStrength, next.gain[1]);
    next.averagePitch = AveragePitch(state.pitchAverage);
}

int EncodeFrame(EncoderState &state, const float *pcm, uint8_t *out) {
    PushFrame(state.filters, state.history, pcm);
    AnalyseNewestFrame(state);
    if (state.tuning.pitchContinuity > 0.0f) TrackPitch(state.tuning, state.previous, state.current, state.next);
    SmoothRecords(state.previous, state.current, state.next,
                  state.tuning.pitchContinuity == 0.0f || state.tuning.smoothPitch);
    const int written = PackCurrent(state, out);
    state.previous = state.current;
    state.current = state.next;
    return written;
}

int FlushEncoder(EncoderState &state, uint8_t *out) {
    int written = PackCurrent(state, out);
    written += FlushRemainder(state.remainder, out + written);
    state.previous = state.current;
    return written;
}

} // namespace vntr::vt15
