// Trains the 128 x 5 pitch-predictor codebook of VT4864v6 and writes it as
// the generated table codebooks/pitch_predictor.inc.
//
// The centroid rule and the Lloyd steps are shared with the other coders
// (tools/train/common/predictor_training.hpp).
//
// Training runs in closed loop on the encoder's own targets: every pass
// encodes the corpus at both rates with the current codebook (targets, lags
// and past excitation all follow from it), gathers the statistics (c, R) of
// every sub-frame, then moves the entries to the centroids of their cells.
// Centroids are held inside the gain range of the entries the format fixes
// (--unconstrained lifts that; --min-members and --ridge condition the cells).
// The first codebook is grown by splitting on statistics gathered with a
// seed codebook.  Entry 0 (all zeros) and the entries 1, 2 and 127 that the
// coded-frame format fixes are never moved.
#include "encoder.hpp"
#include "predictor_training.hpp"
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
constexpr double kFixedTaps[3][5] = {
    {0.190264, 0.031242, 0.084111, -0.219572, -0.301381},
    {0.131206, -0.217990, 0.422116, 0.737703, -0.074948},
    {0.112244, -0.104028, 0.069623, 1.032230, 0.043769},
};

using vntr::train::PredictorObservation;

// The rules of the centroids: the gain range of the fixed entries, cells
// of at least --min-members sub-frames, entries 0, 1, 2 and 127 fixed.
vntr::train::PredictorTrainingRules gRules{{std::begin(kFixed), std::end(kFixed)}};

bool IsFixed(int entry) {
    return gRules.IsFixed(entry);
}

class Collector : public EncoderObserver {
public:
    explicit Collector(std::vector<PredictorObservation> &out) : out_(out) {}
    void OnSubframe(const SubframeTrace &trace) override {
        float tt = 0.0f;
        for (int n = 0; n < trace.mode->subframeLength; ++n) tt += trace.target[n] * trace.target[n];
        PredictorObservation o;
        o.stats[0] = *trace.statistics;
        o.candidates = 1;
        o.targetEnergy = tt;
        out_.push_back(o);
    }

private:
    std::vector<PredictorObservation> &out_;
};

std::vector<PredictorObservation> EncodeCorpus(const std::vector<vntr::train::Speech> &corpus,
                                               const PredictorCodebook &book) {
    std::vector<PredictorObservation> obs;
    Collector collector(obs);
    auto state = std::make_unique<EncoderState>();
    uint8_t coded[kMaxCodedBytes];
    for (const RateMode *mode : {&kRate6400, &kRate4800}) {
        for (const auto &speech : corpus) {
            InitEncoder(*state, false, *mode);
            state->predictor = &book;
            for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength) {
                EncodeFrame(*state, &speech.samples[f], *mode, coded, &collector);
            }
        }
    }
    return obs;
}

// One assignment and centroid step over `count` entries (entries beyond count unused).
vntr::train::PredictorLloydResult Lloyd(const std::vector<PredictorObservation> &obs, PredictorCodebook &book,
                                        int count, std::mt19937 &rng, bool update) {
    return vntr::train::PredictorLloyd(obs, book, count, gRules, rng, update);
}

void PlaceFixed(PredictorCodebook &book) {
    for (int j = 0; j < 5; ++j) {
        book.taps[0][j] = 0.0;
        book.taps[1][j] = kFixedTaps[0][j];
        book.taps[2][j] = kFixedTaps[1][j];
        book.taps[127][j] = kFixedTaps[2][j];
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
        if (shape == 0)
            b[2] = g;
        else if (shape == 1)
            b[1] = 0.25 * g, b[2] = 0.5 * g, b[3] = 0.25 * g;
        else if (shape == 2)
            b[1] = 0.6 * g, b[2] = 0.4 * g;
        else
            b[3] = 0.6 * g, b[2] = 0.4 * g;
    }
    PlaceFixed(book);
    DerivePredictorSearch(book);
    return book;
}

// Grows the free entries by splitting on fixed statistics, from their centroid.
void Grow(const std::vector<PredictorObservation> &obs, PredictorCodebook &book, int iterations, std::mt19937 &rng) {
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
                for (int j = 0; j < 5; ++j)
                    work.taps[free[static_cast<std::size_t>(i)]][j] = b.taps[free[static_cast<std::size_t>(i)]][j];
            }
        }
        PredictorCodebook b = inUse(n);
        DerivePredictorSearch(b);
        const vntr::train::PredictorLloydResult r =
            Lloyd(obs, b, free[static_cast<std::size_t>(n - 1)] + 1, rng, false);
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

std::string FormatNumber(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

std::string Ranges(const PredictorCodebook &book) {
    return vntr::train::PredictorRanges(book);
}

void Write(const std::string &path, const PredictorCodebook &book, const std::string &command,
           const std::string &note) {
    std::ofstream o(path);
    if (!o) throw std::runtime_error(path + ": cannot create");
    o << "// Generated by tools/train/vt4864v6/train_pitch.cpp; do not edit.\n"
      << "// Command: " << command << "\n"
      << "// Corpus: the 8 kHz speech that tools/train/get-training-speech prepares (its list.txt).\n"
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
    bool fromBuiltin = false;
    app.add_option("--list", list, "training corpus: a file of 8 kHz .wav paths, one per line")->required();
    app.add_option("--out", out, "generated table to write");
    app.add_option("--passes", passes, "closed-loop passes (each re-encodes the corpus)");
    app.add_option("--lloyd-iterations", lloydIterations, "centroid steps per pass");
    app.add_option("--grow-iterations", growIterations, "centroid steps per splitting level");
    app.add_option("--every", every, "use every n-th file of the list");
    app.add_option("--seed", seed, "seed of the splitting jitter");
    app.add_flag("--from-builtin", fromBuiltin, "start from the library's codebook instead of growing one");
    app.add_option("--min-members", gRules.minMembers, "cells with fewer sub-frames are reseeded");
    app.add_option("--ridge", gRules.ridge, "ridge added to the diagonal of a cell's correlations, relative");
    bool unconstrained = false;
    app.add_flag("--unconstrained", unconstrained, "do not hold entries inside the gain range");
    CLI11_PARSE(app, argc, argv);
    gRules.constrain = !unconstrained;

    std::string command = "vt4864v6_train_pitch --list " + list + " --out " + out + " --passes " +
                          std::to_string(passes) + " --lloyd-iterations " + std::to_string(lloydIterations) +
                          " --grow-iterations " + std::to_string(growIterations) + " --every " + std::to_string(every) +
                          " --seed " + std::to_string(seed) + " --min-members " + std::to_string(gRules.minMembers) +
                          " --ridge " + FormatNumber(gRules.ridge) + (unconstrained ? " --unconstrained" : "") +
                          (fromBuiltin ? " --from-builtin" : "");
    try {
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
            const auto obs = EncodeCorpus(corpus, *seedBook);
            std::fprintf(stderr, "seed pass: %zu sub-frames\n", obs.size());
            Grow(obs, *book, growIterations, rng);
        }
        PlaceFixed(*book);
        DerivePredictorSearch(*book);

        double gain = 0.0;
        for (int p = 1; p <= passes; ++p) {
            const auto obs = EncodeCorpus(corpus, *book);
            for (int it = 0; it < lloydIterations; ++it) {
                const vntr::train::PredictorLloydResult r = Lloyd(obs, *book, kPredictorEntries, rng, true);
                if (it == 0) gain = r.gainDb;
                std::fprintf(stderr, "pass %d step %d: prediction gain %.3f dB (%d cells reseeded; %s)\n", p, it,
                             r.gainDb, r.emptyCells, Ranges(*book).c_str());
            }
        }
        const auto obs = EncodeCorpus(corpus, *book);
        gain = Lloyd(obs, *book, kPredictorEntries, rng, false).gainDb;
        std::fprintf(stderr, "final: prediction gain %.3f dB\n", gain);
        char note[320];
        std::snprintf(note, sizeof note,
                      "Trained on %zu files (%.0f s) at both rates; closed-loop prediction gain %.3f dB; %s.",
                      corpus.size(), seconds, gain, Ranges(*book).c_str());
        Write(out, *book, command, note);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
