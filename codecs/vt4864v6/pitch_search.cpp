#include "pitch_search.hpp"

#include "bitstream.hpp"
#include "excitation.hpp"

#include <vntr/dsp/vector.hpp>

#include <cmath>

namespace vntr::vt4864v6 {

void InputFilter(InputFilterState &state, float *x, int length) {
    float previousInput = state.previousInput;
    float previousOutput = state.previousOutput;
    for (int n = 0; n < length; ++n) {
        const float scaled = 0.87f * x[n];
        const float y = scaled - previousInput + 0.98f * previousOutput;
        previousInput = scaled;
        previousOutput = y;
        x[n] = y;
    }
    state.previousInput = previousInput;
    state.previousOutput = previousOutput;
}

int OpenLoopPitch(const float *cur, int length) {
    return dsp::OpenLoopPitch(cur, length, kMinLag, kOpenLoopMaxLag);
}

int DifferentialLagSearch(const float *past, const float *target, int length, int reference) {
    const int centre = DifferentialCentre(reference);
    int bestLag = centre;
    double bestScore = 0.0;
    bool found = false;
    float v[kMaxSubframeLength + 4];
    for (int t = centre - 8; t <= centre + 7; ++t) {
        BuildExtendedVector(past, t, length, v);
        const float k = dsp::Dot(target, v, length);
        const float e = dsp::Dot(v, v, length);
        if (k == 0.0f || e <= 0.0f) continue;
        const double score = static_cast<double>(k) * k / e;
        if (!found || score > bestScore) {
            found = true;
            bestScore = score;
            bestLag = t;
        }
    }
    if (bestLag == centre - 8) bestLag = centre - 7;
    if (bestLag == centre + 7) bestLag = centre + 6;
    return bestLag;
}

int SearchPredictor(const PredictorStatistics &stats) {
    return dsp::SearchPredictor(stats, kPredictorCodebook);
}

} // namespace vntr::vt4864v6
