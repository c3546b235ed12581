// Makes the 128 x 5 pitch-predictor codebook of VT120 and writes it as the
// generated table codebooks/pitch_predictor.inc.
//
// The codebook starts from VT4864v6's (whose entry 127, rounded, is the entry
// 127 that VT120's format fixes): entry 0 stays all zeros and entry 127
// takes the fixed values.  With --passes above 0 it is then retrained in
// closed loop on VT120's own targets: every pass encodes the corpus with the
// current codebook, gathers for every sub-frame the statistics of its three
// candidate lags, and runs Lloyd steps whose assignment is the encoder's own
// search over lags and entries (tools/train/common/predictor_training.hpp).
// Entries keep VT4864v6's gain range.  Each pass reports the closed-loop
// prediction gain, so that a retraining is kept only when it pays.
#include "encoder.hpp"
#include "predictor_training.hpp"
#include "speech_io.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

using namespace vntr::vt120;
namespace vt = vntr::train;

namespace {

constexpr double kFixed127[5] = {0.1122, -0.104, 0.0696, 1.0322, 0.0438};

// The rows {b0, b1, b2, b3, b4}, of a generated predictor table.
std::unique_ptr<vntr::dsp::PredictorCodebook> ReadTable(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot open");
    auto book = std::make_unique<vntr::dsp::PredictorCodebook>();
    int row = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '{') continue;
        if (row == vntr::dsp::kPredictorEntries) throw std::runtime_error(path + ": more than 128 rows");
        std::istringstream fields(line.substr(1));
        for (int j = 0; j < 5; ++j) {
            char comma;
            if (!(fields >> book->taps[row][j])) throw std::runtime_error(path + ": bad row " + std::to_string(row));
            fields >> comma;
        }
        ++row;
    }
    if (row != vntr::dsp::kPredictorEntries) throw std::runtime_error(path + ": not 128 rows");
    return book;
}

class Collector : public EncoderObserver {
public:
    explicit Collector(std::vector<vt::PredictorObservation> &out) : out_(out) {}
    void OnSubframe(const SubframeTrace &trace) override {
        vt::PredictorObservation o;
        for (int c = 0; c < kPitchCandidates; ++c) o.stats[static_cast<std::size_t>(c)] = trace.pitch->statistics[c];
        o.candidates = kPitchCandidates;
        float tt = 0.0f;
        for (int n = 0; n < kSubframeLength; ++n) tt += trace.target[n] * trace.target[n];
        o.targetEnergy = tt;
        out_.push_back(o);
    }

private:
    std::vector<vt::PredictorObservation> &out_;
};

std::vector<vt::PredictorObservation> EncodeCorpus(const std::vector<vt::Speech> &corpus,
                                                   const vntr::dsp::PredictorCodebook &book) {
    std::vector<vt::PredictorObservation> obs;
    Collector collector(obs);
    auto state = std::make_unique<EncoderState>();
    uint8_t coded[kCodedBytes];
    float pcm[kFrameLength];
    for (const auto &speech : corpus) {
        InitEncoder(*state);
        state->predictor = &book;
        for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength) {
            for (int n = 0; n < kFrameLength; ++n) pcm[n] = speech.samples[f + static_cast<std::size_t>(n)];
            EncodeFrame(*state, pcm, coded, &collector);
        }
    }
    return obs;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Makes the VT120 pitch-predictor codebook from VT4864v6's, optionally retrained in closed loop"};
    std::string start = "codecs/vt4864v6/codebooks/pitch_predictor.inc";
    std::string list;
    std::string out = "codecs/vt120/codebooks/pitch_predictor.inc";
    int passes = 0;
    int lloydIterations = 2;
    int every = 1;
    unsigned seed = 120;
    vt::PredictorTrainingRules rules{{0, 127}};
    app.add_option("--start", start, "the table to start from (VT4864v6's)");
    app.add_option("--list", list, "training corpus: a file of 8 kHz .wav paths, one per line");
    app.add_option("--out", out, "generated table to write");
    app.add_option("--passes", passes, "closed-loop passes (0: the start table with entry 127 fixed)");
    app.add_option("--lloyd-iterations", lloydIterations, "centroid steps per pass");
    app.add_option("--every", every, "use every n-th file of the list");
    app.add_option("--seed", seed, "seed of the reseeding jitter");
    app.add_option("--min-members", rules.minMembers, "cells with fewer sub-frames are reseeded");
    CLI11_PARSE(app, argc, argv);
    std::string command =
        "vt120_train_pitch --start " + start + " --out " + out + " --passes " + std::to_string(passes);
    if (passes > 0) {
        command += " --list " + list + " --lloyd-iterations " + std::to_string(lloydIterations) + " --every " +
                   std::to_string(every) + " --seed " + std::to_string(seed) + " --min-members " +
                   std::to_string(rules.minMembers);
    }
    try {
        auto book = ReadTable(start);
        for (int j = 0; j < 5; ++j) {
            book->taps[0][j] = 0.0;
            book->taps[127][j] = kFixed127[j];
        }
        vntr::dsp::DerivePredictorSearch(*book);
        std::string note = "VT4864v6's table with entry 127 at the values VT120's format fixes; not retrained.";
        if (passes > 0) {
            if (list.empty()) throw std::runtime_error("--passes needs --list");
            std::vector<vt::Speech> corpus;
            const auto files = vt::ReadList(list);
            for (std::size_t i = 0; i < files.size(); i += static_cast<std::size_t>(std::max(every, 1))) {
                auto s = vt::ReadSpeech(files[i]);
                if (s.sampleRate == 8000) corpus.push_back(std::move(s));
            }
            std::mt19937 rng(seed);
            auto obs = EncodeCorpus(corpus, *book);
            const double startGain =
                vt::PredictorLloyd(obs, *book, vntr::dsp::kPredictorEntries, rules, rng, false).gainDb;
            std::fprintf(stderr, "%zu files, %zu sub-frames; start: closed-loop prediction gain %.3f dB\n",
                         corpus.size(), obs.size(), startGain);
            for (int p = 1; p <= passes; ++p) {
                for (int it = 0; it < lloydIterations; ++it) {
                    const auto r = vt::PredictorLloyd(obs, *book, vntr::dsp::kPredictorEntries, rules, rng, true);
                    std::fprintf(stderr, "pass %d step %d: gain %.3f dB on the pass's statistics (%d reseeded; %s)\n",
                                 p, it, r.gainDb, r.emptyCells, vt::PredictorRanges(*book).c_str());
                }
                obs = EncodeCorpus(corpus, *book);
            }
            const double gain = vt::PredictorLloyd(obs, *book, vntr::dsp::kPredictorEntries, rules, rng, false).gainDb;
            std::fprintf(stderr, "final: closed-loop prediction gain %.3f dB (start %.3f dB)\n", gain, startGain);
            char text[300];
            std::snprintf(text, sizeof text,
                          "Retrained from VT4864v6's table on %zu files: closed-loop prediction gain %.3f dB (start "
                          "%.3f dB); %s.",
                          corpus.size(), gain, startGain, vt::PredictorRanges(*book).c_str());
            note = text;
        }
        std::ofstream o(out);
        if (!o) throw std::runtime_error(out + ": cannot create");
        o << "// Generated by tools/train/vt120/train_pitch.cpp; do not edit.\n"
          << "// Command: " << command << "\n"
          << "// " << note << "\n"
          << "// 128 entries of 5 taps (lags T+2, T+1, T, T-1, T-2); entry 0 is all zeros, entry 127 is fixed by the "
             "format.\n";
        for (int e = 0; e < vntr::dsp::kPredictorEntries; ++e) {
            char line[200];
            if (e == 127) {
                std::snprintf(line, sizeof line, "{%.4f, %.4f, %.4f, %.4f, %.4f},", book->taps[e][0], book->taps[e][1],
                              book->taps[e][2], book->taps[e][3], book->taps[e][4]);
            } else {
                std::snprintf(line, sizeof line, "{%.6f, %.6f, %.6f, %.6f, %.6f},", book->taps[e][0], book->taps[e][1],
                              book->taps[e][2], book->taps[e][3], book->taps[e][4]);
            }
            o << line << "\n";
        }
        if (!o) throw std::runtime_error(out + ": write failed");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
