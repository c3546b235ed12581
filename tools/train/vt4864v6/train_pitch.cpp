// Trains the 128 x 5 pitch-predictor codebook of VT4864v6 and writes it as
// the generated table codebooks/pitch_predictor.inc.
//
// For a sub-frame with target t and the five filtered views y_j of the
// extended excitation vector at the chosen lag, entry b leaves the weighted
// error |t - sum_j b_j y_j|^2 = |t|^2 - 2 b.c + b'Rb, with c_j = t.y_j and
// R_jk = y_j.y_k.  The encoder's search maximises b.c - b'Rb/2, i.e.
// minimises exactly this error, so the centroid of a cell is the b that
// minimises the summed error of its members: (sum R) b = sum c.
//
// Training runs in closed loop on the encoder's own targets: every pass
// encodes the corpus at both rates with the current codebook (targets, lags
// and past excitation all follow from it), gathers the statistics (c, R) of
// every sub-frame, then moves the entries to the centroids of their cells.
// The first codebook is grown by splitting on statistics gathered with a
// seed codebook.  Entry 0 (all zeros) and the entries 1, 2 and 127 that the
// coded-frame format fixes are never moved.
#include "encoder.hpp"
#include "speech_io.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <random>

using namespace vntr::vt4864v6;

namespace {

constexpr int kFixed[] = {0, 1, 2, 127};
constexpr double kQuoted[3][5] = {
    {0.190264, 0.031242, 0.084111, -0.219572, -0.301381},
    {0.131206, -0.217990, 0.422116, 0.737703, -0.074948},
    {0.112244, -0.104028, 0.069623, 1.032230, 0.043769},
};

bool IsFixed(int entry) { return std::find(std::begin(kFixed), std::end(kFixed), entry) != std::end(kFixed); }

struct Observation {
    PredictorStatistics stats;
    float targetEnergy;
};

class Collector : public EncoderObserver {
public:
    explicit Collector(std::vector<Observation> &out) : out_(out) {}
    void OnSubframe(const SubframeTrace &trace) override {
        float tt = 0.0f;
        for (int n = 0; n < trace.mode->subframeLength; ++n) tt += trace.target[n] * trace.target[n];
        out_.push_back({*trace.statistics, tt});
    }

private:
    std::vector<Observation> &out_;
};

std::vector<Observation> EncodeCorpus(const std::vector<vntr::train::Speech> &corpus, const PredictorCodebook &book,
                                      LagAlignment alignment) {
    std::vector<Observation> obs;
    Collector collector(obs);
    auto state = std::make_unique<EncoderState>();
    uint8_t coded[kMaxCodedBytes];
    for (const RateMode *mode : {&kRate6400, &kRate4800}) {
        for (const auto &speech : corpus) {
            InitEncoder(*state, false, *mode);
            state->predictor = &book;
            state->alignment = alignment;
            for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength) {
                EncodeFrame(*state, &speech.samples[f], *mode, coded, &collector);
            }
        }
    }
    return obs;
}

// The error left by entry b on an observation, relative to no prediction.
double ErrorChange(const Observation &o, const double *b) {
    double r = 0.0;
    for (int j = 0; j < 5; ++j) r += -2.0 * b[j] * o.stats.c[j] + b[j] * b[j] * o.stats.e[j];
    int p = 0;
    for (int j = 1; j < 5; ++j) {
        for (int k = 0; k < j; ++k) r += 2.0 * b[j] * b[k] * o.stats.x[p++];
    }
    return r;
}

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

// Cells with fewer members are reseeded: their statistics cannot pin five taps down.
constexpr int kMinMembers = 10;

// Every entry keeps a tap sum within the range of the published entries'
// codebook (-0.80 .. 1.86) and no tap above 1.5 in magnitude.  A cell fed by
// onsets, where the past excitation is faint, would otherwise ask for gains of
// ten and more - harmless to the encoder, but in the decoder they would
// amplify the dither and any mismatch of the past excitation.
bool WithinRange(const double *b) {
    double sum = 0.0;
    for (int j = 0; j < 5; ++j) {
        if (std::fabs(b[j]) > 1.5) return false;
        sum += b[j];
    }
    return sum >= -0.80 && sum <= 1.86;
}

// The centroid (sum R) b = sum c, shrunk by a growing ridge (R + lambda diag R)
// until it lies within the range; a large enough ridge always gets there.
bool ConstrainedCentroid(const std::array<double, 25> &R, const std::array<double, 5> &C, double *x) {
    double trace = 0.0;
    for (int j = 0; j < 5; ++j) trace += R[static_cast<std::size_t>(j * 5 + j)];
    if (!(trace > 0.0)) return false;
    double lambda = 1e-6;
    for (int attempt = 0; attempt < 60; ++attempt, lambda *= 2.0) {
        double a[5][5];
        double b[5];
        for (int j = 0; j < 5; ++j) {
            for (int k = 0; k < 5; ++k) a[j][k] = R[static_cast<std::size_t>(j * 5 + k)];
            a[j][j] += lambda * (R[static_cast<std::size_t>(j * 5 + j)] + 1e-9 * trace);
            b[j] = C[static_cast<std::size_t>(j)];
        }
        if (Solve5(a, b, x) && WithinRange(x)) return true;
    }
    return false;
}

// Pulls any entry that left the range (a reseeded or split copy) back towards zero.
void EnforceRange(PredictorCodebook &book) {
    for (int e = 0; e < kPredictorEntries; ++e) {
        if (IsFixed(e)) continue;
        for (int attempt = 0; attempt < 200 && !WithinRange(book.taps[e]); ++attempt) {
            for (int j = 0; j < 5; ++j) book.taps[e][j] *= 0.97;
        }
    }
}

struct LloydResult {
    double gainDb;      // prediction gain over all observations
    int emptyCells;
};

// One assignment and centroid step over `count` entries (entries beyond count unused).
LloydResult Lloyd(const std::vector<Observation> &obs, PredictorCodebook &book, int count, std::mt19937 &rng,
                  bool update) {
    std::vector<std::array<double, 25>> sumR(static_cast<std::size_t>(kPredictorEntries));
    std::vector<std::array<double, 5>> sumC(static_cast<std::size_t>(kPredictorEntries));
    std::vector<double> cellErr(kPredictorEntries, 0.0);
    std::vector<int> members(kPredictorEntries, 0);
    for (auto &r : sumR) r.fill(0.0);
    for (auto &c : sumC) c.fill(0.0);
    double energy = 0.0;
    double residual = 0.0;
    for (const Observation &o : obs) {
        // The encoder's own search over the entries in use.
        float best = -3e38f;
        int entry = 0;
        for (int e = 0; e < kPredictorEntries; ++e) {
            if (e >= count && !IsFixed(e)) continue;
            const float s = PredictorScore(o.stats, book, e);
            if (s > best) {
                best = s;
                entry = e;
            }
        }
        const double change = ErrorChange(o, book.taps[entry]);
        energy += o.targetEnergy;
        residual += o.targetEnergy + change;
        cellErr[static_cast<std::size_t>(entry)] += o.targetEnergy + change;
        ++members[static_cast<std::size_t>(entry)];
        auto &R = sumR[static_cast<std::size_t>(entry)];
        auto &C = sumC[static_cast<std::size_t>(entry)];
        int p = 0;
        for (int j = 0; j < 5; ++j) {
            C[static_cast<std::size_t>(j)] += o.stats.c[j];
            R[static_cast<std::size_t>(j * 5 + j)] += o.stats.e[j];
        }
        for (int j = 1; j < 5; ++j) {
            for (int k = 0; k < j; ++k) {
                R[static_cast<std::size_t>(j * 5 + k)] += o.stats.x[p];
                R[static_cast<std::size_t>(k * 5 + j)] += o.stats.x[p];
                ++p;
            }
        }
    }
    LloydResult result{10.0 * std::log10(energy / std::max(residual, 1e-9)), 0};
    if (!update) return result;
    for (int e = 0; e < count; ++e) {
        if (IsFixed(e)) continue;
        if (members[static_cast<std::size_t>(e)] < kMinMembers) {
            ++result.emptyCells;
            continue;
        }
        double x[5];
        if (ConstrainedCentroid(sumR[static_cast<std::size_t>(e)], sumC[static_cast<std::size_t>(e)], x)) {
            for (int j = 0; j < 5; ++j) book.taps[e][j] = x[j];
        }
    }
    // Empty cells take a perturbed copy of the entry with the largest error.
    std::normal_distribution<double> jitter(0.0, 0.02);
    for (int e = 0; e < count; ++e) {
        if (IsFixed(e) || members[static_cast<std::size_t>(e)] >= kMinMembers) continue;
        int worst = -1;
        for (int k = 0; k < count; ++k) {
            if (IsFixed(k)) continue;
            if (worst < 0 || cellErr[static_cast<std::size_t>(k)] > cellErr[static_cast<std::size_t>(worst)]) worst = k;
        }
        for (int j = 0; j < 5; ++j) book.taps[e][j] = book.taps[worst][j] + jitter(rng);
        cellErr[static_cast<std::size_t>(worst)] *= 0.5;
    }
    EnforceRange(book);
    DerivePredictorSearch(book);
    return result;
}

void PlaceFixed(PredictorCodebook &book) {
    for (int j = 0; j < 5; ++j) {
        book.taps[0][j] = 0.0;
        book.taps[1][j] = kQuoted[0][j];
        book.taps[2][j] = kQuoted[1][j];
        book.taps[127][j] = kQuoted[2][j];
    }
}

// The free entries in the order they are grown: 3, 4, ..., 126.
std::vector<int> FreeEntries() {
    std::vector<int> free;
    for (int e = 0; e < kPredictorEntries; ++e) {
        if (!IsFixed(e)) free.push_back(e);
    }
    return free;
}

// A seed codebook for the first pass: single centre taps of rising gain and
// a few spread shapes.
PredictorCodebook SeedCodebook() {
    PredictorCodebook book{};
    const auto free = FreeEntries();
    for (std::size_t i = 0; i < free.size(); ++i) {
        const double g = 0.1 + 1.1 * static_cast<double>(i % 31) / 30.0;
        const int shape = static_cast<int>(i / 31);
        double *b = book.taps[free[i]];
        if (shape == 0) b[2] = g;
        else if (shape == 1) b[1] = 0.25 * g, b[2] = 0.5 * g, b[3] = 0.25 * g;
        else if (shape == 2) b[1] = 0.6 * g, b[2] = 0.4 * g;
        else b[3] = 0.6 * g, b[2] = 0.4 * g;
    }
    PlaceFixed(book);
    DerivePredictorSearch(book);
    return book;
}

// Grows the free entries by splitting on fixed statistics, from their centroid.
void Grow(const std::vector<Observation> &obs, PredictorCodebook &book, int iterations, std::mt19937 &rng) {
    const auto free = FreeEntries();
    // Entry free[0] becomes the global centroid: run one step with only it free.
    PredictorCodebook work{};
    PlaceFixed(work);
    for (int j = 0; j < 5; ++j) work.taps[free[0]][j] = 0.5 * (j == 2);
    DerivePredictorSearch(work);
    // Work with entry numbers remapped: the first `n` free entries are in use.
    auto inUse = [&](int n) {
        PredictorCodebook b = work;
        for (std::size_t i = static_cast<std::size_t>(n); i < free.size(); ++i) {
            for (int j = 0; j < 5; ++j) b.taps[free[i]][j] = 0.0;
        }
        return b;
    };
    int n = 1;
    while (true) {
        for (int it = 0; it < iterations; ++it) {
            PredictorCodebook b = inUse(n);
            // Entries beyond n are zero and fixed entries are present; mark unused
            // entries by giving them a prohibitive score through huge taps is
            // unnecessary: a zero entry scores like entry 0 and never wins over it.
            DerivePredictorSearch(b);
            Lloyd(obs, b, free[static_cast<std::size_t>(n - 1)] + 1, rng, true);
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < 5; ++j) work.taps[free[static_cast<std::size_t>(i)]][j] = b.taps[free[static_cast<std::size_t>(i)]][j];
            }
        }
        PredictorCodebook b = inUse(n);
        DerivePredictorSearch(b);
        const LloydResult r = Lloyd(obs, b, free[static_cast<std::size_t>(n - 1)] + 1, rng, false);
        std::fprintf(stderr, "  %3d free entries: prediction gain %.3f dB\n", n, r.gainDb);
        if (n == static_cast<int>(free.size())) break;
        const int grow = std::min(n, static_cast<int>(free.size()) - n);
        std::normal_distribution<double> jitter(0.0, 0.01);
        for (int i = 0; i < grow; ++i) {
            double *from = work.taps[free[static_cast<std::size_t>(i)]];
            double *to = work.taps[free[static_cast<std::size_t>(n + i)]];
            for (int j = 0; j < 5; ++j) {
                const double d = 0.02 + jitter(rng);
                to[j] = from[j] * 1.03 + d;
                from[j] = from[j] * 0.97 - d;
            }
        }
        n += grow;
    }
    book = work;
    DerivePredictorSearch(book);
}

void Write(const std::string &path, const PredictorCodebook &book, const std::string &command, const std::string &note) {
    std::ofstream o(path);
    if (!o) throw std::runtime_error(path + ": cannot create");
    o << "// Generated by tools/train/vt4864v6/train_pitch.cpp; do not edit.\n"
      << "// Command: " << command << "\n"
      << "// Corpus: the 8 kHz speech that corpus/get-training-speech prepares (its list.txt).\n"
      << "// " << note << "\n"
      << "// 128 entries of 5 taps (lags T+2, T+1, T, T-1, T-2); entries 0, 1, 2 and 127 are fixed by the format.\n";
    for (int e = 0; e < kPredictorEntries; ++e) {
        char line[200];
        std::snprintf(line, sizeof line, "{%.6f, %.6f, %.6f, %.6f, %.6f},", book.taps[e][0], book.taps[e][1],
                      book.taps[e][2], book.taps[e][3], book.taps[e][4]);
        o << line << "\n";
    }
    if (!o) throw std::runtime_error(path + ": write failed");
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Trains the VT4864v6 pitch-predictor codebook in closed loop"};
    std::string list;
    std::string out = "codecs/vt4864v6/codebooks/pitch_predictor.inc";
    int passes = 8;
    int lloydIterations = 4;
    int growIterations = 6;
    int every = 1;
    unsigned seed = 4864;
    std::string alignment = "centre-tap";
    bool fromBuiltin = false;
    app.add_option("--list", list, "training corpus: a file of 8 kHz .wav paths, one per line")->required();
    app.add_option("--out", out, "generated table to write");
    app.add_option("--passes", passes, "closed-loop passes (each re-encodes the corpus)");
    app.add_option("--lloyd-iterations", lloydIterations, "centroid steps per pass");
    app.add_option("--grow-iterations", growIterations, "centroid steps per splitting level");
    app.add_option("--every", every, "use every n-th file of the list");
    app.add_option("--seed", seed, "seed of the splitting jitter");
    app.add_option("--alignment", alignment, "differential lag search alignment the encoder uses")
        ->check(CLI::IsMember({"vector-start", "centre-tap"}));
    app.add_flag("--from-builtin", fromBuiltin, "start from the library's codebook instead of growing one");
    CLI11_PARSE(app, argc, argv);

    std::string command = "vt4864v6_train_pitch --list " + list + " --out " + out + " --passes " +
                          std::to_string(passes) + " --lloyd-iterations " + std::to_string(lloydIterations) +
                          " --grow-iterations " + std::to_string(growIterations) + " --every " +
                          std::to_string(every) + " --seed " + std::to_string(seed) + " --alignment " + alignment +
                          (fromBuiltin ? " --from-builtin" : "");
    try {
        const LagAlignment align = alignment == "centre-tap" ? LagAlignment::CentreTap : LagAlignment::VectorStart;
        const auto files = vntr::train::ReadList(list);
        std::vector<vntr::train::Speech> corpus;
        double seconds = 0.0;
        for (std::size_t i = 0; i < files.size(); i += static_cast<std::size_t>(std::max(every, 1))) {
            auto s = vntr::train::ReadSpeech(files[i]);
            if (s.sampleRate != 8000) continue;
            seconds += static_cast<double>(s.samples.size()) / 8000.0;
            corpus.push_back(std::move(s));
        }
        std::fprintf(stderr, "%zu files, %.0f s of speech, encoded at both rates per pass\n", corpus.size(), seconds);
        std::mt19937 rng(seed);

        auto book = std::make_unique<PredictorCodebook>();
        if (fromBuiltin) {
            *book = kPredictorCodebook;
        } else {
            const auto seedBook = std::make_unique<PredictorCodebook>(SeedCodebook());
            const auto obs = EncodeCorpus(corpus, *seedBook, align);
            std::fprintf(stderr, "seed pass: %zu sub-frames\n", obs.size());
            Grow(obs, *book, growIterations, rng);
        }
        PlaceFixed(*book);
        DerivePredictorSearch(*book);

        double gain = 0.0;
        for (int p = 1; p <= passes; ++p) {
            const auto obs = EncodeCorpus(corpus, *book, align);
            for (int it = 0; it < lloydIterations; ++it) {
                const LloydResult r = Lloyd(obs, *book, kPredictorEntries, rng, true);
                if (it == 0) gain = r.gainDb;
                std::fprintf(stderr, "pass %d step %d: prediction gain %.3f dB (%d cells reseeded)\n", p, it, r.gainDb,
                             r.emptyCells);
            }
        }
        const auto obs = EncodeCorpus(corpus, *book, align);
        gain = Lloyd(obs, *book, kPredictorEntries, rng, false).gainDb;
        std::fprintf(stderr, "final: prediction gain %.3f dB\n", gain);
        char note[200];
        std::snprintf(note, sizeof note, "Trained on %zu files (%.0f s) at both rates; closed-loop prediction gain %.3f dB.",
                      corpus.size(), seconds, gain);
        Write(out, *book, command, note);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
