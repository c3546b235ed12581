// What the VT15 encoder does with every frame's LSF vector, gathered by
// running the encoder itself over speech files with a given quantiser.
#pragma once

#include "lsf_codebook.hpp"
#include "vq_training.hpp"

#include <string>
#include <vector>

namespace vntr::vt15::train {

struct CodedLsf {
    float target[kOrder];
    float weights[kOrder];
    float base[kOrder];      // the previous frame's rebuilt vector
    float quantised[kOrder]; // this frame's rebuilt vector
    float previousTarget[kOrder];
    int candidateClass; // before the LSF fall-backs
    int frameClass;     // as coded
};

// Codes every file (8 kHz wave or raw) with the encoder using `codebook`;
// one sequence of coded frames per file.  Runs files on all cores.
std::vector<std::vector<CodedLsf>> GatherCodedLsf(const std::vector<std::string> &files, const LsfCodebook &codebook);

// The trained quantiser as the codec's table view (pointing into q).
LsfCodebook View(const vntr::train::Msvq &q);

// Per class: spectral distortion of the rebuilt vectors, and how often the
// difference classes fell back.
struct ClassReport {
    vntr::train::DistortionStats sd[kClassCount];
    std::size_t candidates[kClassCount] = {};
    std::size_t coded[kClassCount] = {};
    double meanBits = 0.0; // LSF and all other fields, per frame
};

ClassReport Report(const std::vector<std::vector<CodedLsf>> &frames);
void PrintReport(const char *title, const ClassReport &report);

} // namespace vntr::vt15::train
