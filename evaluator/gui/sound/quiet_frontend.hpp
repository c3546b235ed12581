// A front end for core calls whose own messages the window replaces with one
// of its own: it keeps the first message and answers nothing.
#pragma once

#include "core/frontend.hpp"

#include <string>

namespace vntr::gui {

class QuietFrontend final : public evaluator::Frontend {
public:
    void ShowMessage(const std::string &, evaluator::MessageIcon, const std::string &text) override {
        if (first.empty()) first = text;
    }
    evaluator::Answer AskQuestion(const std::string &, const std::string &, evaluator::QuestionButtons) override {
        return evaluator::Answer::No;
    }
    void ShowProgress(const evaluator::ProgressLines &) override {}
    void PumpEvents() override {}

    std::string first;
};

} // namespace vntr::gui
