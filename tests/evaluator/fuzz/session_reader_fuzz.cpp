// libFuzzer target: any bytes as a session file, opened by an evaluator with
// no codecs (the reader, the original's checks and the codec search run).
#include "core/evaluator.hpp"
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
    static const vntr::test::FuzzFolder folder("vntr-session-fuzz");
    const std::string &dir = folder.Path();
    const std::string path = dir + "/s.qbl";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    Quiet ui;
    vntr::evaluator::EvaluatorConfig config;
    config.tempDir = dir;
    config.systemRoot = dir;
    vntr::evaluator::Evaluator ev(ui, config);
    ev.OpenSession(path);
    return 0;
}
