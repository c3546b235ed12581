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
        // All diagonals' running sums advance together (each still summed
        // over t in order): after step t, sum[k] = R_k(t), the entry of
        // column j = 31 - t and row j - k.
        float sum[kLength] = {};
        for (int t = 0; t < kLength; ++t) {
            const int j = kLength - 1 - t;
            const float ht = h[t];
            for (int k = 0; k <= j; ++k) sum[k] += ht * h[t + k];
            float *row = phi[j];
            for (int k = 0; k <= j; ++k) row[j - k] = sum[k] * sign[j] * sign[j - k];
        }
        for (int j = 0; j < kLength; ++j) {
            for (int i = 0; i < j; ++i) phi[i][j] = phi[j][i];
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
    // is sample 4 t + j).  For each placing of pulses 0 and 1, the 64
    // placings of pulses 2 and 3 are scored side by side (by place), and
    // only when one of them beats the best are they gone through in code order.
    float d2[kTrack], d3[kTrack], self2[kTrack], self3[kTrack];
    float cross23[kTrack][kTrack]; // Phi(4 t2 + 2, 4 t3 + 3)
    for (int t = 0; t < kTrack; ++t) {
        d2[t] = d[4 * t + 2];
        d3[t] = d[4 * t + 3];
        self2[t] = corr.phi[4 * t + 2][4 * t + 2];
        self3[t] = corr.phi[4 * t + 3][4 * t + 3];
        for (int u = 0; u < kTrack; ++u) cross23[t][u] = corr.phi[4 * t + 2][4 * u + 3];
    }
    float bestC2 = 0.0f;
    float bestE = 1.0f;
    int bestCode[kPulses] = {0, 0, 0, 0};
    for (int k0 = 0; k0 < kTrack; ++k0) {
        const int p0 = 4 * k0;
        for (int m1 = 0; m1 < kTrack; ++m1) {
            const int t1 = (k0 + m1) & (kTrack - 1);
            const int p1 = 4 * t1 + 1;
            const float c1 = d[p0] + d[p1];
            const float e1 = corr.phi[p0][p0] + corr.phi[p1][p1] + 2.0f * corr.phi[p0][p1];
            // Pulses 2 and 3 on their own and against pulses 0 and 1.
            float e2[kTrack], b3[kTrack];
            for (int t = 0; t < kTrack; ++t) {
                e2[t] = e1 + self2[t] + 2.0f * (corr.phi[p0][4 * t + 2] + corr.phi[p1][4 * t + 2]);
                b3[t] = self3[t] + 2.0f * (corr.phi[p0][4 * t + 3] + corr.phi[p1][4 * t + 3]);
            }
            float c[kTrack * kTrack], e[kTrack * kTrack];
            int hits = 0;
            for (int t2 = 0; t2 < kTrack; ++t2) {
                const float c2 = c1 + d2[t2];
                const float *x = cross23[t2];
                float *cRow = c + t2 * kTrack;
                float *eRow = e + t2 * kTrack;
                for (int t3 = 0; t3 < kTrack; ++t3) {
                    cRow[t3] = c2 + d3[t3];
                    eRow[t3] = e2[t2] + (b3[t3] + 2.0f * x[t3]);
                    hits |= cRow[t3] * cRow[t3] * bestE > bestC2 * eRow[t3] ? 1 : 0;
                }
            }
            const bool any = hits != 0;
            if (!any) continue;
            for (int m2 = 0; m2 < kTrack; ++m2) {
                const int t2 = (t1 + m2) & (kTrack - 1);
                for (int m3 = 0; m3 < kTrack; ++m3) {
                    const int t3 = (t2 + m3) & (kTrack - 1);
                    const float cc = c[t2 * kTrack + t3];
                    const float ee = e[t2 * kTrack + t3];
                    if (cc * cc * bestE > bestC2 * ee) {
                        bestC2 = cc * cc;
                        bestE = ee;
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
