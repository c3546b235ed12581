#include "pulse_search.hpp"

#include "excitation.hpp"
#include "tables.hpp"

#include <cmath>

namespace vntr::vt4864v6 {
namespace {

// Correlations of the filtered unit pulses at every pair of positions, with
// the pair signs applied: phi(a, b) = s(a) s(b) sum_{n=0}^{L-1-max(a,b)} h(n) h(n + |b - a|).
// The search's running energies are therefore exact.  (A table over pairs of
// samples, looked up at the even-aligned entry, would be cheaper but gives
// pulses at odd spacings the correlation - and the sign - of a neighbouring
// pair, which misleads the search.)
class PulseCorrelations {
public:
    PulseCorrelations(const float *h, const float *pairSign, int length) {
        // For each distance d the partial sums C_d(k) = sum_{n<=k} h(n) h(n+d) give
        // phi(a, a+d) = C_d(L-1-a-d), so the matrix costs one pass per distance.
        for (int d = 0; d < length; ++d) {
            float acc = 0.0f;
            float partial[kMaxSubframeLength];
            for (int k = 0; k + d < length; ++k) {
                acc += h[k] * h[k + d];
                partial[k] = acc;
            }
            for (int a = 0; a + d < length; ++a) {
                const int b = a + d;
                const float value = partial[length - 1 - b] * pairSign[a >> 1] * pairSign[b >> 1];
                phi_[a][b] = value;
                phi_[b][a] = value;
            }
        }
    }
    float operator()(int a, int b) const { return phi_[a][b]; }

private:
    float phi_[kMaxSubframeLength][kMaxSubframeLength];
};

} // namespace

PulseChoice SearchPulses(const float *target, const float *h, const RateMode &mode, PulseBudgets &budgets,
                         float *c, float *f) {
    const int length = mode.subframeLength;
    const int grid = mode.grid;

    // Backward-filtered target and the sign of each pair of samples; every
    // pulse takes the sign of its pair.
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
    const PulseCorrelations corr(h, pairSign, length);

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
