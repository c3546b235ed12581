// The interface through which the evaluator's core talks to the user.
//
// The core never draws and never blocks on input by itself: it shows
// messages and asks questions through a Frontend, reports progress as text
// lines, and hands control back after every coded frame so that a window can
// stay alive.  The desktop window and the batch command line are two
// implementations of this class; the core is the same for both.
//
// Contract (stable; add new functions with a default body only):
//  - Every call comes from the thread that called into the core.
//  - ShowMessage and AskQuestion are modal: they return when the user has
//    seen (or answered) them.  Titles and texts are the program's own and are
//    shown as they stand.
//  - ShowProgress is called when a codec starts and then at most every
//    200 ms while it runs; the lines replace the status area's contents.
//  - PumpEvents is called after every frame of a run; a window dispatches its
//    pending events there.  A "&Break" button that the user confirms (see
//    Evaluator::ConfirmCancel) or any other stop request is reported through
//    CancelRequested, which the core polls right after PumpEvents.
//  - ResultsChanged says that slots, rows or the display state changed and
//    the result area should be redrawn.
#pragma once

#include <string>

namespace vntr::evaluator {

// Titles of the program's message boxes.
inline constexpr const char *kErrorTitle = "Vantre QBL Evaluator: Error";
inline constexpr const char *kQuestionTitle = "Vantre QBL Evaluator";

enum class MessageIcon { Error, Warning, Information };
enum class QuestionButtons { YesNo, YesNoCancel };
enum class Answer { Yes, No, Cancel };

// The status area while a codec runs: the status text ("Processing algorithm
// VT48:") and the coding and decoding progress lines.
struct ProgressLines {
    std::string status;
    std::string coding;
    std::string decoding;
};

class Frontend {
public:
    virtual ~Frontend() = default;

    virtual void ShowMessage(const std::string &title, MessageIcon icon, const std::string &text) = 0;
    virtual Answer AskQuestion(const std::string &title, const std::string &text, QuestionButtons buttons) = 0;
    virtual void ShowProgress(const ProgressLines &lines) = 0;
    virtual void PumpEvents() = 0;
    virtual bool CancelRequested() { return false; }
    virtual void ResultsChanged() {}
    // Wait cursor on (true) or off around long file operations.
    virtual void SetBusy(bool /*busy*/) {}
    // A selected codec cannot take the original (its rate or its format);
    // `text` is the error message that says so.  A front end that lists such
    // codecs with their reason (CodecSlot::notRunReason) may leave it unsaid.
    virtual void ShowCodecMismatch(const std::string &text) { ShowMessage(kErrorTitle, MessageIcon::Error, text); }
};

} // namespace vntr::evaluator
