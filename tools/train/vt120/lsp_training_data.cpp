#include "lsp_training_data.hpp"

#include "encoder.hpp"
#include "speech_io.hpp"

#include <memory>

namespace vntr::vt120::train {

LspData GatherLsp(const std::vector<std::string> &files, int every) {
    LspData data;
    auto state = std::make_unique<EncoderState>();
    for (const std::string &file : files) {
        const auto speech = vntr::train::ReadSpeech(file);
        if (speech.sampleRate != 8000) continue;
        InitEncoder(*state);
        float pcm[kFrameLength];
        std::size_t frame = 0;
        for (std::size_t f = 0; f + kFrameLength <= speech.samples.size(); f += kFrameLength, ++frame) {
            for (int n = 0; n < kFrameLength; ++n) pcm[n] = speech.samples[f + static_cast<std::size_t>(n)];
            AnalyseFrame(*state, pcm);
            if (frame % static_cast<std::size_t>(every) != 0) continue;
            data.lsp.push_back(state->lsp);
            data.weights.push_back(LspWeights(state->lsp));
        }
    }
    return data;
}

} // namespace vntr::vt120::train
