#include "vq_training.hpp"

#include <vntr/dsp/lsp.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>
#include <thread>

namespace vntr::train {
namespace {

// Runs body(begin, end) over [0, n) in a few contiguous slices, one thread
// each; the slices write disjoint outputs, so results do not depend on the
// number of threads.
template <typename Body>
void ParallelFor(std::size_t n, Body body) {
    const unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    if (threads == 1 || n < 1024) {
        body(std::size_t{0}, n);
        return;
    }
    std::vector<std::thread> pool;
    const std::size_t step = (n + threads - 1) / threads;
    for (unsigned t = 0; t < threads; ++t) {
        const std::size_t b = std::min(n, t * step);
        const std::size_t e = std::min(n, b + step);
        pool.emplace_back([=] { body(b, e); });
    }
    for (auto &th : pool) th.join();
}

float Distance(const float *x, const float *w, const float *c, int dim) {
    float e = 0.0f;
    for (int k = 0; k < dim; ++k) {
        const float d = x[k] - c[k];
        e += w[k] * d * d;
    }
    return e;
}

// Re-seeds entries that no vector chose with perturbed copies of the entries
// whose cells carry the largest error (halving that error each time, so one
// large cell is not split over and over).
void ReseedEmpty(Codebook &book, const std::vector<std::size_t> &members, std::vector<double> cellError,
                 std::mt19937 &rng) {
    std::normal_distribution<float> jitter(0.0f, 1.0f);
    for (int c = 0; c < book.count; ++c) {
        if (members[static_cast<std::size_t>(c)] > 0 || book.fixed[static_cast<std::size_t>(c)]) continue;
        const auto worst = static_cast<int>(std::max_element(cellError.begin(), cellError.end()) - cellError.begin());
        for (int k = 0; k < book.dim; ++k) {
            const float x = book.At(worst)[k];
            book.At(c)[k] = x + 0.002f * jitter(rng) * (1.0f + std::fabs(x));
        }
        cellError[static_cast<std::size_t>(worst)] *= 0.5;
    }
}

} // namespace

void WeightedSet::Add(const float *v, const float *w) {
    values.insert(values.end(), v, v + dim);
    weights.insert(weights.end(), w, w + dim);
}

void Codebook::Fix(int i, const float *v) {
    std::copy(v, v + dim, At(i));
    fixed[static_cast<std::size_t>(i)] = 1;
}

int NearestCode(const Codebook &book, const float *x, const float *w, float *error) {
    int best = 0;
    float bestError = 3e38f;
    for (int c = 0; c < book.count; ++c) {
        const float e = Distance(x, w, book.At(c), book.dim);
        if (e < bestError) {
            bestError = e;
            best = c;
        }
    }
    if (error) *error = bestError;
    return best;
}

double WeightedKMeans(const WeightedSet &set, Codebook &book, int iterations, std::mt19937 &rng,
                      std::vector<int> *cells, std::vector<double> *cellErrors) {
    const std::size_t n = set.size();
    const int dim = book.dim;
    std::vector<int> cell(n);
    std::vector<float> err(n);
    double total = 0.0;
    for (int it = 0; it < iterations; ++it) {
        ParallelFor(n, [&](std::size_t b, std::size_t e) {
            for (std::size_t v = b; v < e; ++v) cell[v] = NearestCode(book, set.Value(v), set.Weight(v), &err[v]);
        });
        if (it + 1 == iterations && (cells || cellErrors)) {
            if (cells) *cells = cell;
            if (cellErrors) {
                cellErrors->assign(static_cast<std::size_t>(book.count), 0.0);
                for (std::size_t v = 0; v < n; ++v) (*cellErrors)[static_cast<std::size_t>(cell[v])] += err[v];
            }
        }
        std::vector<double> num(book.vectors.size(), 0.0);
        std::vector<double> den(book.vectors.size(), 0.0);
        std::vector<double> cellError(static_cast<std::size_t>(book.count), 0.0);
        std::vector<std::size_t> members(static_cast<std::size_t>(book.count), 0);
        total = 0.0;
        for (std::size_t v = 0; v < n; ++v) {
            const auto c = static_cast<std::size_t>(cell[v]);
            total += err[v];
            cellError[c] += err[v];
            ++members[c];
            const float *x = set.Value(v);
            const float *w = set.Weight(v);
            for (int k = 0; k < dim; ++k) {
                num[c * static_cast<std::size_t>(dim) + static_cast<std::size_t>(k)] +=
                    static_cast<double>(w[k]) * x[k];
                den[c * static_cast<std::size_t>(dim) + static_cast<std::size_t>(k)] += w[k];
            }
        }
        for (int c = 0; c < book.count; ++c) {
            if (book.fixed[static_cast<std::size_t>(c)] || members[static_cast<std::size_t>(c)] == 0) continue;
            for (int k = 0; k < dim; ++k) {
                const auto i = static_cast<std::size_t>(c * dim + k);
                if (den[i] > 0.0) book.vectors[i] = static_cast<float>(num[i] / den[i]);
            }
        }
        ReseedEmpty(book, members, cellError, rng);
    }
    return n ? total / static_cast<double>(n) : 0.0;
}

namespace {

// Principal axis of a cell's members (power iteration on their covariance)
// and the standard deviation along it.
std::vector<float> PrincipalAxis(const WeightedSet &set, const std::vector<int> &cells, int cell, const float *centre,
                                 double *sigma) {
    const int dim = set.dim;
    std::vector<double> cov(static_cast<std::size_t>(dim * dim), 0.0);
    std::size_t members = 0;
    for (std::size_t v = 0; v < set.size(); ++v) {
        if (cells[v] != cell) continue;
        ++members;
        const float *x = set.Value(v);
        for (int i = 0; i < dim; ++i) {
            for (int j = 0; j < dim; ++j) {
                cov[static_cast<std::size_t>(i * dim + j)] +=
                    (x[i] - centre[i]) * static_cast<double>(x[j] - centre[j]);
            }
        }
    }
    std::vector<double> v(static_cast<std::size_t>(dim));
    for (int i = 0; i < dim; ++i) v[static_cast<std::size_t>(i)] = 1.0 + 0.1 * i; // generic start
    double lambda = 0.0;
    for (int it = 0; it < 30 && members > 1; ++it) {
        std::vector<double> u(static_cast<std::size_t>(dim), 0.0);
        for (int i = 0; i < dim; ++i) {
            for (int j = 0; j < dim; ++j)
                u[static_cast<std::size_t>(i)] +=
                    cov[static_cast<std::size_t>(i * dim + j)] * v[static_cast<std::size_t>(j)];
        }
        double norm = 0.0;
        for (double x : u) norm += x * x;
        norm = std::sqrt(norm);
        if (norm <= 0.0) break;
        for (int i = 0; i < dim; ++i) v[static_cast<std::size_t>(i)] = u[static_cast<std::size_t>(i)] / norm;
        lambda = norm;
    }
    double vn = 0.0;
    for (double x : v) vn += x * x;
    vn = std::sqrt(vn);
    *sigma = members > 1 ? std::sqrt(lambda / static_cast<double>(members)) : 0.0;
    std::vector<float> axis(static_cast<std::size_t>(dim));
    for (int i = 0; i < dim; ++i)
        axis[static_cast<std::size_t>(i)] = static_cast<float>(v[static_cast<std::size_t>(i)] / vn);
    return axis;
}

} // namespace

Codebook GrowCodebook(const WeightedSet &set, int count, const std::vector<FixedEntry> &fixed, int iterationsPerLevel,
                      std::mt19937 &rng, bool verbose) {
    const int dim = set.dim;
    const int fixedCount = static_cast<int>(fixed.size());
    const int freeCount = count - fixedCount;
    // Working book: the fixed entries first, then the free entries grown so far.
    auto working = [&](int grown) {
        Codebook b(dim, fixedCount + grown);
        for (int i = 0; i < fixedCount; ++i) b.Fix(i, fixed[static_cast<std::size_t>(i)].values.data());
        return b;
    };
    Codebook book = working(freeCount > 0 ? 1 : 0);
    if (freeCount > 0) {
        for (int k = 0; k < dim; ++k) {
            double num = 0.0, den = 0.0;
            for (std::size_t v = 0; v < set.size(); ++v) {
                num += static_cast<double>(set.Weight(v)[k]) * set.Value(v)[k];
                den += set.Weight(v)[k];
            }
            book.At(fixedCount)[k] = den > 0.0 ? static_cast<float>(num / den) : 0.0f;
        }
    }
    std::vector<int> cells;
    std::vector<double> cellErrors;
    WeightedKMeans(set, book, 1, rng, &cells, &cellErrors);
    int grown = freeCount > 0 ? 1 : 0;
    while (grown < freeCount) {
        const int add = std::min(grown, freeCount - grown);
        // Split the free entries with the largest cell errors.
        std::vector<int> order(static_cast<std::size_t>(grown));
        for (int i = 0; i < grown; ++i) order[static_cast<std::size_t>(i)] = fixedCount + i;
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return cellErrors[static_cast<std::size_t>(a)] > cellErrors[static_cast<std::size_t>(b)];
        });
        Codebook next = working(grown + add);
        std::copy(book.vectors.begin(), book.vectors.end(), next.vectors.begin());
        for (int i = 0; i < add; ++i) {
            const int from = order[static_cast<std::size_t>(i)];
            double sigma = 0.0;
            const std::vector<float> axis = PrincipalAxis(set, cells, from, book.At(from), &sigma);
            const float step = static_cast<float>(std::max(0.5 * sigma, 1e-4));
            float *a = next.At(from);
            float *b = next.At(fixedCount + grown + i);
            for (int k = 0; k < dim; ++k) {
                const float c = book.At(from)[k];
                a[k] = c - step * axis[static_cast<std::size_t>(k)];
                b[k] = c + step * axis[static_cast<std::size_t>(k)];
            }
        }
        grown += add;
        book = std::move(next);
        const double d = WeightedKMeans(set, book, std::max(1, iterationsPerLevel), rng, &cells, &cellErrors);
        if (verbose) std::fprintf(stderr, "    %4d vectors: mean weighted error %.6g\n", book.count, d);
    }
    // Local minima of k-means leave some cells crowded with entries and others
    // starved: move the free entry of least use next to the one with the most
    // error (split along its cell's axis) and keep the move when it pays.
    if (freeCount > 2) {
        double total = 0.0;
        for (double e : cellErrors) total += e;
        for (int attempt = 0; attempt < std::max(4, freeCount / 2); ++attempt) {
            int weakest = -1, worst = -1;
            for (int c = fixedCount; c < book.count; ++c) {
                const double e = cellErrors[static_cast<std::size_t>(c)];
                if (weakest < 0 || e < cellErrors[static_cast<std::size_t>(weakest)]) weakest = c;
                if (worst < 0 || e > cellErrors[static_cast<std::size_t>(worst)]) worst = c;
            }
            if (weakest == worst) break;
            Codebook trial = book;
            double sigma = 0.0;
            const std::vector<float> axis = PrincipalAxis(set, cells, worst, book.At(worst), &sigma);
            const float step = static_cast<float>(std::max(0.5 * sigma, 1e-4));
            for (int k = 0; k < dim; ++k) {
                trial.At(worst)[k] = book.At(worst)[k] - step * axis[static_cast<std::size_t>(k)];
                trial.At(weakest)[k] = book.At(worst)[k] + step * axis[static_cast<std::size_t>(k)];
            }
            std::vector<int> trialCells;
            std::vector<double> trialErrors;
            WeightedKMeans(set, trial, std::max(2, iterationsPerLevel / 2), rng, &trialCells, &trialErrors);
            double trialTotal = 0.0;
            for (double e : trialErrors) trialTotal += e;
            if (trialTotal < total * (1.0 - 1e-6)) {
                book = std::move(trial);
                cells = std::move(trialCells);
                cellErrors = std::move(trialErrors);
                total = trialTotal;
            } else {
                break;
            }
        }
        if (verbose)
            std::fprintf(stderr, "    %4d vectors after moving idle entries: mean weighted error %.6g\n", book.count,
                         set.size() ? total / static_cast<double>(set.size()) : 0.0);
    }
    // Place the free entries at the indices the fixed ones leave.
    Codebook out(dim, count);
    std::vector<char> taken(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < fixedCount; ++i) {
        out.Fix(fixed[static_cast<std::size_t>(i)].index, fixed[static_cast<std::size_t>(i)].values.data());
        taken[static_cast<std::size_t>(fixed[static_cast<std::size_t>(i)].index)] = 1;
    }
    for (int c = 0, j = fixedCount; c < count; ++c) {
        if (taken[static_cast<std::size_t>(c)]) continue;
        std::copy(book.At(j), book.At(j) + dim, out.At(c));
        ++j;
    }
    return out;
}

// --- multi-stage quantisers -------------------------------------------------

void MsvqTrainingSet::Add(const float *target, const float *weight, const float *base, int first, int count) {
    targets.insert(targets.end(), target, target + dim);
    weights.insert(weights.end(), weight, weight + dim);
    if (base) {
        bases.insert(bases.end(), base, base + dim);
    } else {
        bases.insert(bases.end(), static_cast<std::size_t>(dim), 0.0f);
    }
    firstStage.push_back(first);
    stageCount.push_back(count);
}

std::vector<dsp::MsvqStage> Msvq::View() const {
    std::vector<dsp::MsvqStage> v;
    for (const Codebook &b : stages) v.push_back({b.vectors.data(), b.count});
    return v;
}

double CodeMsvqSet(const MsvqTrainingSet &set, const Msvq &q, int keep, std::vector<MsvqCoding> *codings) {
    const std::vector<dsp::MsvqStage> view = q.View();
    const std::size_t n = set.size();
    std::vector<MsvqCoding> local;
    std::vector<MsvqCoding> &out = codings ? *codings : local;
    out.assign(n, MsvqCoding{});
    ParallelFor(n, [&](std::size_t b, std::size_t e) {
        for (std::size_t v = b; v < e; ++v) {
            const int first = set.firstStage[v];
            const dsp::MsvqChoice c = dsp::MsvqSearch(set.Target(v), set.Weight(v), set.Base(v), set.dim,
                                                      view.data() + first, set.stageCount[v], keep, nullptr);
            std::copy(c.indices, c.indices + dsp::kMsvqMaxStages, out[v].indices);
            out[v].error = c.error;
        }
    });
    double total = 0.0;
    for (const MsvqCoding &c : out) total += c.error;
    return n ? total / static_cast<double>(n) : 0.0;
}

Msvq TrainMsvqStageByStage(const MsvqTrainingSet &set, const std::vector<int> &sizes,
                           const std::vector<FixedEntry> &fixed, const MsvqTrainingOptions &options) {
    if (sizes.empty() || static_cast<int>(sizes.size()) > dsp::kMsvqMaxStages || set.dim > dsp::kMsvqMaxDim) {
        throw std::invalid_argument("multi-stage quantiser: bad stage count or dimension");
    }
    std::mt19937 rng(options.seed);
    Msvq q;
    const int dim = set.dim;
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        // Residuals left for stage s by the search over the stages trained so far.
        WeightedSet residuals(dim);
        const std::vector<dsp::MsvqStage> view = q.View();
        std::vector<float> r(static_cast<std::size_t>(dim));
        for (std::size_t v = 0; v < set.size(); ++v) {
            const int first = set.firstStage[v];
            if (static_cast<int>(s) < first || static_cast<int>(s) >= first + set.stageCount[v]) continue;
            float sum[dsp::kMsvqMaxDim];
            const int earlier = static_cast<int>(s) - first;
            if (earlier > 0) {
                dsp::MsvqSearch(set.Target(v), set.Weight(v), set.Base(v), dim, view.data() + first, earlier,
                                options.keep, sum);
            } else {
                std::copy(set.Base(v), set.Base(v) + dim, sum);
            }
            for (int k = 0; k < dim; ++k) r[static_cast<std::size_t>(k)] = set.Target(v)[k] - sum[k];
            residuals.Add(r.data(), set.Weight(v));
        }
        std::vector<FixedEntry> here;
        for (const FixedEntry &f : fixed) {
            if (f.stage == static_cast<int>(s)) here.push_back(f);
        }
        if (options.verbose) std::fprintf(stderr, "  stage %zu: %zu training vectors\n", s + 1, residuals.size());
        q.stages.push_back(GrowCodebook(residuals, sizes[s], here, options.kmeansIterations, rng, options.verbose));
    }
    return q;
}

double RefineMsvq(const MsvqTrainingSet &set, Msvq &q, const MsvqTrainingOptions &options, int passes) {
    std::mt19937 rng(options.seed + 1);
    const int dim = set.dim;
    const std::size_t n = set.size();
    std::vector<MsvqCoding> codings;
    double bestError = CodeMsvqSet(set, q, options.keep, &codings);
    Msvq best = q;
    if (options.verbose) std::fprintf(stderr, "  joint refinement: start, mean weighted error %.6g\n", bestError);
    for (int pass = 1; pass <= passes; ++pass) {
        for (std::size_t s = 0; s < q.stages.size(); ++s) {
            Codebook &book = q.stages[s];
            std::vector<double> num(book.vectors.size(), 0.0);
            std::vector<double> den(book.vectors.size(), 0.0);
            std::vector<std::size_t> members(static_cast<std::size_t>(book.count), 0);
            std::vector<double> cellError(static_cast<std::size_t>(book.count), 0.0);
            for (std::size_t v = 0; v < n; ++v) {
                const int first = set.firstStage[v];
                const int rel = static_cast<int>(s) - first;
                if (rel < 0 || rel >= set.stageCount[v]) continue;
                // What this vector needs from stage s, given its other stages.
                float need[dsp::kMsvqMaxDim];
                for (int k = 0; k < dim; ++k) need[k] = set.Target(v)[k] - set.Base(v)[k];
                for (int t = 0; t < set.stageCount[v]; ++t) {
                    if (t == rel) continue;
                    const float *c = q.stages[static_cast<std::size_t>(first + t)].At(codings[v].indices[t]);
                    for (int k = 0; k < dim; ++k) need[k] -= c[k];
                }
                const int idx = codings[v].indices[rel];
                ++members[static_cast<std::size_t>(idx)];
                cellError[static_cast<std::size_t>(idx)] += codings[v].error;
                const float *w = set.Weight(v);
                for (int k = 0; k < dim; ++k) {
                    num[static_cast<std::size_t>(idx * dim + k)] += static_cast<double>(w[k]) * need[k];
                    den[static_cast<std::size_t>(idx * dim + k)] += w[k];
                }
            }
            for (int c = 0; c < book.count; ++c) {
                if (book.fixed[static_cast<std::size_t>(c)] || members[static_cast<std::size_t>(c)] == 0) continue;
                for (int k = 0; k < dim; ++k) {
                    const auto i = static_cast<std::size_t>(c * dim + k);
                    if (den[i] > 0.0) book.vectors[i] = static_cast<float>(num[i] / den[i]);
                }
            }
            ReseedEmpty(book, members, cellError, rng);
        }
        const double error = CodeMsvqSet(set, q, options.keep, &codings);
        if (options.verbose)
            std::fprintf(stderr, "  joint refinement: pass %d, mean weighted error %.6g\n", pass, error);
        if (error < bestError) {
            bestError = error;
            best = q;
        }
    }
    q = best;
    return bestError;
}

// --- measures -----------------------------------------------------------------

double LspSpectralDistortion(const float *a, const float *b, int order) {
    constexpr int kBins = 64;
    float pa[dsp::kMaxLspOrder];
    float pb[dsp::kMaxLspOrder];
    dsp::LspToLpc(a, order, pa);
    dsp::LspToLpc(b, order, pb);
    double sum = 0.0;
    for (int k = 0; k < kBins; ++k) {
        const double w = std::numbers::pi * (k + 0.5) / kBins;
        double ra = 1.0, ia = 0.0, rb = 1.0, ib = 0.0;
        for (int i = 0; i < order; ++i) {
            const double c = std::cos(w * (i + 1));
            const double s = std::sin(w * (i + 1));
            ra += pa[i] * c;
            ia -= pa[i] * s;
            rb += pb[i] * c;
            ib -= pb[i] * s;
        }
        const double d = 10.0 * std::log10((rb * rb + ib * ib) / (ra * ra + ia * ia));
        sum += d * d;
    }
    return std::sqrt(sum / kBins);
}

void DistortionStats::Add(double sd) {
    ++frames;
    sum += sd;
    over2 += sd > 2.0;
    over4 += sd > 4.0;
}

void DistortionStats::Merge(const DistortionStats &o) {
    frames += o.frames;
    sum += o.sum;
    over2 += o.over2;
    over4 += o.over4;
}

std::string DistortionStats::Summary() const {
    char line[160];
    std::snprintf(line, sizeof line, "SD %.3f dB, >2 dB %.2f%%, >4 dB %.3f%% (%zu frames)", Mean(), PercentOver2(),
                  PercentOver4(), frames);
    return line;
}

} // namespace vntr::train
