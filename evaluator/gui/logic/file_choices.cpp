#include "gui/logic/file_choices.hpp"

#include <string>

namespace vntr::gui {
namespace {

// The workbench's choices end with the same "every file" entry as the others.
const FileChoice &WorkbenchChoice(FilePurpose purpose) {
    static const std::string kEveryFile = [] {
        const std::string filter = ChoiceFor(FilePurpose::SaveRecording).filter;
        return filter.substr(filter.find(";;"));
    }();
    static const std::string kWave = "Wave files (*.wav)" + kEveryFile;
    static const std::string kCsv = "CSV tables (*.csv)" + kEveryFile;
    static const std::string kJson = "JSON files (*.json)" + kEveryFile;
    static const FileChoice kSaveDecoded{"Save decoded file as...", kWave.c_str(), "wav", false, false, true};
    static const FileChoice kExportCsv{"Export comparison as CSV...", kCsv.c_str(), "csv", false, false, true};
    static const FileChoice kExportJson{"Export comparison as JSON...", kJson.c_str(), "json", false, false, true};
    static const FileChoice kExportTrials{"Export blind trials as CSV...", kCsv.c_str(), "csv", false, false, true};
    switch (purpose) {
    case FilePurpose::ExportTrials:
        return kExportTrials;
    case FilePurpose::ExportCsv:
        return kExportCsv;
    case FilePurpose::ExportJson:
        return kExportJson;
    default:
        return kSaveDecoded;
    }
}

} // namespace

const FileChoice &ChoiceFor(FilePurpose purpose) {
    if (purpose == FilePurpose::SaveDecoded || purpose == FilePurpose::ExportCsv ||
        purpose == FilePurpose::ExportJson || purpose == FilePurpose::ExportTrials) {
        return WorkbenchChoice(purpose);
    }

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
    default:
        break;
    }
    return kSaveSession;
}

} // namespace vntr::gui
