// The batch front end's side of the core's interface: messages go to stderr
// as "title: text", questions get a fixed answer, progress is one
// self-overwriting line on a terminal, and Ctrl+C (or SIGTERM) asks the run
// to stop.
#pragma once

#include "core/frontend.hpp"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace vntr::cli {

class ConsoleFrontend final : public evaluator::Frontend {
public:
    explicit ConsoleFrontend(std::FILE *err = stderr, bool showProgress = false);
    ~ConsoleFrontend() override;

    void ShowMessage(const std::string &title, evaluator::MessageIcon icon, const std::string &text) override;
    evaluator::Answer AskQuestion(const std::string &title, const std::string &text,
                                  evaluator::QuestionButtons buttons) override;
    void ShowProgress(const evaluator::ProgressLines &lines) override;
    void PumpEvents() override {}
    bool CancelRequested() override;
    // The table lists a codec that cannot take the original with the reason.
    void ShowCodecMismatch(const std::string &) override {}

    // Every message shown, as "title: text", for the machine-readable report.
    const std::vector<std::string> &Messages() const { return messages_; }
    // Installs a SIGINT and SIGTERM handler that makes CancelRequested true.
    static void CatchInterrupt();
    // Set by that handler; read by the corpus run's workers.
    static const std::atomic<bool> &InterruptFlag();

private:
    void EndProgressLine();
    std::FILE *err_;
    bool showProgress_;
    bool progressShown_ = false;
    std::vector<std::string> messages_;
};

} // namespace vntr::cli
