#include "pulse_search.hpp"

#include <vntr/dsp/pulses.hpp>

namespace vntr::vt120 {
namespace {

constexpr int kLength = kSubframeLength;
constexpr int kTrack = kLength / kPulses; // positions per track

// Phi(i, j) = sum_{m >= max(i, j)} h(m - i) h(m - j), with the signs of both
// positions folded in.  For i <= j it is R_{j-i}(31 - j), R_k(L) =
// sum_{t<=L} h(t) h(t + k), so every diagonal is one running sum.
struct PulseCorrelations {
    float phi[kLength][kLength];

    PulseCorrelations(const float *h, const float *sign) {
        for (int k = 0; k < kLength; ++k) {
            float sum = 0.0f;
            for (int j = kLength - 1; j >= k; --j) {
                const int t = kLength - 1 - j;
                sum += h[t] * h[t + k];
                const int i = j - k;
                phi[i][j] = phi[j][i] = sum * sign[i] * sign[j];
            }
        }
    }
};

} // namespace

PulseChoice SearchPulses(const float *target, const float *h) {
    float d[kLength];
    dsp::BackwardFilter(target, h, kLength, d);
    float sign[kLength];
    for (int n = 0; n < kLength; ++n) {
        sign[n] = d[n] >= 0.0f ? 1.0f : -1.0f;
        d[n] *= sign[n];
    }
    const PulseCorrelations corr(h, sign);

    // The sets in the order of their codes k0, m1, m2, m3: pulse 0 at 4 k0,
    // pulse j at (previous + 1 + 4 m_j) mod 32, which is place
    // (place of the pulse before + m_j) mod 8 of track j (place t of track j
    // is sample 4 t + j).
    float bestC2 = 0.0f;
    float bestE = 1.0f;
    int bestCode[kPulses] = {0, 0, 0, 0};
    for (int k0 = 0; k0 < kTrack; ++k0) {
        const int p0 = 4 * k0;
        const float c0 = d[p0];
        const float e0 = corr.phi[p0][p0];
        for (int m1 = 0; m1 < kTrack; ++m1) {
            const int t1 = (k0 + m1) & (kTrack - 1);
            const int p1 = 4 * t1 + 1;
            const float c1 = c0 + d[p1];
            const float e1 = e0 + corr.phi[p1][p1] + 2.0f * corr.phi[p0][p1];
            for (int m2 = 0; m2 < kTrack; ++m2) {
                const int t2 = (t1 + m2) & (kTrack - 1);
                const int p2 = 4 * t2 + 2;
                const float c2 = c1 + d[p2];
                const float e2 = e1 + corr.phi[p2][p2] + 2.0f * (corr.phi[p0][p2] + corr.phi[p1][p2]);
                // The last pulse's eight places at once, in place order.
                float c3[kTrack];
                float e3[kTrack];
                for (int t = 0; t < kTrack; ++t) {
                    const int p3 = 4 * t + 3;
                    c3[t] = c2 + d[p3];
                    e3[t] = e2 + corr.phi[p3][p3] + 2.0f * (corr.phi[p0][p3] + corr.phi[p1][p3] + corr.phi[p2][p3]);
                }
                for (int m3 = 0; m3 < kTrack; ++m3) {
                    const int t = (t2 + m3) & (kTrack - 1);
                    if (c3[t] * c3[t] * bestE > bestC2 * e3[t]) {
                        bestC2 = c3[t] * c3[t];
                        bestE = e3[t];
                        bestCode[0] = k0;
                        bestCode[1] = m1;
                        bestCode[2] = m2;
                        bestCode[3] = m3;
                    }
                }
            }
        }
    }

    PulseChoice choice{};
    for (int j = 0; j < kPulses; ++j) choice.positionWord |= bestCode[j] << (3 * j);
    int place = bestCode[0];
    for (int j = 0; j < kPulses; ++j) {
        if (j > 0) place = (place + bestCode[j]) & (kTrack - 1);
        const int at = 4 * place + j;
        choice.position[j] = at;
        choice.sign[j] = sign[at];
        if (sign[at] > 0.0f) choice.signs |= 1 << j;
    }
    return choice;
}

void FilterPulses(const PulseChoice &choice, const float *h, float *z) {
    for (int n = 0; n < kLength; ++n) z[n] = 0.0f;
    for (int j = 0; j < kPulses; ++j) {
        const int at = choice.position[j];
        for (int n = at; n < kLength; ++n) z[n] += choice.sign[j] * h[n - at];
    }
}

} // namespace vntr::vt120
