#include "pulse_search.hpp"

#include "excitation.hpp"
#include "tables.hpp"

#include <cmath>

namespace vntr::vt4864v6 {
namespace {

constexpr int kMaxPairTable = (kMaxSubframeLength / 2) * (kMaxSubframeLength / 2 + 1) / 2;

// The pulse-pair correlation table with its lookup rule.
class PairTable {
public:
    PairTable(const float *h, const float *pairSign, const RateMode &mode) : mode_(mode) {
        const int length = mode.subframeLength;
        const int rows = mode.PairRows();
        for (int j = 0; j < rows; ++j) rowStart_[j] = mode.PairRowStart(j);
        // T(j, m) = sum_{n=0}^{L-1-2j-2m} h(n) h(n+2m), built per distance m from the
        // last row upward: each row up adds two products.
        for (int m = 0; m < rows; ++m) {
            float acc = 0.0f;
            for (int j = rows - 1 - m; j >= 0; --j) {
                const int last = length - 1 - 2 * j - 2 * m;
                acc += h[last] * h[last + 2 * m];
                if (last - 1 >= 0) acc += h[last - 1] * h[last - 1 + 2 * m];
                table_[rowStart_[j] + m] = acc * pairSign[j] * pairSign[j + m];
            }
        }
    }
    // Correlation of filtered pulses at positions a and b: the entry of the
    // even-aligned pair (exact for two even positions).
    float operator()(int a, int b) const {
        if (a > b) std::swap(a, b);
        return table_[rowStart_[a >> 1] + ((b - a) >> 1)];
    }

private:
    const RateMode &mode_;
    int rowStart_[kMaxSubframeLength / 2];
    float table_[kMaxPairTable];
};

} // namespace

PulseChoice SearchPulses(const float *target, const float *h, const RateMode &mode, PulseBudgets &budgets,
                         float *c, float *f) {
    const int length = mode.subframeLength;
    const int grid = mode.grid;

    // Backward-filtered target and the sign of each pair of samples.
    float dd[kMaxSubframeLength];
    for (int n = 0; n < length; ++n) {
        float acc = 0.0f;
        for (int i = n; i < length; ++i) acc += target[i] * h[i - n];
        dd[n] = acc;
    }
    float pairSign[kMaxSubframeLength / 2];
    for (int j = 0; j < length / 2; ++j) {
        pairSign[j] = dd[2 * j] + dd[2 * j + 1] < 0.0f ? -1.0f : 1.0f;
        dd[2 * j] *= pairSign[j];
        dd[2 * j + 1] *= pairSign[j];
    }
    const PairTable corr(h, pairSign, mode);

    // Thresholds on the partial sums at pulses 3, 4, 5 from the positions
    // each pulse can reach.
    float threshold[kPulses] = {};
    {
        bool reach[kMaxSubframeLength] = {};
        for (int j = 0; j < grid; ++j) reach[length * j / grid] = true;
        float maxSum = 0.0f;
        float meanSum = 0.0f;
        for (int pulse = 1; pulse <= 5; ++pulse) {
            if (pulse > 1) {
                bool next[kMaxSubframeLength] = {};
                for (int p = 0; p < length; ++p) {
                    if (!reach[p]) continue;
                    for (int s = 0; s < 4; ++s) next[(p + mode.steps[pulse - 2][s]) % length] = true;
                }
                for (int p = 0; p < length; ++p) reach[p] = next[p];
            }
            float largest = -3e38f;
            float total = 0.0f;
            for (int p = 0; p < length; ++p) {
                if (!reach[p]) continue;
                if (dd[p] > largest) largest = dd[p];
                total += dd[p];
            }
            maxSum += largest;
            meanSum += total / static_cast<float>(grid);
            if (pulse >= 3) threshold[pulse - 1] = meanSum + mode.thresholds[pulse - 3] * (maxSum - meanSum);
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
    float bestS2 = 0.0f;
    float bestE = 1.0f;
    bool scored = false;
    const auto &steps = mode.steps;
    auto place = [&](int level, int position) {
        p[level] = position;
        float energy = corr(position, position);
        for (int i = 0; i < level; ++i) energy += 2.0f * corr(p[i], position);
        s[level] = (level ? s[level - 1] : 0.0f) + dd[position];
        e[level] = (level ? e[level - 1] : 0.0f) + energy;
    };

    bool stop = false;
    for (int j = 0; j < grid && !stop; ++j) {
        choice[0] = j;
        place(0, length * j / grid);
        for (int i2 = 0; i2 < 4 && !stop; ++i2) {
            choice[1] = i2;
            place(1, (p[0] + steps[0][i2]) % length);
            for (int i3 = 0; i3 < 4 && !stop; ++i3) {
                choice[2] = i3;
                place(2, (p[1] + steps[1][i3]) % length);
                if (!(s[2] > threshold[2])) continue;
                for (int i4 = 0; i4 < 4 && !stop; ++i4) {
                    choice[3] = i4;
                    place(3, (p[2] + steps[2][i4]) % length);
                    if (!(s[3] > threshold[3])) continue;
                    for (int i5 = 0; i5 < 4 && !stop; ++i5) {
                        choice[4] = i5;
                        place(4, (p[3] + steps[3][i5]) % length);
                        if (!(s[4] > threshold[4])) continue;
                        for (int i6 = 0; i6 < 4; ++i6) {
                            choice[5] = i6;
                            place(5, (p[4] + steps[4][i6]) % length);
                            for (int i7 = 0; i7 < 4; ++i7) {
                                choice[6] = i7;
                                place(6, (p[5] + steps[5][i7]) % length);
                                const float s7 = s[6];
                                // A leaf whose approximated energy is not positive cannot be judged.
                                if (e[6] > 0.0f && s7 * s7 * bestE > bestS2 * e[6]) {
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
    float k = 0.0f;
    float e = 0.0f;
    for (int n = 0; n < length; ++n) {
        k += target[n] * f[n];
        e += f[n] * f[n];
    }
    if (!(k > 0.0f) || !(e > 0.0f)) return 0;
    const float gain = k / e;
    int index = 0;
    float bestDiff = std::fabs(kPulseGain[0] - gain);
    for (int i = 1; i < 32; ++i) {
        const float diff = std::fabs(kPulseGain[i] - gain);
        if (diff < bestDiff) {
            bestDiff = diff;
            index = i;
        }
    }
    return index;
}

} // namespace vntr::vt4864v6
