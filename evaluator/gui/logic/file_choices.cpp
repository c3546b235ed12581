#include "gui/logic/file_choices.hpp"

namespace vntr::gui {

const FileChoice &ChoiceFor(FilePurpose purpose) {
    static const FileChoice kOpenOriginal{
        "Open original file...", "Wave files (*.wav);;All Files (*.*)", "wav", true, true, false};
    static const FileChoice kSaveCoded{
        "Save coded file as...", "Coded files (*.wav);;All Files (*.*)", "wav", false, false, true};
    static const FileChoice kSaveRecording{
        "Save recorded file as...", "Wave files (*.wav);;All Files (*.*)", "wav", false, false, true};
    static const FileChoice kOpenSession{
        "Open session...", "Session files (*.qbl);;All Files (*.*)", "qbl", true, true, false};
    static const FileChoice kSaveSession{
        "Save session as...", "Session files (*.qbl);;All Files (*.*)", "qbl", false, false, true};
    switch (purpose) {
    case FilePurpose::OpenOriginal:
        return kOpenOriginal;
    case FilePurpose::SaveCoded:
        return kSaveCoded;
    case FilePurpose::SaveRecording:
        return kSaveRecording;
    case FilePurpose::OpenSession:
        return kOpenSession;
    case FilePurpose::SaveSession:
        break;
    }
    return kSaveSession;
}

} // namespace vntr::gui
