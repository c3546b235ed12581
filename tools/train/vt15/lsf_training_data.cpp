#include "lsf_training_data.hpp"

#include "encoder.hpp"
#include "parameters.hpp"
#include "speech_io.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

namespace vntr::vt15::train {
namespace {

std::vector<CodedLsf> CodeFile(const std::string &file, const LsfCodebook &codebook) {
    const auto speech = vntr::train::ReadSpeech(file);
    std::vector<CodedLsf> out;
    if (speech.sampleRate != 8000) return out;
    auto enc = std::make_unique<EncoderState>();
    InitEncoder(*enc);
    enc->codebook = &codebook;
    float previousTarget[kOrder];
    InitialLsf(previousTarget);
    auto record = [&]() {
        const QuantiserTrace &t = enc->trace;
        CodedLsf c;
        std::copy(t.target, t.target + kOrder, c.target);
        std::copy(t.weights, t.weights + kOrder, c.weights);
        std::copy(t.previousLsf, t.previousLsf + kOrder, c.base);
        std::copy(enc->previous.quantisedLsf, enc->previous.quantisedLsf + kOrder, c.quantised);
        std::copy(previousTarget, previousTarget + kOrder, c.previousTarget);
        std::copy(t.target, t.target + kOrder, previousTarget);
        c.candidateClass = t.candidateClass;
        c.frameClass = t.frameClass;
        out.push_back(c);
    };
    uint8_t bytes[kMaxCodedBytes];
    for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength) {
        float pcm[kFrameLength];
        for (int n = 0; n < kFrameLength; ++n) pcm[n] = speech.samples[f + static_cast<std::size_t>(n)];
        EncodeFrame(*enc, pcm, bytes);
        record();
    }
    FlushEncoder(*enc, bytes);
    record();
    return out;
}

} // namespace

std::vector<std::vector<CodedLsf>> GatherCodedLsf(const std::vector<std::string> &files, const LsfCodebook &codebook) {
    std::vector<std::vector<CodedLsf>> all(files.size());
    std::atomic<std::size_t> nextFile{0};
    const unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            for (std::size_t i = nextFile++; i < files.size(); i = nextFile++) all[i] = CodeFile(files[i], codebook);
        });
    }
    for (auto &th : pool) th.join();
    return all;
}

LsfCodebook View(const vntr::train::Msvq &q) {
    LsfCodebook view{};
    for (int s = 0; s < kLsfStages; ++s) view.stage[s] = q.stages[static_cast<std::size_t>(s)].vectors.data();
    return view;
}

ClassReport Report(const std::vector<std::vector<CodedLsf>> &frames) {
    ClassReport r;
    std::size_t count = 0;
    double bits = 0.0;
    for (const auto &file : frames) {
        for (const CodedLsf &c : file) {
            ++r.candidates[c.candidateClass];
            ++r.coded[c.frameClass];
            r.sd[c.frameClass].Add(vntr::train::LspSpectralDistortion(c.target, c.quantised, kOrder));
            bits += FrameBits(c.frameClass);
            ++count;
        }
    }
    r.meanBits = count ? bits / static_cast<double>(count) : 0.0;
    return r;
}

void PrintReport(const char *title, const ClassReport &r) {
    std::fprintf(stderr, "%s: %.2f bits per frame (%.1f bit/s)\n", title, r.meanBits, r.meanBits / 0.0225);
    for (int c = 0; c < kClassCount; ++c) {
        std::fprintf(stderr, "  class %d: %s\n", c, r.sd[c].Summary().c_str());
    }
    auto rate = [&](int from, int to) {
        const std::size_t n = r.candidates[from];
        // Frames that wanted class `from` and were sent as `to`.
        const std::size_t fell = r.coded[to] > r.candidates[to] ? r.coded[to] - r.candidates[to] : 0;
        return n ? 100.0 * static_cast<double>(fell) / static_cast<double>(n) : 0.0;
    };
    std::fprintf(stderr, "  fall-backs: class 1 -> 0 %.2f%%, class 3 -> 2 %.2f%%, class 5 -> 4 %.2f%%\n", rate(1, 0),
                 rate(3, 2), rate(5, 4));
}

} // namespace vntr::vt15::train
