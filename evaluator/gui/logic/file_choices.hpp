// The file choices of the program: their titles, filters, the pattern
// offered first, and whether the file must exist or an existing one is
// replaced only after a question.  Beside the five of the window, the
// workbench saves decoded files and exports the comparison table.
#pragma once

namespace vntr::gui {

enum class FilePurpose {
    OpenOriginal,
    SaveCoded,
    SaveRecording,
    OpenSession,
    SaveSession,
    SaveDecoded,
    ExportCsv,
    ExportJson,
    ExportTrials, // the blind A/B/X trials, as CSV
};

struct FileChoice {
    const char *title;
    const char *filter; // as shown: the listed type first, then "All Files (*.*)" for every file
    const char *suffix; // added to a name typed without one
    bool open;          // an open dialog (else a save dialog)
    bool mustExist;
    bool confirmOverwrite;
};

const FileChoice &ChoiceFor(FilePurpose purpose);

} // namespace vntr::gui
