#include "predictor_training.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vntr::train {
namespace {

bool Solve5(double a[5][5], double b[5], double x[5]) {
    // Gaussian elimination with partial pivoting.
    int perm[5] = {0, 1, 2, 3, 4};
    for (int col = 0; col < 5; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 5; ++r) {
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        }
        if (std::fabs(a[pivot][col]) < 1e-12) return false;
        if (pivot != col) {
            std::swap(a[pivot], a[col]);
            std::swap(b[pivot], b[col]);
            std::swap(perm[pivot], perm[col]);
        }
        for (int r = col + 1; r < 5; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int c = col; c < 5; ++c) a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (int r = 4; r >= 0; --r) {
        double s = b[r];
        for (int c = r + 1; c < 5; ++c) s -= a[r][c] * x[c];
        x[r] = s / a[r][r];
    }
    return true;
}

// The centroid (sum R) b = sum c, shrunk by a growing ridge (R + lambda diag R)
// until it lies within the range; a large enough ridge always gets there.
bool ConstrainedCentroid(const std::array<double, 25> &R, const std::array<double, 5> &C,
                         const PredictorTrainingRules &rules, double *x) {
    double trace = 0.0;
    for (int j = 0; j < 5; ++j) trace += R[static_cast<std::size_t>(j * 5 + j)];
    if (!(trace > 0.0)) return false;
    double lambda = rules.ridge;
    for (int attempt = 0; attempt < 60; ++attempt, lambda *= 2.0) {
        double a[5][5];
        double b[5];
        for (int j = 0; j < 5; ++j) {
            for (int k = 0; k < 5; ++k) a[j][k] = R[static_cast<std::size_t>(j * 5 + k)];
            a[j][j] += lambda * (R[static_cast<std::size_t>(j * 5 + j)] + 1e-9 * trace);
            b[j] = C[static_cast<std::size_t>(j)];
        }
        if (!Solve5(a, b, x)) continue;
        if (!rules.constrain) return std::isfinite(x[0] + x[1] + x[2] + x[3] + x[4]);
        if (rules.WithinRange(x)) return true;
    }
    return false;
}

} // namespace

bool PredictorTrainingRules::IsFixed(int entry) const {
    return std::find(fixed.begin(), fixed.end(), entry) != fixed.end();
}

bool PredictorTrainingRules::WithinRange(const double *b) const {
    double sum = 0.0;
    for (int j = 0; j < 5; ++j) {
        if (std::fabs(b[j]) > tapLimit) return false;
        sum += b[j];
    }
    return sum >= tapSumLow && sum <= tapSumHigh;
}

double PredictorErrorChange(const dsp::PredictorStatistics &s, const double *b) {
    double r = 0.0;
    for (int j = 0; j < 5; ++j) r += -2.0 * b[j] * s.c[j] + b[j] * b[j] * s.e[j];
    int p = 0;
    for (int j = 1; j < 5; ++j) {
        for (int k = 0; k < j; ++k) r += 2.0 * b[j] * b[k] * s.x[p++];
    }
    return r;
}

void EnforcePredictorRange(dsp::PredictorCodebook &book, const PredictorTrainingRules &rules) {
    if (!rules.constrain) return;
    for (int e = 0; e < dsp::kPredictorEntries; ++e) {
        if (rules.IsFixed(e)) continue;
        for (int attempt = 0; attempt < 200 && !rules.WithinRange(book.taps[e]); ++attempt) {
            for (int j = 0; j < 5; ++j) book.taps[e][j] *= 0.97;
        }
    }
}

PredictorLloydResult PredictorLloyd(const std::vector<PredictorObservation> &obs, dsp::PredictorCodebook &book,
                                    int count, const PredictorTrainingRules &rules, std::mt19937 &rng, bool update) {
    constexpr int kEntries = dsp::kPredictorEntries;
    std::vector<std::array<double, 25>> sumR(static_cast<std::size_t>(kEntries));
    std::vector<std::array<double, 5>> sumC(static_cast<std::size_t>(kEntries));
    std::vector<double> cellErr(kEntries, 0.0);
    std::vector<int> members(kEntries, 0);
    for (auto &r : sumR) r.fill(0.0);
    for (auto &c : sumC) c.fill(0.0);
    double energy = 0.0;
    double residual = 0.0;
    for (const PredictorObservation &o : obs) {
        // The encoder's own search over the entries in use.
        float best = -3e38f;
        int entry = 0;
        int candidate = 0;
        for (int e = 0; e < kEntries; ++e) {
            if (e >= count && !rules.IsFixed(e)) continue;
            for (int c = 0; c < o.candidates; ++c) {
                const float s = dsp::PredictorScore(o.stats[static_cast<std::size_t>(c)], book, e);
                if (s > best) {
                    best = s;
                    entry = e;
                    candidate = c;
                }
            }
        }
        const dsp::PredictorStatistics &st = o.stats[static_cast<std::size_t>(candidate)];
        const double change = PredictorErrorChange(st, book.taps[entry]);
        energy += o.targetEnergy;
        residual += o.targetEnergy + change;
        cellErr[static_cast<std::size_t>(entry)] += o.targetEnergy + change;
        ++members[static_cast<std::size_t>(entry)];
        auto &R = sumR[static_cast<std::size_t>(entry)];
        auto &C = sumC[static_cast<std::size_t>(entry)];
        int p = 0;
        for (int j = 0; j < 5; ++j) {
            C[static_cast<std::size_t>(j)] += st.c[j];
            R[static_cast<std::size_t>(j * 5 + j)] += st.e[j];
        }
        for (int j = 1; j < 5; ++j) {
            for (int k = 0; k < j; ++k) {
                R[static_cast<std::size_t>(j * 5 + k)] += st.x[p];
                R[static_cast<std::size_t>(k * 5 + j)] += st.x[p];
                ++p;
            }
        }
    }
    PredictorLloydResult result{10.0 * std::log10(energy / std::max(residual, 1e-9)), 0};
    if (!update) return result;
    for (int e = 0; e < count; ++e) {
        if (rules.IsFixed(e)) continue;
        if (members[static_cast<std::size_t>(e)] < rules.minMembers) {
            ++result.emptyCells;
            continue;
        }
        double x[5];
        if (ConstrainedCentroid(sumR[static_cast<std::size_t>(e)], sumC[static_cast<std::size_t>(e)], rules, x)) {
            for (int j = 0; j < 5; ++j) book.taps[e][j] = x[j];
        }
    }
    // Empty cells take a perturbed copy of the entry with the largest error.
    std::normal_distribution<double> jitter(0.0, 0.02);
    for (int e = 0; e < count; ++e) {
        if (rules.IsFixed(e) || members[static_cast<std::size_t>(e)] >= rules.minMembers) continue;
        int worst = -1;
        for (int k = 0; k < count; ++k) {
            if (rules.IsFixed(k)) continue;
            if (worst < 0 || cellErr[static_cast<std::size_t>(k)] > cellErr[static_cast<std::size_t>(worst)]) worst = k;
        }
        for (int j = 0; j < 5; ++j) book.taps[e][j] = book.taps[worst][j] + jitter(rng);
        cellErr[static_cast<std::size_t>(worst)] *= 0.5;
    }
    EnforcePredictorRange(book, rules);
    dsp::DerivePredictorSearch(book);
    return result;
}

std::string PredictorRanges(const dsp::PredictorCodebook &book) {
    double low = 1e9, high = -1e9, largest = 0.0;
    for (int e = 0; e < dsp::kPredictorEntries; ++e) {
        double sum = 0.0;
        for (int j = 0; j < 5; ++j) {
            sum += book.taps[e][j];
            largest = std::max(largest, std::fabs(book.taps[e][j]));
        }
        low = std::min(low, sum);
        high = std::max(high, sum);
    }
    char text[120];
    std::snprintf(text, sizeof text, "tap sums %.2f .. %.2f, largest tap %.2f", low, high, largest);
    return text;
}

} // namespace vntr::train
