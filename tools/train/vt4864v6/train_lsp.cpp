// Trains the three LSP split codebooks of VT4864v6 (256 x 3, 256 x 3, 256 x 4)
// and writes them as the generated table codebooks/lsp_codebook.inc.
//
// The codebooks quantise the mean-removed predicted residual
//   r_i = (w_i - mean_i) - pred_i (prev_i - mean_i)
// with the encoder's weighted distance sum_i weight_i (r_i - c_i)^2.  Because
// the prediction uses the previous *quantised* vector, training runs in
// closed loop: every pass quantises each training file in order with the
// current codebooks (rebuilding and stabilising exactly as the encoder does),
// collects the residuals that this quantisation produces, and moves every
// code vector to the weighted centroid of its cell.  The first pass starts
// from codebooks grown by splitting (LBG) on the open-loop residuals.  Entry 0
// of each split keeps the value the coded-frame format fixes.
#include "lsp_training_data.hpp"
#include "speech_io.hpp"
#include "tables.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <random>

using namespace vntr::vt4864v6;
using vntr::vt4864v6::train::LspSequence;

namespace {

const float kFixedFirst[3][4] = {
    {0.104308f, 0.049739f, -0.064519f, 0.0f},
    {-0.069825f, -0.061812f, 0.203854f, 0.0f},
    {-0.026463f, 0.157317f, 0.063104f, -0.218951f},
};

int Dim(int split) {
    return kLspSplitStart[split + 1] - kLspSplitStart[split];
}

// Training vectors of one split: residuals and weights, dim values each.
struct SplitSet {
    std::vector<float> r;
    std::vector<float> w;
    std::size_t size(int dim) const { return r.size() / static_cast<std::size_t>(dim); }
};

float Distance(const float *r, const float *w, const float *c, int dim) {
    float e = 0.0f;
    for (int i = 0; i < dim; ++i) e += w[i] * (r[i] - c[i]) * (r[i] - c[i]);
    return e;
}

int Nearest(const float *r, const float *w, const std::vector<float> &book, int count, int dim, float *err) {
    float best = 1e36f;
    int index = 0;
    for (int c = 0; c < count; ++c) {
        const float e = Distance(r, w, &book[static_cast<std::size_t>(c * dim)], dim);
        if (e < best) {
            best = e;
            index = c;
        }
    }
    *err = best;
    return index;
}

// Weighted k-means on one split's set; code vector 0 stays fixed.  Cells left
// empty take a perturbed copy of the cell with the largest distortion.
double KMeans(const SplitSet &set, int dim, std::vector<float> &book, int count, int iterations, std::mt19937 &rng) {
    const std::size_t n = set.size(dim);
    double total = 0.0;
    for (int it = 0; it < iterations; ++it) {
        std::vector<double> num(static_cast<std::size_t>(count * dim), 0.0);
        std::vector<double> den(static_cast<std::size_t>(count * dim), 0.0);
        std::vector<double> cellErr(static_cast<std::size_t>(count), 0.0);
        std::vector<int> members(static_cast<std::size_t>(count), 0);
        total = 0.0;
        for (std::size_t v = 0; v < n; ++v) {
            const float *r = &set.r[v * static_cast<std::size_t>(dim)];
            const float *w = &set.w[v * static_cast<std::size_t>(dim)];
            float err;
            const int c = Nearest(r, w, book, count, dim, &err);
            total += err;
            cellErr[static_cast<std::size_t>(c)] += err;
            ++members[static_cast<std::size_t>(c)];
            for (int i = 0; i < dim; ++i) {
                num[static_cast<std::size_t>(c * dim + i)] += static_cast<double>(w[i]) * r[i];
                den[static_cast<std::size_t>(c * dim + i)] += w[i];
            }
        }
        for (int c = 1; c < count; ++c) {
            if (members[static_cast<std::size_t>(c)] > 0) {
                for (int i = 0; i < dim; ++i) {
                    const auto k = static_cast<std::size_t>(c * dim + i);
                    if (den[k] > 0.0) book[k] = static_cast<float>(num[k] / den[k]);
                }
            }
        }
        std::normal_distribution<float> jitter(0.0f, 0.002f);
        for (int c = 1; c < count; ++c) {
            if (members[static_cast<std::size_t>(c)] > 0) continue;
            const auto worst = static_cast<int>(std::max_element(cellErr.begin() + 1, cellErr.end()) - cellErr.begin());
            for (int i = 0; i < dim; ++i) {
                book[static_cast<std::size_t>(c * dim + i)] =
                    book[static_cast<std::size_t>(worst * dim + i)] + jitter(rng);
            }
            cellErr[static_cast<std::size_t>(worst)] *= 0.5;
        }
    }
    return total / static_cast<double>(n);
}

// Grows a codebook by splitting: entry 0 fixed, the rest doubled level by level.
std::vector<float> GrowCodebook(const SplitSet &set, int split, int iterations, std::mt19937 &rng) {
    const int dim = Dim(split);
    std::vector<float> book(static_cast<std::size_t>(kLspCodebookSize * dim), 0.0f);
    for (int i = 0; i < dim; ++i) book[static_cast<std::size_t>(i)] = kFixedFirst[split][i];
    // Entry 1 starts at the weighted mean of the set.
    {
        const std::size_t n = set.size(dim);
        for (int i = 0; i < dim; ++i) {
            double num = 0.0;
            double den = 0.0;
            for (std::size_t v = 0; v < n; ++v) {
                num += static_cast<double>(set.w[v * static_cast<std::size_t>(dim) + static_cast<std::size_t>(i)]) *
                       set.r[v * static_cast<std::size_t>(dim) + static_cast<std::size_t>(i)];
                den += set.w[v * static_cast<std::size_t>(dim) + static_cast<std::size_t>(i)];
            }
            book[static_cast<std::size_t>(dim + i)] = static_cast<float>(num / den);
        }
    }
    int count = 2;
    while (count < kLspCodebookSize) {
        const int grow = std::min(count - 1, kLspCodebookSize - count);
        for (int c = 0; c < grow; ++c) {
            const int from = 1 + c;
            const int to = count + c;
            for (int i = 0; i < dim; ++i) {
                const float x = book[static_cast<std::size_t>(from * dim + i)];
                const float delta = 0.01f * (i % 2 ? 1.0f : -1.0f);
                book[static_cast<std::size_t>(to * dim + i)] = x + delta;
                book[static_cast<std::size_t>(from * dim + i)] = x - delta;
            }
        }
        count += grow;
        const double d = KMeans(set, dim, book, count, iterations, rng);
        std::fprintf(stderr, "  split %d: %3d vectors, weighted distortion %.6f\n", split + 1, count, d);
    }
    return book;
}

struct PassResult {
    SplitSet sets[3];
    double weighted = 0.0;
    double sd = 0.0;
    double outliers2 = 0.0; // share of frames above 2 dB
    double outliers4 = 0.0;
};

// Quantises every sequence in order with the codebooks (or, with open-loop
// prediction, from the previous unquantised vector) and collects the residuals.
PassResult QuantisePass(const std::vector<LspSequence> &data, const float *table, bool openLoop) {
    PassResult result;
    std::size_t frames = 0;
    double sdSum = 0.0;
    std::size_t over2 = 0;
    std::size_t over4 = 0;
    for (const LspSequence &seq : data) {
        Lsp previous = InitialLsp();
        for (std::size_t f = 0; f < seq.lsp.size(); ++f) {
            const Lsp &lsp = seq.lsp[f];
            const Lsp &w = seq.weights[f];
            const Lsp r = LspResidual(lsp, previous);
            for (int s = 0; s < 3; ++s) {
                for (int i = kLspSplitStart[s]; i < kLspSplitStart[s + 1]; ++i) {
                    result.sets[s].r.push_back(r[static_cast<std::size_t>(i)]);
                    result.sets[s].w.push_back(w[static_cast<std::size_t>(i)]);
                }
            }
            if (openLoop) {
                previous = lsp;
                continue;
            }
            LspIndices idx;
            for (int sp = 0; sp < 3; ++sp) {
                const int i = SearchLspSplit(sp, r.data(), w.data(), table);
                idx[static_cast<std::size_t>(sp)] = i;
                const float *c = table + LspCodebookOffset(sp) + i * Dim(sp);
                result.weighted += Distance(r.data() + kLspSplitStart[sp], w.data() + kLspSplitStart[sp], c, Dim(sp));
            }
            Lsp q = RebuildLsp(idx, previous, table);
            StabiliseLsp(q, previous);
            const double sd = train::SpectralDistortion(lsp, q);
            sdSum += sd;
            over2 += sd > 2.0;
            over4 += sd > 4.0;
            ++frames;
            previous = q;
        }
    }
    if (frames) {
        result.weighted /= static_cast<double>(frames);
        result.sd = sdSum / static_cast<double>(frames);
        result.outliers2 = 100.0 * static_cast<double>(over2) / static_cast<double>(frames);
        result.outliers4 = 100.0 * static_cast<double>(over4) / static_cast<double>(frames);
    }
    return result;
}

std::vector<float> Assemble(const std::vector<float> books[3]) {
    std::vector<float> table(kLspCodebookValues);
    for (int s = 0; s < 3; ++s) std::copy(books[s].begin(), books[s].end(), table.begin() + LspCodebookOffset(s));
    return table;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Trains the VT4864v6 LSP split codebooks in closed loop"};
    std::string list;
    std::string out = "codecs/vt4864v6/codebooks/lsp_codebook.inc";
    std::vector<std::string> evaluate;
    int passes = 12;
    int kmeansIterations = 10;
    unsigned seed = 4864;
    app.add_option("--list", list, "training corpus: a file of 8 kHz .wav paths, one per line")->required();
    app.add_option("--out", out, "generated table to write");
    app.add_option("--passes", passes, "closed-loop passes");
    app.add_option("--kmeans-iterations", kmeansIterations, "k-means iterations per splitting level");
    app.add_option("--seed", seed, "seed of the empty-cell jitter");
    app.add_option("--evaluate", evaluate, "further files on which to report the spectral distortion (not trained on)");
    CLI11_PARSE(app, argc, argv);

    std::string command = "vt4864v6_train_lsp --list " + list + " --out " + out + " --passes " +
                          std::to_string(passes) + " --kmeans-iterations " + std::to_string(kmeansIterations) +
                          " --seed " + std::to_string(seed);
    try {
        const auto files = vntr::train::ReadList(list);
        const auto data = train::GatherLsp(files);
        std::size_t frames = 0;
        for (const auto &s : data) frames += s.lsp.size();
        std::fprintf(stderr, "%zu files, %zu frames\n", data.size(), frames);
        std::mt19937 rng(seed);

        // Open-loop start.
        PassResult pass = QuantisePass(data, nullptr, true);
        std::vector<float> books[3];
        for (int s = 0; s < 3; ++s) books[s] = GrowCodebook(pass.sets[s], s, kmeansIterations, rng);
        std::vector<float> table = Assemble(books);

        std::vector<float> bestTable = table;
        double bestSd = 1e9;
        PassResult bestPass;
        for (int p = 1; p <= passes; ++p) {
            pass = QuantisePass(data, table.data(), false);
            std::fprintf(stderr, "pass %2d: weighted %.6f  SD %.3f dB  >2 dB %.2f%%  >4 dB %.3f%%\n", p, pass.weighted,
                         pass.sd, pass.outliers2, pass.outliers4);
            if (pass.sd < bestSd) {
                bestSd = pass.sd;
                bestTable = table;
                bestPass = pass;
            }
            if (p == passes) break;
            // Centroids of the residuals this quantisation produced.
            for (int s = 0; s < 3; ++s) KMeans(pass.sets[s], Dim(s), books[s], kLspCodebookSize, 1, rng);
            table = Assemble(books);
        }

        std::vector<std::string> evalLines;
        if (!evaluate.empty()) {
            const auto held = train::GatherLsp(evaluate);
            const PassResult e = QuantisePass(held, bestTable.data(), false);
            char line[200];
            std::snprintf(line, sizeof line, "held-out files: SD %.3f dB, >2 dB %.2f%%, >4 dB %.3f%%", e.sd,
                          e.outliers2, e.outliers4);
            std::fprintf(stderr, "%s\n", line);
        }

        std::ofstream o(out);
        if (!o) throw std::runtime_error(out + ": cannot create");
        o << "// Generated by tools/train/vt4864v6/train_lsp.cpp; do not edit.\n"
          << "// Command: " << command << "\n"
          << "// Corpus: the 8 kHz speech that tools/train/get-training-speech prepares (its list.txt).\n";
        char line[300];
        std::snprintf(line, sizeof line,
                      "// Trained on %zu files, %zu frames; training-set spectral distortion %.3f dB, >2 dB %.2f%%, "
                      ">4 dB %.3f%%.\n",
                      data.size(), frames, bestPass.sd, bestPass.outliers2, bestPass.outliers4);
        o << line << "// Splits 1, 2, 3 (LSPs 1-3, 4-6, 7-10), 256 code vectors each, radians.\n";
        for (int s = 0; s < 3; ++s) {
            for (int c = 0; c < kLspCodebookSize; ++c) {
                for (int i = 0; i < Dim(s); ++i) {
                    std::snprintf(line, sizeof line, "%s%.6ff", i ? ", " : "",
                                  bestTable[static_cast<std::size_t>(LspCodebookOffset(s) + c * Dim(s) + i)]);
                    o << line;
                }
                o << ",\n";
            }
        }
        if (!o) throw std::runtime_error(out + ": write failed");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
