#include "pulse_tree.hpp"

#include "excitation.hpp"
#include "pulse_search.hpp"

#include <vntr/dsp/pulses.hpp>

#include <cmath>

namespace vntr::vt4864v6 {

int ScoreLeaves(const LeafBlock &block, const float *c5, float e5, float s5, TreeBest &best) {
    int chosen = -1;
    for (int l = 0; l < kLeaves; ++l) {
        const float e = (e5 + block.q[l]) + 2.0f * (c5[block.i6[l >> 2]] + c5[block.i7[l]]);
        const float s = s5 + block.a[l];
        if (e > 0.0f && s * s * best.e > best.s2 * e) {
            best.s = s;
            best.s2 = s * s;
            best.e = e;
            chosen = l;
        }
    }
    return chosen;
}

void PulseCorrelations(const float *h, const float *sign, int length, float *r) {
    // R(a, a + m) sums h(n) h(n + m) over n = 0 .. L-1-a-m: going down from the
    // last a, each sum takes one more term, so one running sum serves each m.
    for (int m = 0; m < length; ++m) {
        float sum = 0.0f;
        int n = 0;
        for (int a = length - 1 - m; a >= 0; --a) {
            for (const int last = length - 1 - a - m; n <= last; ++n) sum += h[n] * h[n + m];
            const float value = sum * sign[a] * sign[a + m];
            r[a * kMaxSubframeLength + a + m] = value;
            r[(a + m) * kMaxSubframeLength + a] = value;
        }
    }
}

PulseChoice SearchPulsesExhaustive(const float *target, const float *h, const RateMode &mode, TreeSimd simd,
                                   float *c, float *f) {
    const int length = mode.subframeLength;
    const int grid = mode.grid;

    // Each pulse takes the sign of the backward-filtered target at its sample.
    float dd[kMaxSubframeLength];
    dsp::BackwardFilter(target, h, length, dd);
    float sign[kMaxSubframeLength] = {};
    float a[kMaxSubframeLength];
    for (int n = 0; n < length; ++n) {
        sign[n] = dd[n] < 0.0f ? -1.0f : 1.0f;
        a[n] = dd[n] * sign[n];
    }
    alignas(32) float r[kMaxSubframeLength * kMaxSubframeLength];
    PulseCorrelations(h, sign, length, r);
    auto next = [length](int from, int step) {
        const int q = from + step;
        return q >= length ? q - length : q;
    };
    auto row = [&r](int p) { return r + p * kMaxSubframeLength; };

    // The leaf block under each position pulse 5 can take (every sample: the
    // same for all paths through it).
    LeafBlock blocks[kMaxSubframeLength];
    for (int p = 0; p < length; ++p) {
        LeafBlock &b = blocks[p];
        for (int j = 0; j < 4; ++j) {
            const int p6 = next(p, mode.steps[4][static_cast<std::size_t>(j)]);
            b.i6[j] = p6;
            for (int k = 0; k < 4; ++k) {
                const int l = 4 * j + k;
                const int p7 = next(p6, mode.steps[5][static_cast<std::size_t>(k)]);
                b.i7[l] = p7;
                b.q[l] = (row(p6)[p6] + row(p7)[p7]) + 2.0f * row(p6)[p7];
                b.a[l] = a[p6] + a[p7];
            }
        }
    }

    // Depth-first over pulses 1..5; cross[i] is C after pulse i+1.
    alignas(32) float cross[5][kMaxSubframeLength];
    float e[5];
    float s[5];
    int p[5];
    int choice[kPulses];
    int best[kPulses] = {};
    TreeBest top;
    bool scored = false;
    auto place = [&](int level, int position) {
        const float *rp = row(position);
        float *out = cross[level];
        p[level] = position;
        if (level == 0) {
            e[0] = rp[position];
            s[0] = a[position];
            for (int n = 0; n < length; ++n) out[n] = rp[n];
            return;
        }
        const float *in = cross[level - 1];
        e[level] = (e[level - 1] + rp[position]) + 2.0f * in[position];
        s[level] = s[level - 1] + a[position];
        for (int n = 0; n < length; ++n) out[n] = in[n] + rp[n];
    };
    for (int j = 0; j < grid; ++j) {
        choice[0] = j;
        place(0, length * j / grid);
        for (int i2 = 0; i2 < 4; ++i2) {
            choice[1] = i2;
            place(1, next(p[0], mode.steps[0][static_cast<std::size_t>(i2)]));
            for (int i3 = 0; i3 < 4; ++i3) {
                choice[2] = i3;
                place(2, next(p[1], mode.steps[1][static_cast<std::size_t>(i3)]));
                for (int i4 = 0; i4 < 4; ++i4) {
                    choice[3] = i4;
                    place(3, next(p[2], mode.steps[2][static_cast<std::size_t>(i4)]));
                    for (int i5 = 0; i5 < 4; ++i5) {
                        choice[4] = i5;
                        place(4, next(p[3], mode.steps[3][static_cast<std::size_t>(i5)]));
                        const int leaf = ScoreLeaves(blocks[p[4]], cross[4], e[4], s[4], top, simd);
                        if (leaf >= 0) {
                            scored = true;
                            for (int k = 0; k < 5; ++k) best[k] = choice[k];
                            best[5] = leaf >> 2;
                            best[6] = leaf & 3;
                        }
                    }
                }
            }
        }
    }

    PulseChoice result{};
    result.scored = scored;
    result.correlation = top.s;
    result.energy = scored ? top.e : 0.0f;
    uint32_t word = 0;
    for (int k = kPulses - 1; k >= 1; --k) word = word * 4 + static_cast<uint32_t>(best[k]);
    result.positions = static_cast<uint16_t>(word * static_cast<uint32_t>(grid) + static_cast<uint32_t>(best[0]));
    PulsePositions(result.positions, mode, result.position);
    for (int n = 0; n < length; ++n) c[n] = 0.0f;
    for (int k = 0; k < kPulses; ++k) {
        const float sg = sign[result.position[k]];
        result.sign[k] = sg;
        if (sg > 0.0f) result.signs = static_cast<uint16_t>(result.signs | (1u << k));
        c[result.position[k]] += sg;
    }
    for (int n = 0; n < length; ++n) f[n] = 0.0f;
    for (int k = 0; k < kPulses; ++k) {
        const int at = result.position[k];
        const float sg = result.sign[k];
        for (int n = at; n < length; ++n) f[n] += sg * h[n - at];
    }
    return result;
}

} // namespace vntr::vt4864v6
