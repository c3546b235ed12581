#include "pulse_search.hpp"

#include "pulse_sets.hpp"

#include <vntr/dsp/pulses.hpp>

#include <cstdint>

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

} // namespace

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
    float signs[kPulses][2 * kTrack]; // by track and place
    for (int t = 0; t < kTrack; ++t) {
        for (int j = 0; j < kPulses; ++j) signs[j][t] = signs[j][t + kTrack] = sign[4 * t + j];
    }
    float *const selfs[kPulses] = {tables.self0, tables.self1, tables.self2, tables.self3};
    float(*const pairs[6])[kTrack] = {tables.phi01, tables.phi02, tables.phi03,
                                      tables.phi12, tables.phi13, tables.cross23};
    for (int t = 0; t < kTrack; ++t) {
        tables.d0[t] = d[4 * t];
        tables.d1[t] = d[4 * t + 1];
        tables.d2[t] = tables.d2[t + kTrack] = d[4 * t + 2];
        tables.d3[t] = tables.d3[t + kTrack] = d[4 * t + 3];
        for (int j = 0; j < kPulses; ++j) selfs[j][t] = sums.r[kTrackPairs.self[j][t]]; // sign^2 = 1
        for (int n = 0; n < 6; ++n) {
            const float sa = signs[kPairTracks[n][0]][t];
            const float *sb = signs[kPairTracks[n][1]] + (n == 5 ? t : 0);
            const std::uint16_t *at = kTrackPairs.pair[n][t];
            float *out = pairs[n][t];
            for (int u = 0; u < kTrack; ++u) out[u] = sums.r[at[u]] * (sa * sb[u]);
        }
        for (int u = 0; u < kTrack; ++u) tables.cross23[t][u] *= 2.0f;
        float least = tables.cross23[t][0];
        for (int u = 1; u < kTrack; ++u) least = tables.cross23[t][u] < least ? tables.cross23[t][u] : least;
        tables.minCross[t] = tables.minCross[t + kTrack] = least;
    }
    tables.maxD3 = tables.d3[0];
    for (int t = 1; t < kTrack; ++t) tables.maxD3 = tables.d3[t] > tables.maxD3 ? tables.d3[t] : tables.maxD3;

    tables.floor = floor;

    // A floor above 0 leaves the codes at -1 when no set clears it.
    const int none = floor > 0.0f ? -1 : 0;
    int bestCode[kPulses] = {none, none, none, none};
    pulses::SearchSets(simd, tables, bestCode);
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
