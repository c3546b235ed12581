#include "pulse_search.hpp"

#include "pulse_sets.hpp"

#include <vntr/dsp/pulses.hpp>

#include <cstdint>

#include <emmintrin.h>

#if !defined(__SSE2__)
#error "the pulse search is written for x86-64 (SSE2)"
#endif

namespace vntr::vt120 {
namespace {

constexpr int kLength = kSubframeLength;
constexpr int kTrack = kLength / kPulses; // places per track

// Phi(i, j) = sum_{m >= max(i, j)} h(m - i) h(m - j).  For i <= j it is
// R_{j-i}(31 - j), R_k(L) = sum_{t<=L} h(t) h(t + k), so every diagonal is
// one running sum: after step t of R's build, sum[k] = R_k(t).  The search
// reads Phi with the signs of both positions folded in; they multiply
// exactly, in whatever order.
struct RunningSums {
    float r[kLength * kLength]; // [t][k]: R_k(t), for k < 32 - t

    explicit RunningSums(const float *h) {
        float sum[kLength] = {};
        for (int t = 0; t < kLength; ++t) {
            const float ht = h[t];
            for (int k = 0; k < kLength - t; ++k) {
                sum[k] += ht * h[t + k];
                r[t * kLength + k] = sum[k];
            }
        }
    }
};

// Where Phi(i, j) stands among the running sums.
constexpr std::uint16_t SumAt(int i, int j) {
    const int lo = i < j ? i : j;
    const int hi = i < j ? j : i;
    return static_cast<std::uint16_t>((kLength - 1 - hi) * kLength + (hi - lo));
}

// The pairs of tracks the search reads, place by place: track a at place t
// against track b at place u, or (for pulses 2 and 3) at place t + u.
struct TrackPairs {
    std::uint16_t self[kPulses][kTrack];
    std::uint16_t pair[6][kTrack][kTrack]; // 01, 02, 03, 12, 13, then 23 rotated
};
constexpr int kPairTracks[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};

constexpr TrackPairs MakeTrackPairs() {
    TrackPairs p{};
    for (int t = 0; t < kTrack; ++t) {
        for (int j = 0; j < kPulses; ++j) p.self[j][t] = SumAt(4 * t + j, 4 * t + j);
        for (int n = 0; n < 6; ++n) {
            for (int u = 0; u < kTrack; ++u) {
                const int place = n == 5 ? (t + u) & (kTrack - 1) : u;
                p.pair[n][t][u] = SumAt(4 * t + kPairTracks[n][0], 4 * place + kPairTracks[n][1]);
            }
        }
    }
    return p;
}
constexpr TrackPairs kTrackPairs = MakeTrackPairs();

// Four lanes of (a op b) loaded from unaligned memory.
inline __m128 Load(const float *p) { return _mm_loadu_ps(p); }

// The eight lanes m of x where c^2 bestE > bestC2 e, as bits.
inline unsigned Beats(__m128 c0, __m128 c1, __m128 e0, __m128 e1, float bestC2, float bestE) {
    const __m128 vE = _mm_set1_ps(bestE);
    const __m128 vC2 = _mm_set1_ps(bestC2);
    const unsigned lo = static_cast<unsigned>(
        _mm_movemask_ps(_mm_cmpgt_ps(_mm_mul_ps(_mm_mul_ps(c0, c0), vE), _mm_mul_ps(vC2, e0))));
    const unsigned hi = static_cast<unsigned>(
        _mm_movemask_ps(_mm_cmpgt_ps(_mm_mul_ps(_mm_mul_ps(c1, c1), vE), _mm_mul_ps(vC2, e1))));
    return lo | hi << 4;
}

// One row: the eight placings of pulse 3 (m3 = 0..7) behind a placing of
// pulses 0..2.
struct Row {
    alignas(16) float c[kTrack]; // sum of |d| at the four pulses
    alignas(16) float e[kTrack]; // energy of the filtered signed pulses
};

} // namespace

namespace pulses {

void SearchSets(const Tables &tables, int *bestCode) {
    const auto &[d0, d1, d2, d3, self2, self3, self0, self1, phi01, phi02, phi03, phi12, phi13, cross23, minCross,
                 maxD3, floorScore] = tables;
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 vMaxD3 = _mm_set1_ps(maxD3);
    float bestC2 = floorScore;
    float bestE = 1.0f;
    for (int k0 = 0; k0 < kTrack; ++k0) {
        for (int m1 = 0; m1 < kTrack; ++m1) {
            const int t1 = (k0 + m1) & (kTrack - 1);
            const float c1 = d0[k0] + d1[t1];
            const float e1 = self0[k0] + self1[t1] + 2.0f * phi01[k0][t1];
            // Pulses 2 and 3 on their own and against pulses 0 and 1, by place.
            alignas(16) float e2[2 * kTrack], b3[2 * kTrack];
            const __m128 ve1 = _mm_set1_ps(e1);
            for (int q = 0; q < kTrack; q += 4) {
                const __m128 x2 = _mm_add_ps(_mm_load_ps(phi02[k0] + q), _mm_load_ps(phi12[t1] + q));
                const __m128 v2 = _mm_add_ps(_mm_add_ps(ve1, _mm_load_ps(self2 + q)), _mm_mul_ps(two, x2));
                const __m128 x3 = _mm_add_ps(_mm_load_ps(phi03[k0] + q), _mm_load_ps(phi13[t1] + q));
                const __m128 v3 = _mm_add_ps(_mm_load_ps(self3 + q), _mm_mul_ps(two, x3));
                _mm_store_ps(e2 + q, v2);
                _mm_store_ps(e2 + kTrack + q, v2);
                _mm_store_ps(b3 + q, v3);
                _mm_store_ps(b3 + kTrack + q, v3);
            }
            // The least b3 (a NaN anywhere only loosens the bound or turns it off).
            __m128 least = _mm_min_ps(_mm_load_ps(b3), _mm_load_ps(b3 + 4));
            least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(1, 0, 3, 2)));
            least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(2, 3, 0, 1)));

            // By row m2 (pulse 2 at place t1 + m2): c up to pulse 2, and the bounds.
            const __m128 vc1 = _mm_set1_ps(c1);
            const __m128 vMinB3 = _mm_shuffle_ps(least, least, 0);
            alignas(16) float c2[kTrack];
            __m128 cMax[2], eMin[2];
            for (int q = 0; q < 2; ++q) {
                const __m128 c = _mm_add_ps(vc1, Load(d2 + t1 + 4 * q));
                _mm_store_ps(c2 + 4 * q, c);
                cMax[q] = _mm_add_ps(c, vMaxD3);
                eMin[q] = _mm_add_ps(Load(e2 + t1 + 4 * q), _mm_add_ps(vMinB3, Load(minCross + t1 + 4 * q)));
            }
            // Rows that may hold a set beating the best, from row `from` on.
            const auto open = [&](int from) {
                const unsigned rows = bestE >= 0.0f ? Beats(cMax[0], cMax[1], eMin[0], eMin[1], bestC2, bestE) : 0xffu;
                return rows & (0xffu << from);
            };
            for (unsigned rows = open(0); rows != 0;) {
                const int m2 = __builtin_ctz(rows);
                const int t2 = (t1 + m2) & (kTrack - 1);
                const __m128 vc2 = _mm_set1_ps(c2[m2]);
                const __m128 ve2 = _mm_set1_ps(e2[t2]);
                Row row;
                for (int q = 0; q < kTrack; q += 4) {
                    _mm_store_ps(row.c + q, _mm_add_ps(vc2, Load(d3 + t2 + q)));
                    _mm_store_ps(row.e + q,
                                 _mm_add_ps(ve2, _mm_add_ps(Load(b3 + t2 + q), _mm_load_ps(cross23[t2] + q))));
                }
                const auto beating = [&](int from) {
                    const unsigned sets = Beats(_mm_load_ps(row.c), _mm_load_ps(row.c + 4), _mm_load_ps(row.e),
                                                _mm_load_ps(row.e + 4), bestC2, bestE);
                    return sets & (0xffu << from);
                };
                bool improved = false;
                for (unsigned sets = beating(0); sets != 0;) {
                    const int m3 = __builtin_ctz(sets);
                    bestC2 = row.c[m3] * row.c[m3];
                    bestE = row.e[m3];
                    bestCode[0] = k0;
                    bestCode[1] = m1;
                    bestCode[2] = m2;
                    bestCode[3] = m3;
                    improved = true;
                    sets = beating(m3 + 1);
                }
                rows = improved ? open(m2 + 1) : rows & (rows - 1);
            }
        }
    }

}

} // namespace pulses

bool SearchPulsesAbove(const float *target, const float *h, float floor, Simd simd, PulseChoice &choice,
                       float seedReach) {
    float d[kLength];
    dsp::BackwardFilter(target, h, kLength, d);
    float sign[kLength];
    for (int n = 0; n < kLength; ++n) {
        sign[n] = d[n] >= 0.0f ? 1.0f : -1.0f;
        d[n] *= sign[n];
    }
    const RunningSums sums(h);

    // The seed: each pulse at its track's largest |d|, scored before any
    // table is built (its terms summed as the walk sums a set's).  When it
    // clears the floor, its score becomes the floor, so that the walk passes
    // over every row that cannot beat it, and it stands when nothing does.
    int seedCode[kPulses] = {-1, -1, -1, -1};
    if (seedReach > 0.0f) {
        int p[kPulses];
        for (int j = 0; j < kPulses; ++j) {
            p[j] = j;
            for (int at = j + kPulses; at < kLength; at += kPulses) p[j] = d[at] > d[p[j]] ? at : p[j];
        }
        const auto phi = [&](int a, int b) { return sums.r[SumAt(p[a], p[b])] * (sign[p[a]] * sign[p[b]]); };
        const float c = ((d[p[0]] + d[p[1]]) + d[p[2]]) + d[p[3]];
        const float e1 = (phi(0, 0) + phi(1, 1)) + 2.0f * phi(0, 1);
        const float b3 = phi(3, 3) + 2.0f * (phi(0, 3) + phi(1, 3));
        const float e = ((e1 + phi(2, 2)) + 2.0f * (phi(0, 2) + phi(1, 2))) + (b3 + 2.0f * phi(2, 3));
        // A seed that falls short of the floor by more than the reach gives
        // the walk up: the best set seldom scores that far above it.
        if (e > 0.0f && (c * c / e) * seedReach <= floor) return false;
        if (e > 0.0f && c * c / e > floor) {
            floor = c * c / e;
            int previous = 0;
            for (int j = 0; j < kPulses; ++j) {
                const int place = p[j] / kPulses;
                seedCode[j] = j == 0 ? place : (place - previous) & (kTrack - 1);
                previous = place;
            }
        }
    }

    // The sets go in the order of their codes k0, m1, m2, m3: pulse 0 at
    // 4 k0, pulse j at (previous + 1 + 4 m_j) mod 32, which is place
    // (place of the pulse before + m_j) mod 8 of track j (place t of track j
    // is sample 4 t + j).  Each set's c = sum |d| and e = energy are summed
    // in one fixed order,
    //   c = ((d0 + d1) + d2) + d3,
    //   e = ((e1 + Phi22) + 2 (Phi02 + Phi12)) + (b3 + 2 Phi23),
    //   e1 = (Phi00 + Phi11) + 2 Phi01,  b3 = Phi33 + 2 (Phi03 + Phi13),
    // and a set replaces the best only when c^2 bestE > bestC2 e.  The eight
    // placings of pulse 3 behind pulses 0..2 (a row) are scored side by side;
    // after each new best the rest of its row is scored again against it, so
    // exactly the sets that one set at a time would take are taken.
    //
    // Rows whose bound cannot beat the best are passed over: no set of the
    // row beats it when its largest c against its smallest e does not.
    // Rounding to nearest is monotonic, so the bounds, summed and multiplied
    // in the sets' own order, bound the rounded scores too (while
    // bestE >= 0; a negative energy, possible only through rounding, turns
    // the bounds off).
    //
    // Tables by place, those that rows read from a rotated start kept twice
    // over (index 0..15); the cross terms of pulses 2 and 3 by (t2, m3) and
    // doubled (an exact scaling).
    pulses::Tables tables;
    auto &[d0, d1, d2, d3, self2, self3, self0, self1, phi01, phi02, phi03, phi12, phi13, cross23, minCross, maxD3,
           floorScore] =
        tables;
    float signs[kPulses][2 * kTrack]; // by track and place
    for (int t = 0; t < kTrack; ++t) {
        for (int j = 0; j < kPulses; ++j) signs[j][t] = signs[j][t + kTrack] = sign[4 * t + j];
    }
    float *const selfs[kPulses] = {self0, self1, self2, self3};
    float(*const pairs[6])[kTrack] = {phi01, phi02, phi03, phi12, phi13, cross23};
    for (int t = 0; t < kTrack; ++t) {
        d0[t] = d[4 * t];
        d1[t] = d[4 * t + 1];
        d2[t] = d2[t + kTrack] = d[4 * t + 2];
        d3[t] = d3[t + kTrack] = d[4 * t + 3];
        for (int j = 0; j < kPulses; ++j) selfs[j][t] = sums.r[kTrackPairs.self[j][t]]; // sign^2 = 1
        for (int n = 0; n < 6; ++n) {
            const float sa = signs[kPairTracks[n][0]][t];
            const float *sb = signs[kPairTracks[n][1]] + (n == 5 ? t : 0);
            const std::uint16_t *at = kTrackPairs.pair[n][t];
            float *out = pairs[n][t];
            for (int u = 0; u < kTrack; ++u) out[u] = sums.r[at[u]] * (sa * sb[u]);
        }
        for (int u = 0; u < kTrack; ++u) cross23[t][u] *= 2.0f;
        float least = cross23[t][0];
        for (int u = 1; u < kTrack; ++u) least = cross23[t][u] < least ? cross23[t][u] : least;
        minCross[t] = minCross[t + kTrack] = least;
    }
    maxD3 = d3[0];
    for (int t = 1; t < kTrack; ++t) maxD3 = d3[t] > maxD3 ? d3[t] : maxD3;

    floorScore = floor;

    // A floor above 0 leaves the codes at -1 when no set clears it.
    const int none = floor > 0.0f ? -1 : 0;
    int bestCode[kPulses] = {none, none, none, none};
    if (simd == Simd::Avx2) pulses::avx2::SearchSets(tables, bestCode);
    else pulses::SearchSets(tables, bestCode);
    if (bestCode[0] < 0) {
        if (seedCode[0] < 0) return false;
        for (int j = 0; j < kPulses; ++j) bestCode[j] = seedCode[j];
    }
    choice = PulseChoice{};
    for (int j = 0; j < kPulses; ++j) choice.positionWord |= bestCode[j] << (3 * j);
    int place = bestCode[0];
    for (int j = 0; j < kPulses; ++j) {
        if (j > 0) place = (place + bestCode[j]) & (kTrack - 1);
        const int at = 4 * place + j;
        choice.position[j] = at;
        choice.sign[j] = sign[at];
        if (sign[at] > 0.0f) choice.signs |= 1 << j;
    }
    return true;
}

PulseChoice SearchPulses(const float *target, const float *h, Simd simd) {
    PulseChoice choice{};
    SearchPulsesAbove(target, h, 0.0f, simd, choice, 0.0f);
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
