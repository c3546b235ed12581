// Trains the five even-LSF tables of VT48 (8, 16, 16, 8 and 8 entries) for
// the encoder's sequential quantiser, and writes them as the generated table
// codecs/vt48/codebooks/even_lsf.inc.
//
// The encoder quantises LSF 0 to its nearest entry, each further even LSF to
// the nearest entry above a threshold set by what was chosen below it, and
// then the odd LSFs between their quantised neighbours; so an entry's use
// depends on the other tables.  Training therefore runs on what that order
// actually does:
//   1. the unquantised LSFs of the encoder's own front end (input filter,
//      window, autocorrelation, Schur recursion), over the frames whose quiet
//      flag is clear;
//   2. Lloyd passes from evenly spaced tables: quantise every frame with the
//      current tables, move each inner entry to the mean of the LSFs that took
//      it (first and last entries stay as the format fixes them; the tables
//      stay increasing);
//   3. descent on the spectral distortion itself (on a regular sample of the
//      frames): each inner entry is moved by shrinking steps while the mean
//      distortion of the whole quantiser (odd LSFs included) falls.
// The mean distortion and outlier shares are reported for the evenly spaced
// tables and the trained ones, on the training list and on --evaluate files.
#include "analysis.hpp"
#include "encoder.hpp"
#include "lsf.hpp"
#include "speech_io.hpp"
#include "vq_training.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>

using namespace vntr::vt48;

namespace {

struct Frame {
    Lsf lsf;
};

std::vector<Frame> GatherFrames(const std::vector<std::string> &files) {
    std::vector<Frame> frames;
    auto state = std::make_unique<EncoderState>();
    for (const std::string &file : files) {
        const auto speech = vntr::train::ReadSpeech(file);
        if (speech.sampleRate != 8000) continue;
        // Behind the equalising input filter, as the stored tables were trained.
        InitEncoder(*state, false, kEqualisedInput);
        for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength) {
            uint8_t pcm[2 * kFrameLength];
            for (int n = 0; n < kFrameLength; ++n) {
                const int16_t s = speech.samples[f + static_cast<std::size_t>(n)];
                pcm[2 * n] = static_cast<uint8_t>(s & 0xFF);
                pcm[2 * n + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
            }
            PrepareFrame(*state, pcm);
            if (!state->quiet) {
                frames.push_back({state->lsf});
            }
            AdvanceFrame(*state);
        }
    }
    return frames;
}

EvenLsfTables EvenlySpaced() {
    EvenLsfTables t{};
    for (int k = 0; k < kEvenLsfTables; ++k) {
        for (int j = 0; j < kEvenLsfSize[k]; ++j) {
            t.value[k][j] = kEvenLsfFirst[k] + (kEvenLsfLast[k] - kEvenLsfFirst[k]) * static_cast<float>(j) /
                                                   static_cast<float>(kEvenLsfSize[k] - 1);
        }
    }
    return t;
}

double FrameDistortion(const Frame &frame, const EvenLsfTables &tables, std::array<uint16_t, kOrder> &index) {
    const Lsf q = QuantiseLsf(frame.lsf, index, tables);
    return vntr::train::LspSpectralDistortion(frame.lsf.data(), q.data(), kOrder);
}

vntr::train::DistortionStats Summarise(const std::vector<Frame> &frames, const EvenLsfTables &tables) {
    vntr::train::DistortionStats summary;
    std::array<uint16_t, kOrder> index;
    for (const Frame &f : frames) summary.Add(FrameDistortion(f, tables, index));
    return summary;
}

std::string Describe(const vntr::train::DistortionStats &s) {
    return s.Summary();
}

// Keeps the inner entries strictly between their neighbours, at least `gap` apart.
void KeepIncreasing(EvenLsfTables &t, int k, float gap) {
    const int size = kEvenLsfSize[k];
    auto &v = t.value[k];
    for (int j = 1; j < size - 1; ++j) v[j] = std::max(v[j], v[j - 1] + gap);
    for (int j = size - 2; j >= 1; --j) v[j] = std::min(v[j], v[j + 1] - gap);
}

constexpr float kMinGap = 0.002f;

void LloydPass(const std::vector<Frame> &frames, EvenLsfTables &tables) {
    double sum[kEvenLsfTables][kMaxEvenLsfSize] = {};
    long count[kEvenLsfTables][kMaxEvenLsfSize] = {};
    std::array<uint16_t, kOrder> index;
    for (const Frame &f : frames) {
        QuantiseLsf(f.lsf, index, tables);
        for (int k = 0; k < kEvenLsfTables; ++k) {
            sum[k][index[static_cast<std::size_t>(2 * k)]] += f.lsf[static_cast<std::size_t>(2 * k)];
            ++count[k][index[static_cast<std::size_t>(2 * k)]];
        }
    }
    for (int k = 0; k < kEvenLsfTables; ++k) {
        for (int j = 1; j + 1 < kEvenLsfSize[k]; ++j) {
            if (count[k][j] > 0) tables.value[k][j] = static_cast<float>(sum[k][j] / static_cast<double>(count[k][j]));
        }
        KeepIncreasing(tables, k, kMinGap);
    }
}

// Distortion descent.  Moving entry j of table k can only change the choice
// of frames that took entries j-1, j or j+1 of that table, so only those are
// quantised again.
class Descent {
public:
    Descent(const std::vector<Frame> &frames, const EvenLsfTables &tables)
        : frames_(frames), tables_(tables), index_(frames.size()), sd_(frames.size()) {
        for (std::size_t f = 0; f < frames_.size(); ++f) sd_[f] = FrameDistortion(frames_[f], tables_, index_[f]);
    }

    double Mean() const {
        double s = 0.0;
        for (double d : sd_) s += d;
        return s / static_cast<double>(sd_.size());
    }

    const EvenLsfTables &tables() const { return tables_; }

    // One round over every inner entry with steps of `fraction` of the gap to
    // the nearer neighbour; returns the number of moves kept.
    int Round(float fraction) {
        int moves = 0;
        for (int k = 0; k < kEvenLsfTables; ++k) {
            for (int j = 1; j + 1 < kEvenLsfSize[k]; ++j) {
                for (int direction : {-1, 1}) {
                    while (TryMove(k, j, direction, fraction)) ++moves;
                }
            }
        }
        return moves;
    }

private:
    bool TryMove(int k, int j, int direction, float fraction) {
        const auto &v = tables_.value[k];
        const float room = direction > 0 ? v[j + 1] - v[j] : v[j] - v[j - 1];
        const float step = fraction * room;
        if (room - step < kMinGap || step < 1e-5f) return false;
        EvenLsfTables candidate = tables_;
        candidate.value[k][j] = v[j] + static_cast<float>(direction) * step;

        affected_.clear();
        for (std::size_t f = 0; f < frames_.size(); ++f) {
            const int taken = index_[f][static_cast<std::size_t>(2 * k)];
            if (taken >= j - 1 && taken <= j + 1) affected_.push_back(f);
        }
        double delta = 0.0;
        trial_.resize(affected_.size());
        trialIndex_.resize(affected_.size());
        for (std::size_t i = 0; i < affected_.size(); ++i) {
            trial_[i] = FrameDistortion(frames_[affected_[i]], candidate, trialIndex_[i]);
            delta += trial_[i] - sd_[affected_[i]];
        }
        if (delta >= 0.0) return false;
        tables_ = candidate;
        for (std::size_t i = 0; i < affected_.size(); ++i) {
            sd_[affected_[i]] = trial_[i];
            index_[affected_[i]] = trialIndex_[i];
        }
        return true;
    }

    const std::vector<Frame> &frames_;
    EvenLsfTables tables_;
    std::vector<std::array<uint16_t, kOrder>> index_;
    std::vector<double> sd_;
    std::vector<std::size_t> affected_;
    std::vector<double> trial_;
    std::vector<std::array<uint16_t, kOrder>> trialIndex_;
};

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Trains the VT48 even-LSF tables for the encoder's sequential quantiser"};
    std::string list;
    std::string out = "codecs/vt48/codebooks/even_lsf.inc";
    std::vector<std::string> evaluate;
    int passes = 20;
    int rounds = 2;
    int every = 4;
    app.add_option("--list", list, "training corpus: a file of 8 kHz .wav paths, one per line")->required();
    app.add_option("--out", out, "generated table to write");
    app.add_option("--passes", passes, "Lloyd passes");
    app.add_option("--rounds", rounds, "distortion-descent rounds (each with half the step of the one before)");
    app.add_option("--descent-every", every, "the descent runs on every n-th training frame (for speed)");
    app.add_option("--evaluate", evaluate, "held-out files on which to report the distortion (not trained on)");
    CLI11_PARSE(app, argc, argv);

    std::ostringstream command;
    command << "vt48_train_even_lsf --list " << list << " --out " << out << " --passes " << passes << " --rounds "
            << rounds << " --descent-every " << every;
    if (!evaluate.empty()) {
        command << " --evaluate";
        for (const auto &e : evaluate) command << ' ' << e;
    }
    try {
        const auto files = vntr::train::ReadList(list);
        const auto frames = GatherFrames(files);
        const auto held = GatherFrames(evaluate);
        if (frames.empty()) throw std::runtime_error(list + ": no active frames");
        std::fprintf(stderr, "%zu files, %zu active frames; %zu held-out frames\n", files.size(), frames.size(),
                     held.size());

        const EvenLsfTables start = EvenlySpaced();
        const auto startTrain = Summarise(frames, start);
        const auto startHeld = Summarise(held, start);
        std::fprintf(stderr, "evenly spaced: training %s\n", Describe(startTrain).c_str());

        EvenLsfTables tables = start;
        EvenLsfTables best = start;
        double bestMean = startTrain.Mean();
        for (int p = 1; p <= passes; ++p) {
            LloydPass(frames, tables);
            const auto s = Summarise(frames, tables);
            std::fprintf(stderr, "Lloyd pass %2d: %s\n", p, Describe(s).c_str());
            if (s.Mean() < bestMean) {
                bestMean = s.Mean();
                best = tables;
            }
        }
        std::vector<Frame> sample;
        for (std::size_t f = 0; f < frames.size(); f += static_cast<std::size_t>(std::max(every, 1)))
            sample.push_back(frames[f]);
        Descent descent(sample, best);
        float fraction = 0.25f;
        for (int r = 1; r <= rounds; ++r, fraction *= 0.5f) {
            const int moves = descent.Round(fraction);
            std::fprintf(stderr, "descent round %d (step %.4f of the gap): %d moves, %.4f dB\n", r, fraction, moves,
                         descent.Mean());
        }
        best = descent.tables();
        const auto trainedTrain = Summarise(frames, best);
        const auto trainedHeld = Summarise(held, best);
        std::fprintf(stderr, "trained: training %s\n", Describe(trainedTrain).c_str());
        if (!held.empty()) {
            std::fprintf(stderr, "evenly spaced: held-out %s\n", Describe(startHeld).c_str());
            std::fprintf(stderr, "trained: held-out %s\n", Describe(trainedHeld).c_str());
        }

        std::ofstream o(out);
        if (!o) throw std::runtime_error(out + ": cannot create");
        o << "// Generated by tools/train/vt48/train_even_lsf.cpp; do not edit.\n"
          << "// Command: " << command.str() << "\n"
          << "// Corpus: the 8 kHz speech that tools/train/get-training-speech prepares (its list.txt), "
          << files.size() << " files, the " << frames.size() << " frames whose quiet flag is clear.\n"
          << "// Spectral distortion of the whole LSF quantiser (even tables below, odd fractions fixed):\n"
          << "//   training, evenly spaced tables: " << Describe(startTrain) << "\n"
          << "//   training, these tables:         " << Describe(trainedTrain) << "\n";
        if (!held.empty()) {
            o << "//   held-out, evenly spaced tables: " << Describe(startHeld) << "\n"
              << "//   held-out, these tables:         " << Describe(trainedHeld) << "\n";
        }
        o << "// LSFs 0, 2, 4, 6, 8 in radians; rows padded to 16 entries.\n";
        char value[32];
        for (int k = 0; k < kEvenLsfTables; ++k) {
            o << "{{";
            for (int j = 0; j < kMaxEvenLsfSize; ++j) {
                std::snprintf(value, sizeof value, "%s%.6ff", j ? ", " : "",
                              j < kEvenLsfSize[k] ? best.value[k][j] : 0.0f);
                o << value;
            }
            o << "}},\n";
        }
        if (!o) throw std::runtime_error(out + ": write failed");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
