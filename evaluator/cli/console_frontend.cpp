#include "cli/console_frontend.hpp"

#include <csignal>

namespace vntr::cli {
namespace {

// Lock-free, so that the signal handler may set it and any thread read it.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

} // namespace

const std::atomic<bool> &ConsoleFrontend::InterruptFlag() {
    return gInterrupted;
}

ConsoleFrontend::ConsoleFrontend(std::FILE *err, bool showProgress) : err_(err), showProgress_(showProgress) {}

ConsoleFrontend::~ConsoleFrontend() {
    EndProgressLine();
}

void ConsoleFrontend::CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void ConsoleFrontend::EndProgressLine() {
    if (progressShown_) {
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        progressShown_ = false;
    }
}

void ConsoleFrontend::ShowMessage(const std::string &title, evaluator::MessageIcon, const std::string &text) {
    EndProgressLine();
    messages_.push_back(title + ": " + text);
    std::fprintf(err_, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(err_);
}

evaluator::Answer ConsoleFrontend::AskQuestion(const std::string &title, const std::string &text,
                                               evaluator::QuestionButtons) {
    // Nobody is there to answer: go on without saving, and stop a run only
    // when asked to by an interrupt.
    EndProgressLine();
    const evaluator::Answer answer = gInterrupted.load() ? evaluator::Answer::Yes : evaluator::Answer::No;
    std::fprintf(err_, "%s: %s %s\n", title.c_str(), text.c_str(), answer == evaluator::Answer::Yes ? "Yes" : "No");
    return answer;
}

void ConsoleFrontend::ShowProgress(const evaluator::ProgressLines &lines) {
    if (!showProgress_ || lines.status.empty()) return;
    std::fprintf(err_, "\r\033[K%s %s, %s", lines.status.c_str(), lines.coding.c_str(), lines.decoding.c_str());
    std::fflush(err_);
    progressShown_ = true;
}

bool ConsoleFrontend::CancelRequested() {
    return gInterrupted.load();
}

} // namespace vntr::cli
