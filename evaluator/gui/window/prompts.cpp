#include "gui/window/prompts.hpp"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace vntr::gui {

using evaluator::Answer;
using evaluator::MessageIcon;
using evaluator::QuestionButtons;

void DesktopPrompts::Message(QWidget *parent, const QString &title, MessageIcon icon, const QString &text) {
    const QMessageBox::Icon shown = icon == MessageIcon::Error     ? QMessageBox::Critical
                                    : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                                   : QMessageBox::Information;
    QMessageBox box(shown, title, text, QMessageBox::Ok, parent);
    box.exec();
}

Answer DesktopPrompts::Question(QWidget *parent, const QString &title, const QString &text, QuestionButtons buttons) {
    QMessageBox::StandardButtons offered = QMessageBox::Yes | QMessageBox::No;
    if (buttons == QuestionButtons::YesNoCancel) offered |= QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, title, text, offered, parent);
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        // Escape or the close box: Cancel where it is offered, else No.
        return buttons == QuestionButtons::YesNoCancel ? Answer::Cancel : Answer::No;
    }
}

namespace {

// "All Files (*.*)" is the text users know, but a "*.*" pattern would hide
// every name without a dot.  The dialog filters that entry with "*" and only
// its list of types shows "*.*" (a desktop's own dialog, which has no such
// list, shows "*").
void SetFilters(QFileDialog &dialog, const char *filter) {
    const QStringList shown = QString::fromUtf8(filter).split(QStringLiteral(";;"));
    QStringList applied = shown;
    for (QString &entry : applied) entry.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    dialog.setNameFilters(applied);
    if (auto *types = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))) {
        for (int i = 0; i < types->count() && i < shown.size(); ++i) types->setItemText(i, shown[i]);
    }
}

} // namespace

std::optional<QString> DesktopPrompts::ChooseFile(QWidget *parent, FilePurpose purpose) {
    const FileChoice &choice = ChoiceFor(purpose);
    QFileDialog dialog(parent, QString::fromUtf8(choice.title), folder_);
    SetFilters(dialog, choice.filter);
    dialog.setAcceptMode(choice.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(choice.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromUtf8(choice.suffix));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !choice.confirmOverwrite);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    folder_ = QFileInfo(path).absolutePath();
    return path;
}

int DesktopPrompts::RunDialog(QDialog &dialog) {
    return dialog.exec();
}

bool DesktopPrompts::OpenUrl(const QUrl &url) {
    return QDesktopServices::openUrl(url);
}

} // namespace vntr::gui
