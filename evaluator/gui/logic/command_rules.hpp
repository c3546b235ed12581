// Which commands the window offers in which situation.
//
// While processing, recording or playing, the file and option commands are
// greyed and the tool buttons disabled, except what stops the running work:
// the record command while recording, the play buttons while playing, and
// the break button while processing.  Otherwise everything is offered, with
// "Save Recorded File" only for an unsaved recording, "Save Session Output"
// only for an unsaved session, and processing and playing the original only
// when there is an original.
#pragma once

#include "core/evaluator.hpp"

namespace vntr::gui {

struct WindowFlags {
    evaluator::DisplayState state = evaluator::DisplayState::Idle;
    bool playing = false;          // a sound is playing
    bool unsavedRecording = false; // the original is a recording not saved yet
    bool unsavedSession = false;   // results of a completed run not saved as a session
    bool originalExists = false;
};

// Menu commands and the tool and break buttons (not the per-row buttons).
bool CommandEnabled(int command, const WindowFlags &flags);

// A row's play button: the codec has coded bytes, and no run or recording
// is going on.  Its save button: the same, not while playing, and only until
// that coded file has been saved.
bool RowPlayEnabled(bool hasCodedBytes, const WindowFlags &flags);
bool RowSaveEnabled(bool hasCodedBytes, bool alreadySaved, const WindowFlags &flags);

// Closing the window is refused while a run or a recording goes on.
bool MayClose(const WindowFlags &flags);

} // namespace vntr::gui
