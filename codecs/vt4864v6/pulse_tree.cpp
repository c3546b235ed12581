#include "pulse_tree.hpp"

#include "excitation.hpp"
#include "pulse_search.hpp"

#include <vntr/dsp/pulses.hpp>

#include <cmath>
#include <cstring>

namespace vntr::vt4864v6 {

int ScoreLeaves(const LeafBlock *const *children, const NodeView &node, TreeBest &best) {
    int chosen = -1;
    for (int i = 0; i < kChildren; ++i) {
        const LeafBlock &block = *children[i];
        const float c4 = node.c3[block.p5] + node.r4[block.p5];
        const float base = node.e4 + 2.0f * c4;
        for (int l = 0; l < kLeaves; ++l) {
            const int at = 4 * block.p6[l] + (l & 3);
            const float e = (base + block.q[l]) + 2.0f * (node.pairs3[at] + node.pairs4[at]);
            const float s = node.s4 + block.a[l];
            if (e > 0.0f && s * s * best.e > best.s2 * e) {
                best.s = s;
                best.s2 = s * s;
                best.e = e;
                chosen = kLeaves * i + l;
            }
        }
    }
    return chosen;
}

void StepPairs(const float *w, const uint8_t *steps, int length, float *v) {
    const int end = (length + 7) / 8 * 8;
    for (int x = 0; x < end; ++x) {
        for (int k = 0; k < 4; ++k) v[4 * x + k] = w[x] + w[x + steps[k]];
    }
}

void AddRow(const float *in, const float *row, float *out, int count) {
    for (int n = 0; n < count; ++n) out[n] = in[n] + row[n];
}

void PulseCorrelations(const float *h, const float *sign, int length, float *r) {
    // phi(a, x) = sum_n h(n - a) h(n - x) over the sub-frame.  Row 0 is the
    // autocorrelation of h; row a + 1 is row a moved on by one, less the last
    // term of each sum: phi(a + 1, x + 1) = phi(a, x) - h(L-1-a) h(L-1-x), and
    // phi(a + 1, 0) = phi(0, a + 1).
    float reversed[kMaxSubframeLength];
    for (int n = 0; n < length; ++n) reversed[n] = h[length - 1 - n];
    for (int x = 0; x < length; ++x) {
        float sum = 0.0f;
        for (int n = x; n < length; ++n) sum += h[n] * h[n - x];
        r[x] = sum;
    }
    for (int a = 0; a + 1 < length; ++a) {
        const float *previous = r + a * kWrapped;
        float *row = r + (a + 1) * kWrapped;
        const float last = reversed[a];
        row[0] = r[a + 1];
        for (int x = 0; x + 1 < length; ++x) row[x + 1] = previous[x] - last * reversed[x];
    }
    // The signs, and each row repeated for the reads past its end.
    for (int a = 0; a < length; ++a) {
        float *row = r + a * kWrapped;
        const float sa = sign[a];
        for (int x = 0; x < length; ++x) row[x] = row[x] * sa * sign[x];
        std::memcpy(row + length, row, sizeof(float) * static_cast<std::size_t>(length));
        std::memcpy(row + 2 * length, row, sizeof(float) * static_cast<std::size_t>(kWrapped - 2 * length));
    }
}

namespace {

// The kernels of one processor.
struct Kernels {
    int (*scoreLeaves)(const LeafBlock *const *, const NodeView &, TreeBest &);
    void (*stepPairs)(const float *, const uint8_t *, int, float *);
    void (*addRow)(const float *, const float *, float *, int);
};

Kernels KernelsFor(dsp::Simd simd) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == dsp::Simd::Avx2) return {avx2::ScoreLeaves, avx2::StepPairs, avx2::AddRow};
#else
    (void)simd;
#endif
    return {ScoreLeaves, StepPairs, AddRow};
}

// Scratch of one sub-frame's search (kept off the handle: the described
// encoder of the same engine does not need it).
struct TreeScratch {
    alignas(32) float r[kMaxSubframeLength * kWrapped];
    alignas(32) float pairs[kMaxSubframeLength][kStepPairs]; // step pairs of each row
    alignas(32) float cross[3][kWrapped];
    alignas(32) float crossPairs[kStepPairs];
    LeafBlock blocks[kMaxSubframeLength];
};

} // namespace

PulseChoice SearchPulsesExhaustive(const float *target, const float *h, const RateMode &mode, dsp::Simd simd, float *c,
                                   float *f) {
    const int length = mode.subframeLength;
    const int grid = mode.grid;
    const Kernels kernels = KernelsFor(simd);
    const uint8_t *steps7 = mode.steps[5].data();
    // The longest reach of a step pair: the last block of eight plus the longest step.
    const int reach = (length + 7) / 8 * 8 + mode.steps[5][3];

    // Each pulse takes the sign of the backward-filtered target at its sample.
    float dd[kMaxSubframeLength];
    dsp::BackwardFilter(target, h, length, dd);
    float sign[kMaxSubframeLength] = {};
    float a[kMaxSubframeLength] = {};
    for (int n = 0; n < length; ++n) {
        sign[n] = dd[n] < 0.0f ? -1.0f : 1.0f;
        a[n] = dd[n] * sign[n];
    }
    TreeScratch scratch;
    float *r = scratch.r;
    PulseCorrelations(h, sign, length, r);
    auto row = [r](int p) { return r + p * kWrapped; };
    auto next = [length](int from, int step) {
        const int q = from + step;
        return q >= length ? q - length : q;
    };
    // The positions each pulse can take: the steps of a mode reach only a
    // few (8 of 60 for pulses 4 and 5 at 6.4 kbit/s, 4 of 80 at 4.8), and
    // only those need their step pairs and leaf blocks.
    constexpr int kThroughPulse5 = 5;
    bool reachable[kThroughPulse5][kMaxSubframeLength] = {};
    for (int j = 0; j < grid; ++j) reachable[0][length * j / grid] = true;
    for (int level = 1; level < kThroughPulse5; ++level) {
        for (int q = 0; q < length; ++q) {
            if (!reachable[level - 1][q]) continue;
            for (const int step : mode.steps[static_cast<std::size_t>(level - 1)])
                reachable[level][next(q, step)] = true;
        }
    }
    for (int p = 0; p < length; ++p) {
        if (reachable[3][p]) kernels.stepPairs(row(p), steps7, length, scratch.pairs[p]);
    }

    // The leaf block under each position pulse 5 can take.
    for (int p5 = 0; p5 < length; ++p5) {
        if (!reachable[4][p5]) continue;
        LeafBlock &b = scratch.blocks[p5];
        b.p5 = p5;
        const float *r5 = row(p5);
        for (int j = 0; j < 4; ++j) {
            const int p6 = next(p5, mode.steps[4][static_cast<std::size_t>(j)]);
            const float *r6 = row(p6);
            for (int k = 0; k < 4; ++k) {
                const int l = 4 * j + k;
                const int p7 = next(p6, mode.steps[5][static_cast<std::size_t>(k)]);
                b.p6[l] = p6;
                b.q[l] = ((r5[p5] + r6[p6]) + row(p7)[p7]) + 2.0f * ((r5[p6] + r5[p7]) + r6[p7]);
                b.a[l] = (a[p5] + a[p6]) + a[p7];
            }
        }
    }

    // Depth-first over pulses 1..3, then every node of pulse 4 to the kernel.
    float e[3];
    float s[3];
    int p[4];
    int choice[4];
    int best[kPulses] = {};
    TreeBest top;
    bool scored = false;
    auto place = [&](int level, int position) {
        const float *rp = row(position);
        p[level] = position;
        if (level == 0) {
            e[0] = rp[position];
            s[0] = a[position];
            for (int n = 0; n < reach; ++n) scratch.cross[0][n] = rp[n];
            return;
        }
        const float *in = scratch.cross[level - 1];
        e[level] = (e[level - 1] + rp[position]) + 2.0f * in[position];
        s[level] = s[level - 1] + a[position];
        kernels.addRow(in, rp, scratch.cross[level], reach);
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
                const float *c3 = scratch.cross[2];
                kernels.stepPairs(c3, steps7, length, scratch.crossPairs);
                for (int i4 = 0; i4 < 4; ++i4) {
                    choice[3] = i4;
                    const int p4 = next(p[2], mode.steps[2][static_cast<std::size_t>(i4)]);
                    const float *r4 = row(p4);
                    const NodeView node{
                        c3, r4, scratch.crossPairs, scratch.pairs[p4], (e[2] + r4[p4]) + 2.0f * c3[p4], s[2] + a[p4]};
                    const LeafBlock *children[kChildren];
                    for (int i5 = 0; i5 < kChildren; ++i5) {
                        children[i5] = &scratch.blocks[next(p4, mode.steps[3][static_cast<std::size_t>(i5)])];
                    }
                    const int leaf = kernels.scoreLeaves(children, node, top);
                    if (leaf >= 0) {
                        scored = true;
                        for (int k = 0; k < 4; ++k) best[k] = choice[k];
                        best[4] = leaf / kLeaves;
                        best[5] = (leaf % kLeaves) >> 2;
                        best[6] = leaf & 3;
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
