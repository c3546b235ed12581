#include "lsp_training_data.hpp"

#include "encoder.hpp"
#include "speech_io.hpp"

#include <vntr/dsp/lsp.hpp>

#include <cmath>
#include <memory>
#include <numbers>

namespace vntr::vt4864v6::train {

std::vector<LspSequence> GatherLsp(const std::vector<std::string> &files) {
    std::vector<LspSequence> sequences;
    auto state = std::make_unique<EncoderState>();
    for (const std::string &file : files) {
        const auto speech = vntr::train::ReadSpeech(file);
        if (speech.sampleRate != 8000) continue;
        InitEncoder(*state, false, kRate6400);
        LspSequence seq;
        for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength) {
            PrepareSpeech(*state, &speech.samples[f]);
            const Lsp lsp = AnalyseEnvelope(*state, kRate6400);
            seq.lsp.push_back(lsp);
            seq.weights.push_back(LspWeights(lsp));
        }
        if (!seq.lsp.empty()) sequences.push_back(std::move(seq));
    }
    return sequences;
}

double SpectralDistortion(const Lsp &a, const Lsp &b) {
    constexpr int kBins = 64;
    float pa[kOrder];
    float pb[kOrder];
    dsp::LspToLpc(a.data(), kOrder, pa);
    dsp::LspToLpc(b.data(), kOrder, pb);
    double sum = 0.0;
    for (int k = 0; k < kBins; ++k) {
        const double w = std::numbers::pi * (k + 0.5) / kBins;
        double ra = 1.0, ia = 0.0, rb = 1.0, ib = 0.0;
        for (int i = 0; i < kOrder; ++i) {
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

} // namespace vntr::vt4864v6::train
