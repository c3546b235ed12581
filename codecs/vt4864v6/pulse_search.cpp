#include "pulse_search.hpp"

#include "excitation.hpp"
#include "tables.hpp"

#include <vntr/dsp/pulses.hpp>

#include <cmath>

namespace vntr::vt4864v6 {
namespace {

// The pulse-pair correlation table.  Row j, distance m holds
//   T(j, m) = s(j) s(j+m) sum_{n=0}^{L-1-2j-2m} h(n) h(n + 2m),
// the correlation of the filtered unit pulses at samples 2j and 2j + 2m with
// the signs of their pairs; rows follow one another from the rate's row
// starts.  The search lets every pulse stand for its pair: pulses at a <= b
// are scored with the entry of their pairs, T(a div 2, b div 2 - a div 2),
// which is exact when both sit on even samples and otherwise the entry of the
// pairs' even samples, signs included.  (Taking the distance as (b - a) div 2
// instead would, for a pulse on an odd sample before one on an even sample,
// read the entry of the pair in front of the second pulse, with that pair's
// sign.)
class PairCorrelations {
public:
    PairCorrelations(const float *h, const float *pairSign, const RateMode &mode) {
        const int length = mode.subframeLength;
        const int pairs = length / 2;
        for (int m = 0; m < pairs; ++m) {
            // Row j sums n = 0..L-1-2j-2m: going up from the last row each
            // span grows by two samples, so one running sum serves the column.
            const float *shifted = h + 2 * m;
            float sum = 0.0f;
            int n = 0;
            for (int j = pairs - 1 - m; j >= 0; --j) {
                for (const int last = length - 1 - 2 * j - 2 * m; n <= last; ++n) sum += h[n] * shifted[n];
                table_[mode.pairRows[static_cast<std::size_t>(j)] + m] = sum * pairSign[j] * pairSign[j + m];
            }
        }
        // Both orders of every two pairs, so that the walk reads one row per
        // pulse without comparing positions.
        for (int j = 0; j < pairs; ++j) {
            const float *row = table_ + mode.pairRows[static_cast<std::size_t>(j)];
            for (int m = 0; m < pairs - j; ++m) byPair_[j][j + m] = byPair_[j + m][j] = row[m];
        }
    }
    // Signed correlations of pair q with every pair.
    const float *Row(int q) const { return byPair_[q]; }

private:
    float table_[PairTableSize(kMaxSubframeLength)];
    float byPair_[kMaxPairs][kMaxPairs];
};

// The positions each of pulses 1..5 can take over all paths of a rate.
struct Reach {
    bool at[5][kMaxSubframeLength];
};

constexpr Reach ComputeReach(const RateMode &mode) {
    Reach r{};
    const int length = mode.subframeLength;
    for (int j = 0; j < mode.grid; ++j) r.at[0][length * j / mode.grid] = true;
    for (int pulse = 1; pulse < 5; ++pulse) {
        for (int p = 0; p < length; ++p) {
            if (!r.at[pulse - 1][p]) continue;
            for (int s = 0; s < 4; ++s)
                r.at[pulse][(p + mode.steps[static_cast<std::size_t>(pulse - 1)][static_cast<std::size_t>(s)]) %
                            length] = true;
        }
    }
    return r;
}

constexpr Reach kReach4800 = ComputeReach(kRate4800);
constexpr Reach kReach6400 = ComputeReach(kRate6400);

constexpr int ReachCount(const Reach &r, int pulse) {
    int n = 0;
    for (bool b : r.at[pulse]) n += b;
    return n;
}
// Every pulse can take as many positions as the grid has points.
static_assert(ReachCount(kReach4800, 0) == 4 && ReachCount(kReach4800, 4) == 4);
static_assert(ReachCount(kReach6400, 0) == 8 && ReachCount(kReach6400, 4) == 8);

} // namespace

PulseChoice SearchPulses(const float *target, const float *h, const RateMode &mode, PulseBudgets &budgets, float *c,
                         float *f) {
    const int length = mode.subframeLength;
    const int grid = mode.grid;

    // Backward-filtered target and the sign of each pair of samples; every
    // pulse takes the sign of its pair.
    // dd(n) = sum_{i>=n} t(i) h(i - n), gathered target sample by target sample.
    float dd[kMaxSubframeLength];
    dsp::BackwardFilter(target, h, length, dd);
    float pairSign[kMaxSubframeLength / 2];
    for (int j = 0; j < length / 2; ++j) {
        pairSign[j] = dd[2 * j] + dd[2 * j + 1] < 0.0f ? -1.0f : 1.0f;
        dd[2 * j] *= pairSign[j];
        dd[2 * j + 1] *= pairSign[j];
    }
    const PairCorrelations corr(h, pairSign, mode);

    // Thresholds on the partial sums at pulses 3, 4, 5 from the positions
    // each pulse can reach.
    float threshold[kPulses] = {};
    {
        const Reach &reach = mode.is4800 ? kReach4800 : kReach6400;
        float maxSum = 0.0f;
        float meanSum = 0.0f;
        for (int pulse = 1; pulse <= 5; ++pulse) {
            float largest = -3e38f;
            float total = 0.0f;
            for (int p = 0; p < length; ++p) {
                if (!reach.at[pulse - 1][p]) continue;
                if (dd[p] > largest) largest = dd[p];
                total += dd[p];
            }
            maxSum += largest;
            meanSum += total / static_cast<float>(grid);
            if (pulse >= 3)
                threshold[pulse - 1] =
                    meanSum + mode.thresholds[static_cast<std::size_t>(pulse - 3)] * (maxSum - meanSum);
        }
    }

    budgets.level4 += kBudget4PerSubframe;
    budgets.level5 += kBudget5PerSubframe;

    // Depth-first walk.  p[i], s[i], e[i]: position, running correlation and
    // energy after pulse i+1; choice[i]: the grid or step index taken.
    int p[kPulses];
    float s[kPulses];
    float e[kPulses];
    int choice[kPulses];
    int best[kPulses] = {};
    float bestS = 0.0f;
    float bestS2 = 0.0f;
    float bestE = 1.0f;
    bool scored = false;
    int steps[kPulses - 1][4];
    for (int k = 0; k < kPulses - 1; ++k) {
        for (int i = 0; i < 4; ++i) steps[k][i] = mode.steps[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)];
    }
    // Positions wrap around the sub-frame; every step is shorter than it.
    auto next = [length](int from, int step) {
        const int q = from + step;
        return q >= length ? q - length : q;
    };
    int pair[kPulses];
    auto place = [&](int level, int position) {
        const int q = position >> 1;
        const float *row = corr.Row(q);
        float cross = 0.0f;
        for (int i = 0; i < level; ++i) cross += row[pair[i]];
        p[level] = position;
        pair[level] = q;
        s[level] = (level ? s[level - 1] : 0.0f) + dd[position];
        e[level] = (level ? e[level - 1] : 0.0f) + row[q] + 2.0f * cross;
    };

    bool stop = false;
    for (int j = 0; j < grid && !stop; ++j) {
        choice[0] = j;
        place(0, length * j / grid);
        for (int i2 = 0; i2 < 4 && !stop; ++i2) {
            choice[1] = i2;
            place(1, next(p[0], steps[0][i2]));
            for (int i3 = 0; i3 < 4 && !stop; ++i3) {
                choice[2] = i3;
                place(2, next(p[1], steps[1][i3]));
                if (!(s[2] > threshold[2])) continue;
                for (int i4 = 0; i4 < 4 && !stop; ++i4) {
                    choice[3] = i4;
                    place(3, next(p[2], steps[2][i4]));
                    if (!(s[3] > threshold[3])) continue;
                    for (int i5 = 0; i5 < 4 && !stop; ++i5) {
                        choice[4] = i5;
                        place(4, next(p[3], steps[3][i5]));
                        if (!(s[4] > threshold[4])) continue;
                        for (int i6 = 0; i6 < 4; ++i6) {
                            choice[5] = i6;
                            place(5, next(p[4], steps[4][i6]));
                            for (int i7 = 0; i7 < 4; ++i7) {
                                choice[6] = i7;
                                place(6, next(p[5], steps[5][i7]));
                                const float s7 = s[6];
                                if (e[6] > 0.0f && s7 * s7 * bestE > bestS2 * e[6]) {
                                    bestS = s7;
                                    bestS2 = s7 * s7;
                                    bestE = e[6];
                                    scored = true;
                                    for (int k = 0; k < kPulses; ++k) best[k] = choice[k];
                                }
                            }
                        }
                        if (--budgets.level5 < 1) stop = true;
                    }
                    if (!stop && --budgets.level4 < 1) stop = true;
                }
            }
        }
    }

    PulseChoice result{};
    result.scored = scored;
    result.correlation = bestS;
    result.energy = scored ? bestE : 0.0f;
    uint32_t word = 0;
    for (int k = kPulses - 1; k >= 1; --k) word = word * 4 + static_cast<uint32_t>(best[k]);
    result.positions = static_cast<uint16_t>(word * static_cast<uint32_t>(grid) + static_cast<uint32_t>(best[0]));
    PulsePositions(result.positions, mode, result.position);
    for (int n = 0; n < length; ++n) c[n] = 0.0f;
    for (int k = 0; k < kPulses; ++k) {
        const float sign = pairSign[result.position[k] >> 1];
        result.sign[k] = sign;
        if (sign > 0.0f) result.signs = static_cast<uint16_t>(result.signs | (1u << k));
        c[result.position[k]] += sign;
    }
    for (int n = 0; n < length; ++n) f[n] = 0.0f;
    for (int k = 0; k < kPulses; ++k) {
        const int at = result.position[k];
        const float sign = result.sign[k];
        for (int n = at; n < length; ++n) f[n] += sign * h[n - at];
    }
    return result;
}

int QuantisePulseGain(const float *target, const float *f, int length) {
    return dsp::QuantiseAmplitude(target, f, length, kPulseGain, 32);
}

} // namespace vntr::vt4864v6
