#include "analysis.hpp"

#include "kernels.hpp"

#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/vector.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vntr::vt48 {

namespace {

// The input filter: a first-order DC blocker, 0.5 (1 - z^-1) / (1 - 0.94 z^-1),
// 3 dB down at about 80 Hz from its gain of 0.52 (-5.8 dB) above 1 kHz, plus
// a small constant: a silent input's output settles at 0.001 / 0.06, not 0.
constexpr float kHighPassGain = 0.5f;
constexpr float kHighPassPole = 0.94f;
constexpr float kHighPassOffset = 0.001f;

// A frame is quiet when the mean magnitude of its 220 analysis samples lies
// below this (16-bit scale, about -53 dB below full scale): the fixed-codebook
// search then leaves the pulse train out.
constexpr float kQuietMeanMagnitude = 69.0f;

} // namespace

void HighPass(HighPassState &state, float *x, int length) {
    float previousIn = state.input;
    float previousOut = state.output;
    for (int n = 0; n < length; ++n) {
        const float in = x[n];
        const float out = kHighPassGain * (in - previousIn) + kHighPassPole * previousOut + kHighPassOffset;
        previousIn = in;
        previousOut = out;
        x[n] = out;
    }
    state.input = previousIn;
    state.output = previousOut;
}

bool IsQuiet(const float *speech) {
    constexpr int kSpan = 220;
    float sum = 0.0f;
    for (int n = 0; n < kSpan; ++n) sum += std::fabs(speech[n]);
    return sum / kSpan < kQuietMeanMagnitude;
}

namespace {

constexpr int kPitchSignal = 380; // 160 previous + 220 current samples
constexpr int kRefineFrom = 150;  // the refinement window, 81 samples
constexpr int kRefineLength = 81;
constexpr int kNearPrevious = 17; // |lag - previous lag| below this counts as near

// The lag in [lo, hi] maximising sum_{n < span - L} w[at + n] w[at + n + L],
// tried from the largest down; a tie keeps the larger lag.
int LongestBestCorrelation(const float *w, int at, int span, int lo, int hi, Simd simd) {
    // Every lag's correlation first, several neighbouring lags per pass.
    constexpr int kMostLags = kMaxLag + 1;
    float correlation[kMostLags];
    CrossCorrelations(w + at, w + at + lo, span - lo, hi - lo + 1, correlation, simd);
    int best = hi;
    float bestValue = 0.0f;
    for (int lag = hi; lag >= lo; --lag) {
        const float c = correlation[lag - lo];
        if (lag == hi || c > bestValue) {
            best = lag;
            bestValue = c;
        }
    }
    return best;
}

int Refine(const float *w, int centre, float *score, Simd simd) {
    int best = centre - 2;
    float bestScore = RefinementScore(w, best, simd);
    for (int lag = centre - 1; lag <= centre + 2; ++lag) {
        const float s = RefinementScore(w, lag, simd);
        if (s > bestScore) {
            best = lag;
            bestScore = s;
        }
    }
    *score = bestScore;
    return best;
}

int Distance(int a, int b) {
    return a > b ? a - b : b - a;
}

} // namespace

float RefinementScore(const float *w, int lag, Simd simd) {
    const float *now = w + kRefineFrom;
    const float *past = now - lag;
    const float *future = now + lag;
    const float *const x[4] = {now, past, now, future};
    const float *const y[4] = {past, past, future, future};
    float product[4];
    PairDots(x, y, 4, kRefineLength, product, simd);
    float score = 0.0f;
    {
        const float c = product[0];
        const float energy = product[1];
        if (c > 0.0f) score += energy >= 1.0f ? c * c / energy : c;
    }
    {
        const float c = product[2];
        const float energy = product[3];
        if (c > 0.0f && energy > 1.0f) score += c * c / energy;
    }
    return score;
}

void PitchLowPass(const float *x, float *w) {
    float state = 0.0f;
    for (int n = 0; n < kFrameLength; ++n) {
        state = x[n] + 0.9f * state;
        w[n] = state;
    }
}

int OpenLoopPitch(const float *previous, const float *current, int previousLag, int lagBefore, OpenLoopTrace *trace,
                  Simd simd) {
    float head[kFrameLength], next[kFrameLength];
    PitchLowPass(previous, head);
    return OpenLoopPitchLowPassed(head, current, previousLag, lagBefore, next, trace, simd);
}

int OpenLoopPitchLowPassed(const float *previousLowPassed, const float *current, int previousLag, int lagBefore,
                           float *nextLowPassed, OpenLoopTrace *trace, Simd simd) {
    float w[kPitchSignal];
    std::copy(previousLowPassed, previousLowPassed + kFrameLength, w);
    float state = w[kFrameLength - 1];
    float fromRest = 0.0f;
    for (int n = 0; n < kFrameLength; ++n) {
        state = current[n] + 0.9f * state;
        w[kFrameLength + n] = state;
        fromRest = current[n] + 0.9f * fromRest;
        nextLowPassed[n] = fromRest;
    }
    for (int n = kFrameLength; n < kPitchSignal - kFrameLength; ++n) {
        state = current[n] + 0.9f * state;
        w[kFrameLength + n] = state;
    }
    const int e = LongestBestCorrelation(w, 160, 160, 20, 55, simd);
    const int f = LongestBestCorrelation(w, 80, 300, 50, kMaxLag, simd);
    const int half = f / 2;
    const int third = f / 3;
    const int m =
        Distance(third, previousLag) < kNearPrevious && Distance(third, previousLag) < Distance(half, previousLag)
            ? third
            : half;

    float se, sf, sm;
    const int eRefined = Refine(w, e, &se, simd);
    const int fRefined = Refine(w, f, &sf, simd);
    const int mRefined = Refine(w, m, &sm, simd);
    if (trace != nullptr) *trace = {e, f, m, eRefined, fRefined, mRefined, se, sf, sm};

    int choice = se > sf ? eRefined : fRefined;
    float s = se > sf ? se : sf;
    if (Distance(mRefined, previousLag) < kNearPrevious) {
        if (Distance(previousLag, lagBefore) < 15) s *= 0.7f;
        const float bar = Distance(mRefined, eRefined) < 7 ? s : 0.7407f * s;
        if (sm > bar) choice = mRefined;
    }
    return choice;
}

void FillAnalysisWindow(float *window) {
    constexpr int kEdge = 45;
    for (int n = 0; n < kWindowLength; ++n) {
        const int k = n < kWindowLength / 2 ? n : kWindowLength - 1 - n;
        window[n] = k >= kEdge ? 1.0f : static_cast<float>(0.54 - 0.46 * std::cos(std::numbers::pi * k / kEdge));
    }
}

Lsf AnalyseEnvelope(const float *speech, const float *window, dsp::SchurWorkspace &work, float *predictor, Simd simd) {
    float windowed[kWindowLength];
    for (int n = 0; n < kWindowLength; ++n) windowed[n] = speech[kWindowStart + n] * window[n];
    float r[kOrder + 1];
    // dsp::Autocorrelation's lags, each the same dot product, several lags per pass.
    CrossCorrelations(windowed, windowed, kWindowLength, kOrder + 1, r, simd);
    r[0] *= 1.001f;
    float k[kOrder];
    dsp::Schur(r, kOrder, k, work);
    float a[kOrder];
    dsp::ReflectionToPredictor(k, kOrder, a);
    if (predictor != nullptr) {
        for (int i = 0; i < kOrder; ++i) predictor[i] = a[i];
    }
    Lsf lsf;
    dsp::LpcToLsp(a, kOrder, lsf.data());
    return lsf;
}

} // namespace vntr::vt48
