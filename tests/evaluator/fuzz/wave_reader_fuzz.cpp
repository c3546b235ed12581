// libFuzzer target: any bytes as an original wave file.
#include "core/wavefile.hpp"

#include <unistd.h>

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
    static const std::string path = "/tmp/vntr-wave-fuzz-" + std::to_string(getpid()) + ".wav";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    Quiet ui;
    vntr::evaluator::OriginalFile original;
    if (vntr::evaluator::OpenOriginal(ui, path, original)) {
        if (auto wave = vntr::evaluator::OpenWaveForReading(ui, path)) {
            unsigned char buffer[4096];
            while (wave->ReadData(buffer, sizeof buffer) > 0) {
            }
            vntr::evaluator::CloseWave(ui, *wave);
        }
    }
    return 0;
}
