// Everything through which the window waits for the user: message boxes,
// questions, file choosers, modal dialogs and the help browser.  The window
// asks through this interface so that tests can answer in its place.
#pragma once

#include "core/frontend.hpp"
#include "gui/logic/file_choices.hpp"

#include <QString>
#include <QUrl>

#include <optional>

class QDialog;
class QWidget;

namespace vntr::gui {

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void Message(QWidget *parent, const QString &title, evaluator::MessageIcon icon, const QString &text) = 0;
    virtual evaluator::Answer Question(QWidget *parent, const QString &title, const QString &text,
                                       evaluator::QuestionButtons buttons) = 0;
    // A path, or nothing when the user closed the chooser.
    virtual std::optional<QString> ChooseFile(QWidget *parent, FilePurpose purpose) = 0;
    // Runs a modal dialog; QDialog::Accepted or Rejected.
    virtual int RunDialog(QDialog &dialog) = 0;
    // Opens a page in the user's browser; false when none could be started.
    virtual bool OpenUrl(const QUrl &url) = 0;
};

// Message boxes, the file dialogs (remembering the last folder), exec() and
// the desktop's browser.
class DesktopPrompts final : public Prompts {
public:
    void Message(QWidget *parent, const QString &title, evaluator::MessageIcon icon, const QString &text) override;
    evaluator::Answer Question(QWidget *parent, const QString &title, const QString &text,
                               evaluator::QuestionButtons buttons) override;
    std::optional<QString> ChooseFile(QWidget *parent, FilePurpose purpose) override;
    int RunDialog(QDialog &dialog) override;
    bool OpenUrl(const QUrl &url) override;

private:
    QString folder_;
};

} // namespace vntr::gui
