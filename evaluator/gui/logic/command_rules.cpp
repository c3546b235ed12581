#include "gui/logic/command_rules.hpp"

#include "gui/commands.hpp"

namespace vntr::gui {
namespace {

using evaluator::DisplayState;

bool Working(const WindowFlags &f) {
    return f.state == DisplayState::Processing || f.state == DisplayState::Recording;
}
bool Busy(const WindowFlags &f) {
    return Working(f) || f.playing;
}

} // namespace

bool CommandEnabled(int command, const WindowFlags &f) {
    const bool recording = f.state == DisplayState::Recording;
    switch (command) {
    case kCmdRecord:
    case kBtnRecord:
        return recording || !Busy(f);
    case kCmdOpen:
    case kBtnOpen:
    case kCmdLoadSession:
    case kCmdExit:
    case kCmdSelectCodecs:
    case kCmdRecordSettings:
    case kCmdExternalScorer:
    case kCmdLoopPlay:
        return !Busy(f);
    case kCmdProcess:
    case kBtnProcess:
        return !Busy(f) && f.originalExists;
    case kCmdSaveRecording:
    case kBtnSaveRecording:
        return !Busy(f) && f.unsavedRecording;
    case kCmdSaveSession:
        return !Busy(f) && f.unsavedSession;
    case kBtnPlayOriginal:
        return !Working(f) && (f.playing || f.originalExists);
    case kBtnBreak:
        return f.state == DisplayState::Processing;
    case kCmdSignalView:
        return !Working(f);
    case kCmdCompareCodecs:
        return true;
    case kCmdHelpContents:
    case kCmdHelpOnHelp:
    case kCmdAbout:
        return true;
    default:
        return false;
    }
}

bool RowPlayEnabled(bool hasCodedBytes, const WindowFlags &f) {
    return hasCodedBytes && !Working(f);
}

bool RowSaveEnabled(bool hasCodedBytes, bool alreadySaved, const WindowFlags &f) {
    return hasCodedBytes && !alreadySaved && !Busy(f);
}

bool MayClose(const WindowFlags &f) {
    return !Working(f);
}

} // namespace vntr::gui
