// Training of weighted vector quantisers for the codecs' tables: weighted
// k-means with codebook growth by splitting, multi-stage quantisers trained
// for the M-best search they are used with, and the spectral distortion of
// quantised LSP vectors.  Every codec's training tool builds on these.
#pragma once

#include <vntr/dsp/msvq.hpp>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace vntr::train {

// Training vectors with a weight for each component.
struct WeightedSet {
    int dim = 0;
    std::vector<float> values;
    std::vector<float> weights;

    explicit WeightedSet(int d = 0) : dim(d) {}
    std::size_t size() const { return dim ? values.size() / static_cast<std::size_t>(dim) : 0; }
    void Add(const float *v, const float *w);
    const float *Value(std::size_t i) const { return &values[i * static_cast<std::size_t>(dim)]; }
    const float *Weight(std::size_t i) const { return &weights[i * static_cast<std::size_t>(dim)]; }
};

// `count` vectors of `dim` floats; fixed entries (values the coded format
// quotes) never move during training.
struct Codebook {
    int dim = 0;
    int count = 0;
    std::vector<float> vectors;
    std::vector<char> fixed;

    Codebook() = default;
    Codebook(int d, int n)
        : dim(d), count(n), vectors(static_cast<std::size_t>(d * n), 0.0f), fixed(static_cast<std::size_t>(n), 0) {}
    float *At(int i) { return &vectors[static_cast<std::size_t>(i * dim)]; }
    const float *At(int i) const { return &vectors[static_cast<std::size_t>(i * dim)]; }
    void Fix(int i, const float *v);
};

// A vector the coded format fixes, placed at (stage, index) and kept there
// however the training moves the others.
struct FixedEntry {
    int stage;
    int index;
    std::vector<float> values;
};

// Index of the nearest code vector under sum_k w_k (x_k - c_k)^2; the first
// of equal errors wins.
int NearestCode(const Codebook &book, const float *x, const float *w, float *error);

// Weighted k-means: every non-fixed entry moves to the weighted centroid of
// its cell (per component, sum w x / sum w); an entry left without members
// takes a perturbed copy of the entry with the largest cell error.  Returns
// the mean weighted error of the last assignment; cells and cellErrors, when
// given, receive that assignment and each entry's summed error.
double WeightedKMeans(const WeightedSet &set, Codebook &book, int iterations, std::mt19937 &rng,
                      std::vector<int> *cells = nullptr, std::vector<double> *cellErrors = nullptr);

// Grows a codebook of `count` entries by splitting (LBG): from the weighted
// mean, the free entries whose cells carry the most error are split in two
// along their cell's principal axis, doubling the free entries level by
// level, and k-means runs after each level.  The fixed entries take part in
// the assignments throughout.
Codebook GrowCodebook(const WeightedSet &set, int count, const std::vector<FixedEntry> &fixed, int iterationsPerLevel,
                      std::mt19937 &rng, bool verbose = false);

// --- multi-stage quantisers -------------------------------------------------

// Training vectors of a multi-stage quantiser.  Each vector is coded as its
// base (zero, or a previous vector for difference coding) plus one vector of
// each stage in first .. first + count - 1: difference-coded frames that use
// only the later stages train those stages together with the absolute frames.
struct MsvqTrainingSet {
    int dim = 0;
    std::vector<float> targets;
    std::vector<float> weights;
    std::vector<float> bases;
    std::vector<int> firstStage;
    std::vector<int> stageCount;

    explicit MsvqTrainingSet(int d = 0) : dim(d) {}
    std::size_t size() const { return firstStage.size(); }
    void Add(const float *target, const float *weight, const float *base, int first, int count);
    const float *Target(std::size_t i) const { return &targets[i * static_cast<std::size_t>(dim)]; }
    const float *Weight(std::size_t i) const { return &weights[i * static_cast<std::size_t>(dim)]; }
    const float *Base(std::size_t i) const { return &bases[i * static_cast<std::size_t>(dim)]; }
};

struct Msvq {
    std::vector<Codebook> stages;
    std::vector<dsp::MsvqStage> View() const;
};

struct MsvqTrainingOptions {
    int keep = 8;              // candidates the codec's search keeps
    int kmeansIterations = 10; // per splitting level, stage by stage
    int jointPasses = 10;      // joint refinement passes after the stage-by-stage start
    unsigned seed = 1;
    bool verbose = true;
};

// Indices chosen for one training vector (for stages first .. first + count - 1).
struct MsvqCoding {
    int indices[dsp::kMsvqMaxStages];
    float error;
};

// Codes every training vector with the M-best search; returns the mean weighted error.
double CodeMsvqSet(const MsvqTrainingSet &set, const Msvq &q, int keep, std::vector<MsvqCoding> *codings);

// Stage by stage: stage s is grown on the residuals that the M-best search of
// the already trained stages leaves for every vector that uses stage s.
Msvq TrainMsvqStageByStage(const MsvqTrainingSet &set, const std::vector<int> &sizes,
                           const std::vector<FixedEntry> &fixed, const MsvqTrainingOptions &options);

// Joint refinement: each pass codes the set with the M-best search, then moves
// every free vector of every stage, stage after stage, to the weighted
// centroid of what its members need from that stage given their other
// stages.  Keeps the best codebooks seen; returns their mean weighted error.
double RefineMsvq(const MsvqTrainingSet &set, Msvq &q, const MsvqTrainingOptions &options, int passes);

// --- measures -----------------------------------------------------------------

// Spectral distortion in dB (RMS over 0..4 kHz) between the envelopes 1/|A|^2
// of two LSP vectors.
double LspSpectralDistortion(const float *a, const float *b, int order);

// Mean spectral distortion and the shares of outlier frames.
struct DistortionStats {
    std::size_t frames = 0;
    double sum = 0.0;
    std::size_t over2 = 0;
    std::size_t over4 = 0;

    void Add(double sd);
    void Merge(const DistortionStats &o);
    double Mean() const { return frames ? sum / static_cast<double>(frames) : 0.0; }
    double PercentOver2() const {
        return frames ? 100.0 * static_cast<double>(over2) / static_cast<double>(frames) : 0.0;
    }
    double PercentOver4() const {
        return frames ? 100.0 * static_cast<double>(over4) / static_cast<double>(frames) : 0.0;
    }
    // "SD 1.234 dB, >2 dB 5.67%, >4 dB 0.123% (N frames)"
    std::string Summary() const;
};

} // namespace vntr::train
