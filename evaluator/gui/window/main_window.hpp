// The evaluator's window: the menu VTBENCHMENU, the tool buttons, the
// original's line, a result row per selected codec with its play and save
// buttons, the status area and the logo.  It is the core's front end: the
// core shows its messages, questions and progress through it, and it runs
// the core's commands, recording and playback.
#pragma once

#include "core/evaluator.hpp"
#include "gui/logic/command_rules.hpp"
#include "gui/logic/layout.hpp"
#include "gui/logic/status_text.hpp"
#include "gui/sound/pcm_clip.hpp"
#include "gui/sound/recording_buffer.hpp"
#include "gui/sound/sound_devices.hpp"
#include "gui/window/comparison_view.hpp"
#include "gui/window/prompts.hpp"
#include "gui/window/result_area.hpp"
#include "gui/window/signal_view.hpp"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QProgressBar;

namespace vntr::gui {

class ToolButton;

class MainWindow final : public QMainWindow, public evaluator::Frontend {
    Q_OBJECT
public:
    struct Setup {
        evaluator::EvaluatorConfig config;
        Prompts *prompts = nullptr; // null: message boxes and file dialogs of the desktop
        SoundDevices sound;         // empty: the sound server's default devices
        QString helpFile;           // empty: qbleval.html beside the program
    };

    explicit MainWindow(Setup setup, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Deletes leftover temporary files, discovers the codecs, restores the
    // preferences and shows the window; a session named on the command line
    // is opened right after.  False when there is no temporary folder.
    bool Start(const QString &sessionPath = {});

    // Runs a menu or button command by its identifier; nothing when the
    // command is not offered at the moment.
    void Command(int id);
    bool Offered(int id) const;

    // ---- The core's front end ------------------------------------------------
    void ShowMessage(const std::string &title, evaluator::MessageIcon icon, const std::string &text) override;
    evaluator::Answer AskQuestion(const std::string &title, const std::string &text,
                                  evaluator::QuestionButtons buttons) override;
    void ShowProgress(const evaluator::ProgressLines &lines) override;
    void PumpEvents() override;
    void ResultsChanged() override { Refresh(); }
    void SetBusy(bool busy) override;

    // ---- What the window shows ------------------------------------------------
    evaluator::Evaluator &Core() { return *core_; }
    const Layout &Geometry() const { return layout_; }
    ResultArea *Area() const { return area_; }
    QAction *Action(int id) const;
    ToolButton *Button(int id) const; // tool buttons and the rows' buttons
    QPushButton *BreakButton() const { return break_; }
    QProgressBar *ProgressBar() const { return progress_; }
    SignalView *Signals() const { return signalView_; }
    ComparisonView *Comparison() const { return comparisonView_; }
    // The context menu of a row's play and save buttons (the right click on
    // the bar itself opens the codec's options); null when none is open.
    QMenu *RowMenu() const { return rowMenu_; }
    void BuildRowMenu(int row, QMenu &menu);
    WindowFlags Flags() const;
    int Rows() const;
    int DetailRow() const { return detailRow_; }
    int PlayingCommand() const { return playingCommand_; }
    bool LoopPlay() const { return loop_; }
    uint32_t RecordFormat() const { return recordFormat_; }
    bool UnsavedRecording() const { return unsavedRecording_; }
    // The slot shown on display row `row` (0-based), or null.
    evaluator::CodecSlot *SlotAtRow(int row);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class SaveOutcome { Saved, NoName, Failed };

    void BuildMenu();
    void BuildButtons();
    QAction *AddAction(class QMenu *menu, int id, const char *text);
    void Refresh();
    void SyncRowButtons(int rows, const WindowFlags &flags);
    DisplayModel BuildModel(const WindowFlags &flags);
    void UpdateProgressBar();
    void Error(const QString &text);

    // Commands (window_commands.cpp).
    bool AskToSave(bool recording, bool session);
    SaveOutcome SaveRecordingAs();
    SaveOutcome SaveSessionAs();
    void OpenOriginalCommand();
    void ProcessCommand();
    void LoadSessionCommand();
    void OpenSessionFile(const QString &path);
    void SaveSessionCommand();
    void SelectCodecsCommand();
    void RecordSettingsCommand();
    void ExternalScorerCommand();
    void AboutCommand();
    void HelpCommand(const QString &anchor);
    void SaveCodedCommand(int row);
    void CodecOptions(int row);
    void RowClicked(int row, Qt::MouseButton button);
    void SelectDetailRow(int row);
    void ShowSignalView();
    void UpdateSignalView();
    // The comparison workbench (window_workbench.cpp).
    void ShowComparison();
    void UpdateComparison();
    void ExportComparison(bool json);
    void ExportTrials();
    // Every installed codec's colour.
    CodecPalette Palette() const;
    void SaveDecodedCommand(int row);
    void OpenRowMenu(int row, const QPoint &global);
    bool SignalViewMayPlay();
    int RowOfCodec(const QString &name);
    void SetUpSignalView();
    void Shutdown();

    // Sound (window_sound.cpp).
    void RecordCommand();
    void StartRecording();
    void StopRecording();
    void UpdateRecordingLines();
    void PlayCommand(int button);
    bool StopPlaying();
    void EndOfPlay();
    void UpdateMeter();

    Layout layout_;
    std::unique_ptr<Prompts> ownPrompts_;
    Prompts *prompts_;
    SoundDevices sound_;
    QString helpFile_;
    std::unique_ptr<evaluator::Evaluator> core_;
    bool shutDown_ = false;

    ResultArea *area_ = nullptr;
    std::map<int, QAction *> actions_;
    std::map<int, ToolButton *> toolButtons_;
    std::vector<ToolButton *> playButtons_;
    std::vector<ToolButton *> saveButtons_;
    QPointer<QPushButton> break_;
    QProgressBar *progress_ = nullptr;
    QPointer<SignalView> signalView_;
    std::string signalKey_;
    int focusedRow_ = -1;
    QPointer<ComparisonView> comparisonView_;
    QPointer<QMenu> rowMenu_;
    // The messages since the original was opened (its codecs matched, or a
    // session opened and run) and those of the last run, for the exported
    // report, as the batch report lists them.
    enum class Collecting { Nothing, Opening, Running };
    void Collect(Collecting what, bool fresh);
    // The open command, keeping its messages when it opened an original.
    void OpenOriginalCollecting();
    std::vector<std::string> openMessages_;
    std::vector<std::string> runMessages_;
    Collecting collecting_ = Collecting::Nothing;
    int runSerial_ = 0;

    int detailRow_ = 0;
    bool unsavedRecording_ = false;
    std::array<bool, evaluator::kMaxSlots> codedSaved_{};
    evaluator::ProgressLines progressLines_;
    int busyCursor_ = 0;

    // Recording.
    uint32_t recordFormat_;
    RecordingBuffer recording_;
    QElapsedTimer recordClock_;
    QTimer recordTimer_;
    StatusLines recordingLines_;

    // Playback.
    bool loop_ = false;
    int playingCommand_ = 0;
    bool originalPlaying_ = false;
    std::optional<PcmClip> clip_;
    QTimer endOfPlay_;
    int endOfPlayWaits_ = 0;
    QTimer meterTimer_;
    int meterLevel_ = 0;
};

} // namespace vntr::gui
