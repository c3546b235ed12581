// libFuzzer target: any bytes as an original wave file: checked, read, and
// read again as the measures do.
#include "core/wave_samples.hpp"
#include "core/wavefile.hpp"
#include "fuzz_folder.hpp"

#include <cstdio>
#include <string>

namespace {

class Quiet final : public vntr::evaluator::Frontend {
public:
    void ShowMessage(const std::string &, vntr::evaluator::MessageIcon, const std::string &) override {}
    vntr::evaluator::Answer AskQuestion(const std::string &, const std::string &,
                                        vntr::evaluator::QuestionButtons) override {
        return vntr::evaluator::Answer::No;
    }
    void ShowProgress(const vntr::evaluator::ProgressLines &) override {}
    void PumpEvents() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vntr::test::FuzzFolder folder("vntr-wave-fuzz");
    static const std::string path = folder.Path() + "/original.wav";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    Quiet ui;
    vntr::evaluator::OriginalFile original;
    if (vntr::evaluator::OpenOriginal(ui, path, original)) {
        // The measures read an accepted original with the width the check gave it.
        vntr::evaluator::WaveSampleReader samples;
        if (!samples.Open(path)) __builtin_trap();
        if (samples.BitsPerSample() != ((original.formatFlags & CODEC_FMT_8BIT) != 0 ? 8u : 16u)) __builtin_trap();
        if (auto wave = vntr::evaluator::OpenWaveForReading(ui, path)) {
            unsigned char buffer[4096];
            while (wave->ReadData(buffer, sizeof buffer) > 0) {}
            vntr::evaluator::CloseWave(ui, *wave);
        }
    }
    return 0;
}
