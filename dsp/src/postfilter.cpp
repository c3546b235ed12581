#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/postfilter.hpp>
#include <vntr/dsp/vector.hpp>

#include <cmath>
#include <cstring>

namespace vntr::dsp {

void ResetPostFilter(PostFilterState &state) {
    std::memset(&state, 0, sizeof state);
    state.gain = 1.0f;
}

namespace {

struct Candidate {
    double k; // correlation with the sub-frame
    double e; // energy of the delayed signal
};

// a replaces b when its normalised correlation K^2/E is larger.
bool Better(const Candidate &a, const Candidate &b) { return a.k * a.k * b.e > b.k * b.k * a.e; }

// Correlations and energies are summed and compared in double: two candidates
// often score within a few parts per million of each other, and single
// precision summed in another order would choose the other one (a step or two
// of output, tens where the filtered speech is loud).  In double even a
// damaged stream's levels cannot overflow.
Candidate Score(const float *r, const float *y, int length) {
    const double k = DotDouble(r, y, length);
    return {k > 0.0 ? k : 0.0, DotDouble(y, y, length)};
}

// y(n) = sum_j c(j) r(n - t + 1 - j), n = 0..length (one sample more than the sub-frame).
void FourTapDelay(const float *r, int t, const float *c, int length, float *y) {
    for (int n = 0; n <= length; ++n) {
        const float *x = r + n - t + 1;
        y[n] = c[0] * x[0] + c[1] * x[-1] + c[2] * x[-2] + c[3] * x[-3];
    }
}

// y(n) = sum_j h(j) r(n - lag + 8 - j), n = 0..length-1.
void SixteenTapDelay(const float *r, int lag, const float *h, int length, float *y) {
    for (int n = 0; n < length; ++n) {
        const float *x = r + n - lag + 8;
        float acc = 0.0f;
        for (int j = 0; j < 16; ++j) acc += h[j] * x[-j];
        y[n] = acc;
    }
}

bool PassesGate(const Candidate &best, double energy, PitchGateEdges edges) {
    if (best.k == 0.0) return false;
    if (edges == PitchGateEdges::EnergyInclusive) return !(best.e < 0.1) && best.k * best.k > 0.5 * energy * best.e;
    return best.e > 0.1 && best.k * best.k >= 0.5 * energy * best.e;
}

} // namespace

void PitchPostFilter(const float *r, int lag, int length, const PostFilterConfig &config, float *out) {
    const double energy = DotDouble(r, r, length);
    std::memcpy(out, r, sizeof(float) * length);
    if (energy < 0.1) return;

    int t = lag - 1;
    double bestC = -1e300;
    for (int d = lag - 1; d <= lag + 1; ++d) {
        const double c = DotDouble(r, r - d, length);
        if (c > bestC) {
            bestC = c;
            t = d;
        }
    }
    const double delayedEnergy = DotDouble(r - t, r - t, length);
    if (bestC <= 0.0 || delayedEnergy < 0.1) return;

    Candidate best{bestC, delayedEnergy};
    int bestPhase = 0;
    int bestShift = 0;
    float y[kPostMaxSubframe + 1];
    float chosen[kPostMaxSubframe];
    for (int n = 0; n < length; ++n) chosen[n] = r[n - t];
    for (int phase = 1; phase <= 7; ++phase) {
        FourTapDelay(r, t, config.delays.four[phase - 1], length, y);
        for (int shift = 0; shift <= 1; ++shift) {
            const Candidate c = Score(r, y + shift, length);
            if (Better(c, best)) {
                best = c;
                bestPhase = phase;
                bestShift = shift;
                std::memcpy(chosen, y + shift, sizeof(float) * length);
            }
        }
    }
    if (!PassesGate(best, energy, config.gate)) return;

    if (bestPhase != 0) {
        // The longer filter replaces the 4-tap version when it matches better.
        float fine[kPostMaxSubframe];
        SixteenTapDelay(r, t - bestShift + 1, config.delays.sixteen[bestPhase - 1], length, fine);
        const Candidate c = Score(r, fine, length);
        if (c.e != 0.0 && Better(c, best)) {
            best = c;
            std::memcpy(chosen, fine, sizeof(float) * length);
        }
    }

    float weightSelf;
    float weightDelayed;
    if (best.k > best.e) {
        weightSelf = 0.6666667f;
        weightDelayed = 1.0f - 0.6666667f;
    } else {
        const float g = static_cast<float>(best.k / best.e);
        weightSelf = 1.0f / (1.0f + 0.5f * g);
        weightDelayed = 0.5f * g / (1.0f + 0.5f * g);
    }
    for (int n = 0; n < length; ++n) out[n] = r[n] * weightSelf + chosen[n] * weightDelayed;
}

void PostFilterSubframe(PostFilterState &state, const float *speech, int lag, const float *lpc, int length,
                        const PostFilterConfig &config, float *out) {
    float s[kPostOrder + kPostMaxSubframe];
    std::memcpy(s, state.speech, sizeof state.speech);
    std::memcpy(s + kPostOrder, speech, sizeof(float) * length);
    float r[kPostResidualHistory + kPostMaxSubframe];
    std::memcpy(r, state.residual, sizeof state.residual);
    float y[kPostOrder + kPostMaxSubframe];
    std::memcpy(y, state.formant, sizeof state.formant);

    const float *sub = s + kPostOrder;
    float num[kPostOrder];
    float den[kPostOrder];
    BandwidthExpand(lpc, kPostOrder, 0.55f, num);
    BandwidthExpand(lpc, kPostOrder, 0.7f, den);

    float *residual = r + kPostResidualHistory;
    FirFilter(sub, num, kPostOrder, residual, length);

    float pitched[kPostMaxSubframe];
    PitchPostFilter(residual, lag, length, config, pitched);

    // Tilt and gain normalisation from the formant filter's impulse response.
    const int responseLength = config.tiltResponseLength;
    float h[kPostMaxTiltResponse];
    PoleZeroImpulseResponse(num, den, kPostOrder, h, responseLength);
    float r0 = 0.0f;
    float r1 = 0.0f;
    float sumAbs = 0.0f;
    for (int n = 0; n < responseLength; ++n) {
        r0 += h[n] * h[n];
        sumAbs += std::fabs(h[n]);
        if (n + 1 < responseLength) r1 += h[n] * h[n + 1];
    }
    const float tilt = (r0 != 0.0f && std::fabs(r1) <= r0) ? -r1 / r0 : 0.0f;
    if (sumAbs > 1.0f) {
        for (int n = 0; n < length; ++n) pitched[n] /= sumAbs;
    }

    float *formant = y + kPostOrder;
    AllPoleFilter(pitched, den, kPostOrder, formant, length);

    const float mu = tilt <= 0.0f ? 0.9f * tilt : 0.2f * tilt;
    const float scale = 1.0f / (1.0f - std::fabs(mu));
    float previous = formant[-1];
    for (int n = 0; n < length; ++n) {
        out[n] = (formant[n] + mu * previous) * scale;
        previous = formant[n];
    }

    // Automatic gain control against the unfiltered synthesis: silence lets
    // the gain decay, an output silenced by the filters resets it.
    float sumS = 0.0f;
    float sumZ = 0.0f;
    for (int n = 0; n < length; ++n) {
        sumS += std::fabs(sub[n]);
        sumZ += std::fabs(out[n]);
    }
    float g = 0.0f;
    bool scaleSubframe = true;
    if (sumS > 0.0f && sumZ > 0.0f) {
        g = 0.0125f * sumS / sumZ;
    } else if (sumS > 0.0f) {
        state.gain = 0.0f;
        scaleSubframe = false;
    }
    if (scaleSubframe) {
        for (int n = 0; n < length; ++n) {
            state.gain = 0.9875f * state.gain + g;
            out[n] *= state.gain;
        }
    }

    std::memcpy(state.residual, r + length, sizeof state.residual);
    std::memcpy(state.formant, y + length, sizeof state.formant);
    std::memcpy(state.speech, s + length, sizeof state.speech);
}

} // namespace vntr::dsp
