#include "evaluator.hpp"

#include <vntr/platform/paths.hpp>

namespace vntr::evaluator {
namespace {

// Swallows the messages of a repeated match.
class SilentFrontend final : public Frontend {
public:
    void ShowMessage(const std::string &, MessageIcon, const std::string &) override {}
    Answer AskQuestion(const std::string &, const std::string &, QuestionButtons) override { return Answer::No; }
    void ShowProgress(const ProgressLines &) override {}
    void PumpEvents() override {}
};

} // namespace

Evaluator::Evaluator(Frontend &ui, EvaluatorConfig config) : ui_(ui), config_(std::move(config)) {
    if (config_.systemRoot.empty()) config_.systemRoot = platform::SystemRoot().value_or("");
    temp_.dir = config_.tempDir;
    if (!temp_.dir.empty() && temp_.dir.back() != '/') temp_.dir += '/';
    if (config_.scorer) scorerCommand_ = config_.scorer->Command();
}

bool Evaluator::SetScorerCommand(const std::string &command, std::string &error) {
    if (command.find_first_not_of(" \t") == std::string::npos) {
        config_.scorer.reset();
        scorerCommand_.clear();
        return true;
    }
    auto scorer = ExternalScorer::Parse(command, error);
    if (!scorer) return false;
    config_.scorer = std::move(scorer);
    scorerCommand_ = command;
    return true;
}

Evaluator::~Evaluator() = default;

bool Evaluator::Startup() {
    if (temp_.dir.empty()) {
        const auto dir = platform::UserTempDirectory();
        if (!dir) {
            Error("Cannot create the temporary folder.");
            return false;
        }
        temp_.dir = *dir;
    }
    temp_.DeleteAll();
    DiscoverCodecs();
    return true;
}

void Evaluator::Shutdown() {
    temp_.DeleteAll();
    if (config_.savePreferences) SavePreferences();
    UnloadCodecs();
}

std::string Evaluator::OriginalDisplayName() const {
    return fromSession_ ? sessionOriginalName_ : original_.name;
}

void Evaluator::ClearOriginal() {
    original_ = OriginalFile{};
    fromSession_ = false;
    sessionOriginalName_.clear();
    downsampleMade_ = false;
}

void Evaluator::MatchCodecQuietly(CodecSlot &slot) {
    SilentFrontend silent;
    MatchCodec(silent, slot, original_);
}

bool Evaluator::OpenOriginalFile(const std::string &path) {
    OriginalFile opened;
    if (!OpenOriginal(ui_, path, opened)) {
        // The previous original, its results and the display state stay
        // usable; only a recording whose file cannot be used ends here.
        if (state_ == DisplayState::Recording) AbandonRecording();
        return false;
    }
    // A temporary original that is replaced goes with the other temporary files.
    const bool keep = opened.path == temp_.Original();
    temp_.DeleteAll(keep);
    ClearOriginal();
    original_ = opened;
    unsavedSession_ = false;
    for (std::size_t i = 0; i < slotCount_; ++i) {
        if (slots_[i].selected == 0) continue;
        slots_[i].ClearPerFileResults();
        MatchCodec(ui_, slots_[i], original_);
    }
    state_ = DisplayState::Idle;
    ui_.ResultsChanged();
    return true;
}

int Evaluator::FindCodec(const std::string &name) const {
    for (std::size_t i = 0; i < slotCount_; ++i) {
        if (slots_[i].Name() == name) return static_cast<int>(i);
    }
    return -1;
}

bool Evaluator::IsSelected(std::size_t index) const {
    return index < slotCount_ && slots_[index].selected != 0;
}

uint32_t Evaluator::OfferedOptions(std::size_t index) const {
    return index < slotCount_ ? slots_[index].info.optionMask : 0;
}

uint32_t Evaluator::CodecOptions(std::size_t index) const {
    return index < slotCount_ ? slots_[index].encoderOptions : 0;
}

bool Evaluator::SetCodecOptions(std::size_t index, uint32_t options) {
    if (index >= slotCount_) return false;
    slots_[index].SetOptions(options);
    return true;
}

void Evaluator::ApplySelection(const std::vector<bool> &selected) {
    selectedCount_ = 0;
    for (std::size_t i = 0; i < slotCount_; ++i) {
        CodecSlot &slot = slots_[i];
        const bool on = i < selected.size() && selected[i];
        if (on) {
            ++selectedCount_;
            slot.selected = 1;
            if (original_.Exists()) MatchCodec(ui_, slot, original_);
        } else {
            slot.selected = 0;
            slot.ClearPerFileResults();
        }
    }
    unsavedSession_ = false;
    OrderResults();
}

void Evaluator::MoveOriginal(const std::string &path) {
    if (!original_.Exists()) return;
    original_.path = path;
    original_.name = platform::FileNameOf(path);
    fromSession_ = false;
    sessionOriginalName_.clear();
    ui_.ResultsChanged();
}

void Evaluator::BeginRecording() {
    temp_.DeleteAll();
    if (original_.path == temp_.Original()) ClearOriginal();
    downsampleMade_ = false;
    unsavedSession_ = false;
    for (std::size_t i = 0; i < slotCount_; ++i) {
        if (slots_[i].selected != 0) slots_[i].ClearPerFileResults();
    }
    state_ = DisplayState::Recording;
    ui_.ResultsChanged();
}

void Evaluator::AbandonRecording() {
    if (original_.Exists()) {
        for (std::size_t i = 0; i < slotCount_; ++i) {
            if (slots_[i].selected != 0) MatchCodecQuietly(slots_[i]);
        }
    }
    state_ = DisplayState::Idle;
    ui_.ResultsChanged();
}

} // namespace vntr::evaluator
