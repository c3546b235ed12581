// Trains the four-stage LSP quantiser of VT120 (4 x 64 vectors of 10) and
// writes it as the generated table codebooks/lsp_stages.inc.
//
// The quantiser is trained for the search it is used with: the 8-best tree
// search under the encoder's weighted distance sum w_k (x_k - q_k)^2.  Stage
// by stage first - stage s is grown by splitting on the residuals that the
// 8-best search over the stages already trained leaves - then jointly: every
// pass codes the set with the 8-best search and moves each vector of each
// stage to the weighted centroid of what its members need from that stage
// given their other stages.  Stage 1 holds whole LSP vectors; its vector 0 is
// the one the coded format quotes and stays fixed.
//
// The spectral distortion is that of the rebuilt vector (ordered and spaced
// as both sides do) against the unquantised one, on the training vectors and
// on files named with --evaluate that were not trained on.
#include "lsp_training_data.hpp"
#include "speech_io.hpp"
#include "tables.hpp"
#include "vq_training.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>

using namespace vntr::vt120;
namespace vt = vntr::train;

namespace {

constexpr float kFixedFirst[kOrder] = {0.33591f, 0.51147f, 0.74262f, 0.94818f, 1.17043f,
                                       1.58521f, 1.91449f, 2.17929f, 2.5382f,  2.79112f};

struct StageTable {
    float v[kLspStages][kLspStageSize * kOrder];
};

void ToTable(const vt::Msvq &q, StageTable &table) {
    for (int s = 0; s < kLspStages; ++s) {
        const auto &v = q.stages[static_cast<std::size_t>(s)].vectors;
        for (int i = 0; i < kLspStageSize * kOrder; ++i) table.v[s][i] = v[static_cast<std::size_t>(i)];
    }
}

vt::DistortionStats Distortion(const train::LspData &data, const StageTable &table) {
    vt::DistortionStats stats;
    for (std::size_t i = 0; i < data.lsp.size(); ++i) {
        const LspCode code = QuantiseLsp(data.lsp[i], data.weights[i], table.v);
        stats.Add(vt::LspSpectralDistortion(data.lsp[i].data(), code.quantised.data(), kOrder));
    }
    return stats;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Trains the VT120 four-stage LSP quantiser for its 8-best search"};
    std::string list;
    std::string out = "codecs/vt120/codebooks/lsp_stages.inc";
    std::vector<std::string> evaluate;
    int every = 1;
    vt::MsvqTrainingOptions options;
    options.keep = kLspCandidates;
    options.kmeansIterations = 12;
    options.jointPasses = 12;
    options.seed = 120;
    app.add_option("--list", list, "training corpus: a file of 8 kHz .wav paths, one per line")->required();
    app.add_option("--out", out, "generated table to write");
    app.add_option("--every", every, "train on every n-th frame (neighbouring 8 ms frames are much alike)");
    app.add_option("--kmeans-iterations", options.kmeansIterations, "k-means iterations per splitting level");
    app.add_option("--joint-passes", options.jointPasses, "joint refinement passes");
    app.add_option("--seed", options.seed, "seed of the empty-cell jitter");
    app.add_option("--evaluate", evaluate, "files not trained on, on which to report the spectral distortion");
    CLI11_PARSE(app, argc, argv);
    const std::string command = "vt120_train_lsp --list " + list + " --out " + out + " --every " +
                                std::to_string(every) + " --kmeans-iterations " +
                                std::to_string(options.kmeansIterations) + " --joint-passes " +
                                std::to_string(options.jointPasses) + " --seed " + std::to_string(options.seed);
    try {
        const auto files = vt::ReadList(list);
        const train::LspData data = train::GatherLsp(files, every);
        std::fprintf(stderr, "%zu files, %zu training vectors\n", files.size(), data.lsp.size());
        vt::MsvqTrainingSet set(kOrder);
        for (std::size_t i = 0; i < data.lsp.size(); ++i) {
            set.Add(data.lsp[i].data(), data.weights[i].data(), nullptr, 0, kLspStages);
        }
        const std::vector<vt::FixedEntry> fixed = {{0, 0, std::vector<float>(kFixedFirst, kFixedFirst + kOrder)}};
        vt::Msvq q = vt::TrainMsvqStageByStage(set, std::vector<int>(kLspStages, kLspStageSize), fixed, options);
        auto table = std::make_unique<StageTable>();
        ToTable(q, *table);
        const vt::DistortionStats staged = Distortion(data, *table);
        std::fprintf(stderr, "stage by stage: %s\n", staged.Summary().c_str());
        const double weighted = vt::RefineMsvq(set, q, options, options.jointPasses);
        ToTable(q, *table);
        const vt::DistortionStats trained = Distortion(data, *table);
        std::fprintf(stderr, "jointly refined: mean weighted error %.6g, %s\n", weighted, trained.Summary().c_str());
        std::string heldLine;
        if (!evaluate.empty()) {
            const vt::DistortionStats held = Distortion(train::GatherLsp(evaluate), *table);
            heldLine = "held-out files (";
            for (std::size_t i = 0; i < evaluate.size(); ++i) {
                const auto slash = evaluate[i].find_last_of('/');
                heldLine += (i ? " " : "") + evaluate[i].substr(slash == std::string::npos ? 0 : slash + 1);
            }
            heldLine += "): " + held.Summary();
            std::fprintf(stderr, "%s\n", heldLine.c_str());
        }

        std::ofstream o(out);
        if (!o) throw std::runtime_error(out + ": cannot create");
        o << "// Generated by tools/train/vt120/train_lsp.cpp; do not edit.\n"
          << "// Command: " << command << (evaluate.empty() ? "" : " --evaluate ...") << "\n"
          << "// Corpus: the 8 kHz speech that tools/train/get-training-speech prepares (its list.txt).\n"
          << "// Spectral distortion of the 8-best search, training vectors: stage by stage " << staged.Summary()
          << ";\n//   jointly refined " << trained.Summary() << ".\n";
        if (!heldLine.empty()) o << "// " << heldLine << ".\n";
        o << "// Stages 1..4, 64 vectors of 10 each (radians); stage 1 whole vectors, 2..4 corrections.\n";
        for (int s = 0; s < kLspStages; ++s) {
            o << "{\n";
            for (int i = 0; i < kLspStageSize; ++i) {
                for (int k = 0; k < kOrder; ++k) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%s%.6ff", k ? ", " : "", table->v[s][i * kOrder + k]);
                    o << text;
                }
                o << ",\n";
            }
            o << "},\n";
        }
        if (!o) throw std::runtime_error(out + ": write failed");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
