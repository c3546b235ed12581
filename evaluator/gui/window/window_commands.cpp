// The window's file, session, option and help commands.
#include "core/printf.hpp"
#include "gui/dialogs/about_dialog.hpp"
#include "gui/dialogs/codec_options_dialog.hpp"
#include "gui/dialogs/record_settings_dialog.hpp"
#include "gui/dialogs/select_codecs_dialog.hpp"
#include "gui/window/main_window.hpp"

#include <QFileInfo>
#include <QInputDialog>
#include <QUrl>

namespace vntr::gui {

using evaluator::Answer;
using evaluator::DisplayState;
using evaluator::QuestionButtons;

// The questions before an original, a session or the window is given up:
// save the unsaved recording, save the unsaved session.  False when the user
// cancelled.  Closing the chooser goes on without saving the recording but
// cancels on the session; a failed save cancels.
bool MainWindow::AskToSave(bool recording, bool session) {
    if (recording && unsavedRecording_) {
        const Answer answer = AskQuestion(evaluator::kQuestionTitle, "Do you want to save the recorded file?",
                                          QuestionButtons::YesNoCancel);
        if (answer == Answer::Cancel) return false;
        if (answer == Answer::Yes && SaveRecordingAs() == SaveOutcome::Failed) return false;
    }
    if (session && core_->UnsavedSession()) {
        const Answer answer = AskQuestion(evaluator::kQuestionTitle, "Do you want to save the current session?",
                                          QuestionButtons::YesNoCancel);
        if (answer == Answer::Cancel) return false;
        if (answer == Answer::Yes && SaveSessionAs() != SaveOutcome::Saved) return false;
    }
    return true;
}

MainWindow::SaveOutcome MainWindow::SaveRecordingAs() {
    const auto path = prompts_->ChooseFile(this, FilePurpose::SaveRecording);
    if (!path) return SaveOutcome::NoName;
    const std::string destination = path->toStdString();
    if (!evaluator::CopyFile(*this, core_->Temp().Original(), destination)) return SaveOutcome::Failed;
    unsavedRecording_ = false;
    core_->MoveOriginal(destination);
    Refresh();
    return SaveOutcome::Saved;
}

MainWindow::SaveOutcome MainWindow::SaveSessionAs() {
    const auto path = prompts_->ChooseFile(this, FilePurpose::SaveSession);
    if (!path) return SaveOutcome::NoName;
    const bool saved = core_->SaveSession(path->toStdString());
    Refresh();
    return saved ? SaveOutcome::Saved : SaveOutcome::Failed;
}

void MainWindow::OpenOriginalCommand() {
    if (!AskToSave(true, true)) return;
    const auto path = prompts_->ChooseFile(this, FilePurpose::OpenOriginal);
    if (!path) return;
    // A file that cannot be used changes nothing: the original, its results,
    // the details shown and an unsaved recording all stay.
    const int detailRow = detailRow_;
    const auto codedSaved = codedSaved_;
    const bool unsavedRecording = unsavedRecording_;
    detailRow_ = 0;
    codedSaved_.fill(false);
    // An opened original replaces the recording: its file goes with the temporary files.
    unsavedRecording_ = false;
    if (!core_->OpenOriginalFile(path->toStdString())) {
        detailRow_ = detailRow;
        codedSaved_ = codedSaved;
        unsavedRecording_ = unsavedRecording;
    }
    Refresh();
}

void MainWindow::ProcessCommand() {
    detailRow_ = 0;
    codedSaved_.fill(false);
    progressLines_ = {};
    Collect(Collecting::Running, true);
    core_->ProcessSelectedCodecs();
    Collect(Collecting::Nothing, false);
    progressLines_ = {};
    ++runSerial_;
    Refresh();
}

void MainWindow::LoadSessionCommand() {
    if (!AskToSave(true, true)) return;
    const auto path = prompts_->ChooseFile(this, FilePurpose::OpenSession);
    if (path) OpenSessionFile(*path);
}

void MainWindow::OpenSessionFile(const QString &path) {
    detailRow_ = 0;
    codedSaved_.fill(false);
    unsavedRecording_ = false;
    progressLines_ = {};
    Collect(Collecting::Opening, true);
    core_->OpenSession(path.toStdString());
    Collect(Collecting::Nothing, false);
    progressLines_ = {};
    ++runSerial_;
    Refresh();
}

void MainWindow::SaveSessionCommand() {
    SaveSessionAs();
}

void MainWindow::SelectCodecsCommand() {
    if (!AskToSave(false, true)) return;
    std::vector<std::string> descriptions;
    std::vector<bool> selected;
    for (std::size_t i = 0; i < core_->SlotCount(); ++i) {
        descriptions.push_back(core_->Slots()[i].Description());
        selected.push_back(core_->IsSelected(i));
    }
    SelectCodecsDialog dialog(descriptions, selected, this);
    if (prompts_->RunDialog(dialog) == QDialog::Accepted) {
        detailRow_ = 0;
        Collect(Collecting::Opening, false);
        core_->ApplySelection(dialog.Result());
        Collect(Collecting::Nothing, false);
    }
    core_->ForgetUnsavedSession();
    Refresh();
}

void MainWindow::RecordSettingsCommand() {
    RecordSettingsDialog dialog(recordFormat_, this);
    if (prompts_->RunDialog(dialog) == QDialog::Accepted) recordFormat_ = dialog.Format();
}

void MainWindow::ExternalScorerCommand() {
    QInputDialog dialog(this);
    dialog.setWindowTitle("External scorer");
    dialog.setLabelText("A quality tool to run on each original and decoded file, its paths as {ref} and {deg}\n"
                        "(for example: pesq +8000 {ref} {deg}); the last number it prints is its score.\n"
                        "Empty: none.");
    dialog.setTextValue(QString::fromStdString(core_->ScorerCommand()));
    dialog.resize(560, dialog.sizeHint().height());
    if (prompts_->RunDialog(dialog) != QDialog::Accepted) return;
    std::string error;
    if (!core_->SetScorerCommand(dialog.textValue().trimmed().toStdString(), error)) {
        Error(QString::fromStdString("The external scorer cannot be used: " + error + "."));
    }
}

void MainWindow::AboutCommand() {
    AboutDialog dialog(this);
    prompts_->RunDialog(dialog);
}

void MainWindow::HelpCommand(const QString &anchor) {
    if (!QFileInfo::exists(helpFile_)) {
        Error(QString("Cannot find the help file %1.").arg(helpFile_));
        return;
    }
    QUrl url = QUrl::fromLocalFile(QFileInfo(helpFile_).absoluteFilePath());
    if (!anchor.isEmpty()) url.setFragment(anchor);
    if (!prompts_->OpenUrl(url)) Error(QString("Could not open the help file %1 in a web browser.").arg(helpFile_));
}

void MainWindow::SaveCodedCommand(int row) {
    evaluator::CodecSlot *slot = SlotAtRow(row);
    if (slot == nullptr || slot->codedBytes == 0) return;
    const auto path = prompts_->ChooseFile(this, FilePurpose::SaveCoded);
    if (!path) return;
    if (evaluator::CopyFile(*this, core_->Temp().Coded(slot->Name()), path->toStdString())) {
        codedSaved_[static_cast<std::size_t>(slot - core_->Slots().data())] = true;
    }
    Refresh();
}

void MainWindow::RowClicked(int row, Qt::MouseButton button) {
    const DisplayState state = core_->State();
    if (button == Qt::LeftButton && state == DisplayState::Results) {
        SelectDetailRow(row);
    } else if (button == Qt::RightButton && (state == DisplayState::Idle || state == DisplayState::Results)) {
        CodecOptions(row);
    }
}

void MainWindow::SelectDetailRow(int row) {
    detailRow_ = row;
    Refresh();
}

void MainWindow::CodecOptions(int row) {
    const evaluator::CodecSlot *slot = SlotAtRow(row - 1);
    if (slot == nullptr) return;
    const auto index = static_cast<std::size_t>(slot - core_->Slots().data());
    CodecOptionsDialog dialog(slot->Name(), core_->OfferedOptions(index), core_->CodecOptions(index), this);
    if (prompts_->RunDialog(dialog) == QDialog::Accepted) core_->SetCodecOptions(index, dialog.OptionWord());
}

} // namespace vntr::gui
