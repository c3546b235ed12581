#include "lsp_training_data.hpp"

#include "encoder.hpp"
#include "speech_io.hpp"
#include "vq_training.hpp"

#include <memory>

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
    return vntr::train::LspSpectralDistortion(a.data(), b.data(), kOrder);
}

} // namespace vntr::vt4864v6::train
