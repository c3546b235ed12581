#include "gui/window/main_window.hpp"

#include "core/pipeline.hpp"
#include "gui/commands.hpp"
#include "gui/logic/record_format.hpp"
#include "gui/window/pictures.hpp"
#include "gui/window/signal_view.hpp"
#include "gui/window/tool_button.hpp"

#include <vntr/platform/paths.hpp>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

namespace vntr::gui {
namespace {

using evaluator::DisplayState;

QString DefaultHelpFile() {
    const auto exe = platform::ExecutablePath();
    if (!exe) return {};
    const QString dir = QString::fromStdString(platform::DirectoryOf(*exe));
    const QString beside = dir + "/qbleval.html";
    if (QFileInfo::exists(beside)) return beside;
    return dir + "/../share/vtbench32/qbleval.html";
}

} // namespace

MainWindow::MainWindow(Setup setup, QWidget *parent)
    : QMainWindow(parent), layout_(fontMetrics().height()), prompts_(setup.prompts), sound_(std::move(setup.sound)),
      helpFile_(std::move(setup.helpFile)), recordFormat_(kDefaultRecordFormat) {
    if (prompts_ == nullptr) {
        ownPrompts_ = std::make_unique<DesktopPrompts>();
        prompts_ = ownPrompts_.get();
    }
    if (!sound_.output || !sound_.input) {
        SoundDevices system = MakeSystemSoundDevices();
        if (!sound_.output) sound_.output = std::move(system.output);
        if (!sound_.input) sound_.input = std::move(system.input);
    }
    if (helpFile_.isEmpty()) helpFile_ = DefaultHelpFile();
    core_ = std::make_unique<evaluator::Evaluator>(*this, std::move(setup.config));

    setWindowTitle("Vantre Quibell Evaluator V5.00");
    setWindowIcon(ProgramIcon());
    setObjectName("VTBENCH");
    // A caption, a system menu and a minimize box; no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    area_ = new ResultArea(layout_, this);
    setCentralWidget(area_);
    connect(area_, &ResultArea::RowClicked, this, &MainWindow::RowClicked);
    connect(area_, &ResultArea::RowDoubleClicked, this, [this](int row) {
        if (core_->State() != DisplayState::Results) return;
        SelectDetailRow(row);
        ShowSignalView();
    });
    connect(area_, &ResultArea::OriginalDoubleClicked, this, [this] { Command(kCmdCompareCodecs); });
    BuildMenu();
    BuildButtons();

    progress_ = new QProgressBar(area_);
    progress_->setObjectName("progress");
    progress_->setRange(0, 100);
    progress_->setFormat("%p %");
    progress_->hide();

    recordTimer_.setInterval(100);
    connect(&recordTimer_, &QTimer::timeout, this, &MainWindow::UpdateRecordingLines);
    meterTimer_.setInterval(40);
    connect(&meterTimer_, &QTimer::timeout, this, &MainWindow::UpdateMeter);
    endOfPlay_.setSingleShot(true);
    connect(&endOfPlay_, &QTimer::timeout, this, &MainWindow::EndOfPlay);
    Refresh();
}

MainWindow::~MainWindow() {
    // The views play through the sound output: they go before it does.
    delete signalView_.data();
    delete comparisonView_.data();
    endOfPlay_.stop();
    meterTimer_.stop();
    recordTimer_.stop();
    if (sound_.output) sound_.output->Stop();
    if (sound_.input) sound_.input->Stop();
    Shutdown();
}

bool MainWindow::Start(const QString &sessionPath) {
    if (!core_->Startup()) return false;
    Refresh();
    show();
    if (!sessionPath.isEmpty()) {
        QTimer::singleShot(0, this, [this, sessionPath] { OpenSessionFile(sessionPath); });
    }
    return true;
}

QAction *MainWindow::AddAction(QMenu *menu, int id, const char *text) {
    auto *action = menu->addAction(QString::fromUtf8(text));
    action->setProperty("command", id);
    action->setObjectName(QStringLiteral("action%1").arg(id));
    connect(action, &QAction::triggered, this, [this, id] { Command(id); });
    actions_[id] = action;
    return action;
}

void MainWindow::BuildMenu() {
    QMenuBar *bar = menuBar();
    bar->setObjectName("VTBENCHMENU");
    QMenu *file = bar->addMenu("&File");
    AddAction(file, kCmdOpen, "&Open...");
    AddAction(file, kCmdRecord, "&Record...");
    AddAction(file, kCmdSaveRecording, "&Save Recorded File");
    file->addSeparator();
    AddAction(file, kCmdLoadSession, "&Load Session");
    AddAction(file, kCmdSaveSession, "Save Session &Output");
    file->addSeparator();
    AddAction(file, kCmdExit, "E&xit");

    auto *process = bar->addAction("&Process!");
    process->setProperty("command", static_cast<int>(kCmdProcess));
    process->setObjectName(QStringLiteral("action%1").arg(kCmdProcess));
    connect(process, &QAction::triggered, this, [this] { Command(kCmdProcess); });
    actions_[kCmdProcess] = process;

    QMenu *options = bar->addMenu("&Options");
    AddAction(options, kCmdSelectCodecs, "Select &Codecs...");
    AddAction(options, kCmdRecordSettings, "&Record settings...");
    AddAction(options, kCmdExternalScorer, "External &scorer...");
    AddAction(options, kCmdLoopPlay, "&Loop Play")->setCheckable(true);
    options->addSeparator();
    AddAction(options, kCmdSignalView, "&Signal view...");
    AddAction(options, kCmdCompareCodecs, "Co&mpare codecs...");

    QMenu *help = bar->addMenu("&Help");
    AddAction(help, kCmdHelpContents, "&Contents")->setShortcut(QKeySequence::HelpContents);
    AddAction(help, kCmdHelpOnHelp, "&How to Use Help");
    help->addSeparator();
    AddAction(help, kCmdAbout, "&About...");
}

void MainWindow::BuildButtons() {
    const struct {
        int id;
        Glyph glyph;
        double x;
        const char *tip;
    } kTools[] = {
        {kBtnOpen, Glyph::Open, 5, "Open an original"},
        {kBtnRecord, Glyph::Record, 10, "Record an original"},
        {kBtnProcess, Glyph::Process, 15, "Process"},
        {kBtnPlayOriginal, Glyph::Play, 30, "Play the original"},
        {kBtnSaveRecording, Glyph::Save, 35, "Save the recording"},
    };
    for (const auto &tool : kTools) {
        auto *button = new ToolButton(tool.id, tool.glyph, area_);
        button->setGeometry(layout_.ToolButton(tool.x));
        button->setToolTip(tool.tip);
        connect(button, &QAbstractButton::clicked, this, [this, id = tool.id] { Command(id); });
        toolButtons_[tool.id] = button;
    }
}

QAction *MainWindow::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

ToolButton *MainWindow::Button(int id) const {
    if (const auto it = toolButtons_.find(id); it != toolButtons_.end()) return it->second;
    if (IsPlayRowButton(id) && id - kBtnPlayRow0 < static_cast<int>(playButtons_.size())) {
        return playButtons_[static_cast<std::size_t>(id - kBtnPlayRow0)];
    }
    if (IsSaveRowButton(id) && id - kBtnSaveRow0 < static_cast<int>(saveButtons_.size())) {
        return saveButtons_[static_cast<std::size_t>(id - kBtnSaveRow0)];
    }
    return nullptr;
}

WindowFlags MainWindow::Flags() const {
    WindowFlags flags;
    flags.state = core_->State();
    flags.playing = playingCommand_ != 0;
    flags.unsavedRecording = unsavedRecording_;
    flags.unsavedSession = core_->UnsavedSession();
    flags.originalExists = core_->Original().Exists();
    return flags;
}

int MainWindow::Rows() const {
    int rows = 0;
    for (std::size_t i = 0; i < core_->SlotCount(); ++i) {
        if (core_->IsSelected(i) && core_->Slots()[i].displaySlot >= 0) ++rows;
    }
    return rows;
}

evaluator::CodecSlot *MainWindow::SlotAtRow(int row) {
    for (std::size_t i = 0; i < core_->SlotCount(); ++i) {
        auto &slot = core_->Slots()[i];
        if (core_->IsSelected(i) && slot.displaySlot == row) return &slot;
    }
    return nullptr;
}

bool MainWindow::Offered(int id) const {
    if (IsPlayRowButton(id) || IsSaveRowButton(id)) {
        const ToolButton *button = Button(id);
        return button != nullptr && button->isEnabled();
    }
    return CommandEnabled(id, Flags());
}

void MainWindow::Command(int id) {
    if (!Offered(id)) return;
    switch (id) {
    case kCmdOpen:
    case kBtnOpen:
        OpenOriginalCollecting();
        break;
    case kCmdRecord:
    case kBtnRecord:
        RecordCommand();
        break;
    case kCmdSaveRecording:
    case kBtnSaveRecording:
        SaveRecordingAs();
        break;
    case kCmdProcess:
    case kBtnProcess:
        ProcessCommand();
        break;
    case kCmdLoadSession:
        LoadSessionCommand();
        break;
    case kCmdSaveSession:
        SaveSessionCommand();
        break;
    case kCmdExit:
        close();
        break;
    case kCmdSelectCodecs:
        SelectCodecsCommand();
        break;
    case kCmdRecordSettings:
        RecordSettingsCommand();
        break;
    case kCmdExternalScorer:
        ExternalScorerCommand();
        break;
    case kCmdLoopPlay:
        loop_ = !loop_;
        actions_[kCmdLoopPlay]->setChecked(loop_);
        break;
    case kCmdHelpContents:
        HelpCommand({});
        break;
    case kCmdHelpOnHelp:
        HelpCommand("using-help");
        break;
    case kCmdAbout:
        AboutCommand();
        break;
    case kCmdSignalView:
        ShowSignalView();
        break;
    case kCmdCompareCodecs:
        ShowComparison();
        break;
    case kBtnBreak:
        core_->ConfirmCancel();
        break;
    case kBtnPlayOriginal:
        PlayCommand(id);
        break;
    default:
        if (IsPlayRowButton(id)) PlayCommand(id);
        if (IsSaveRowButton(id)) SaveCodedCommand(id - kBtnSaveRow0);
        break;
    }
}

void MainWindow::SyncRowButtons(int rows, const WindowFlags &flags) {
    while (static_cast<int>(playButtons_.size()) < rows) {
        const int row = static_cast<int>(playButtons_.size());
        auto *play = new ToolButton(kBtnPlayRow0 + row, Glyph::Play, area_);
        auto *save = new ToolButton(kBtnSaveRow0 + row, Glyph::Save, area_);
        play->setGeometry(layout_.RowPlayButton(row));
        save->setGeometry(layout_.RowSaveButton(row));
        play->setToolTip("Play the decoded file (right click: more)");
        save->setToolTip("Save the coded file (right click: more)");
        for (ToolButton *button : {play, save}) {
            button->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(button, &QWidget::customContextMenuRequested, this,
                    [this, row, button](const QPoint &at) { OpenRowMenu(row, button->mapToGlobal(at)); });
        }
        connect(play, &QAbstractButton::clicked, this, [this, id = play->CommandId()] { Command(id); });
        connect(save, &QAbstractButton::clicked, this, [this, id = save->CommandId()] { Command(id); });
        play->show();
        save->show();
        playButtons_.push_back(play);
        saveButtons_.push_back(save);
    }
    while (static_cast<int>(playButtons_.size()) > rows) {
        playButtons_.back()->deleteLater();
        saveButtons_.back()->deleteLater();
        playButtons_.back()->hide();
        saveButtons_.back()->hide();
        playButtons_.pop_back();
        saveButtons_.pop_back();
    }
    const int current = core_->CurrentSlot();
    for (int row = 0; row < rows; ++row) {
        const evaluator::CodecSlot *slot = SlotAtRow(row);
        const bool running =
            slot != nullptr && current >= 0 && slot == &core_->Slots()[static_cast<std::size_t>(current)];
        const bool hasCoded = slot != nullptr && slot->codedBytes != 0 && !running;
        const auto index = slot != nullptr ? static_cast<std::size_t>(slot - core_->Slots().data()) : 0;
        auto *play = playButtons_[static_cast<std::size_t>(row)];
        play->setEnabled(RowPlayEnabled(hasCoded, flags));
        play->SetGlyph(slot != nullptr && slot->playing != 0 ? Glyph::Stop : Glyph::Play);
        saveButtons_[static_cast<std::size_t>(row)]->setEnabled(
            RowSaveEnabled(hasCoded, slot != nullptr && codedSaved_[index], flags));
    }
}

DisplayModel MainWindow::BuildModel(const WindowFlags &flags) {
    DisplayModel model;
    const auto &original = core_->Original();
    model.originalExists = original.Exists();
    model.originalName = unsavedRecording_ ? "[Untitled]" : core_->OriginalDisplayName();
    model.formatText = original.formatText;
    model.durationText = original.durationText;
    model.originalBytes = original.dataBytes;
    const int rows = Rows();
    const int current = core_->CurrentSlot();
    for (int row = 0; row < rows; ++row) {
        RowView view;
        if (const evaluator::CodecSlot *slot = SlotAtRow(row)) {
            const bool running = current >= 0 && slot == &core_->Slots()[static_cast<std::size_t>(current)];
            view.name = slot->Name();
            view.hasResults = slot->HasResults() && !running;
            view.ratio = slot->ratio;
            view.bitRateText = evaluator::BitRateText(*slot);
            view.ratioText = evaluator::RatioText(*slot);
        }
        model.rows.push_back(std::move(view));
    }
    const evaluator::CodecSlot *detail = detailRow_ > 0 ? SlotAtRow(detailRow_ - 1) : nullptr;
    model.detailRow = detailRow_;
    model.bracket = flags.state == DisplayState::Results && detail != nullptr && detail->HasResults();
    model.status = ComposeStatus(flags.state, detail, progressLines_, recordingLines_);
    model.greenBullets =
        model.bracket || flags.state == DisplayState::Processing || flags.state == DisplayState::Recording;
    model.meterLevel = meterLevel_;
    return model;
}

void MainWindow::Refresh() {
    const WindowFlags flags = Flags();
    const int rows = Rows();
    if (detailRow_ > rows) detailRow_ = 0;
    const QSize size = layout_.WindowSize(rows);
    if (size != minimumSize() || size != maximumSize()) setFixedSize(size);

    for (const auto &[id, action] : actions_) action->setEnabled(CommandEnabled(id, flags));
    actions_[kCmdRecord]->setText(flags.state == DisplayState::Recording ? "Stop &recording" : "&Record...");
    for (const auto &[id, button] : toolButtons_) button->setEnabled(CommandEnabled(id, flags));
    toolButtons_[kBtnPlayOriginal]->SetGlyph(playingCommand_ == kBtnPlayOriginal ? Glyph::Stop : Glyph::Play);
    toolButtons_[kBtnRecord]->SetGlyph(flags.state == DisplayState::Recording ? Glyph::Stop : Glyph::Record);
    SyncRowButtons(rows, flags);

    const bool processing = flags.state == DisplayState::Processing;
    if (processing && !break_) {
        break_ = new QPushButton("&Break", area_);
        break_->setObjectName(QStringLiteral("button%1").arg(kBtnBreak));
        break_->setProperty("command", static_cast<int>(kBtnBreak));
        connect(break_, &QPushButton::clicked, this, [this] { Command(kBtnBreak); });
        break_->show();
    } else if (!processing && break_) {
        break_->hide();
        break_->deleteLater();
        break_ = nullptr;
    }
    if (break_) break_->setGeometry(layout_.BreakButton(rows));
    progress_->setGeometry(layout_.ProgressBar(rows));
    progress_->setVisible(processing);
    if (processing) UpdateProgressBar();

    area_->SetModel(BuildModel(flags));
    UpdateSignalView();
    UpdateComparison();
}

void MainWindow::UpdateProgressBar() {
    const int current = core_->CurrentSlot();
    int total = 0;
    int before = 0;
    for (std::size_t i = 0; i < core_->SlotCount(); ++i) {
        if (!core_->IsSelected(i) || core_->Slots()[i].formatFlags == 0) continue;
        ++total;
        if (current >= 0 && static_cast<int>(i) < current) ++before;
    }
    double part = 0.0;
    if (current >= 0) {
        const auto &slot = core_->Slots()[static_cast<std::size_t>(current)];
        const double coding = slot.inputBytes != 0 ? static_cast<double>(slot.encodedInputBytes) / slot.inputBytes : 0;
        const double decoding =
            slot.codedBytes != 0 ? static_cast<double>(slot.decodedCodedBytes) / slot.codedBytes : 0;
        part = (std::min(coding, 1.0) + std::min(decoding, 1.0)) / 2.0;
    }
    const double done = total > 0 ? (before + part) / total : 0.0;
    progress_->setValue(static_cast<int>(done * 100.0));
}

void MainWindow::Error(const QString &text) {
    prompts_->Message(this, evaluator::kErrorTitle, evaluator::MessageIcon::Error, text);
}

void MainWindow::ShowMessage(const std::string &title, evaluator::MessageIcon icon, const std::string &text) {
    if (collecting_ == Collecting::Opening) openMessages_.push_back(title + ": " + text);
    if (collecting_ == Collecting::Running) runMessages_.push_back(title + ": " + text);
    prompts_->Message(this, QString::fromStdString(title), icon, QString::fromStdString(text));
}

evaluator::Answer MainWindow::AskQuestion(const std::string &title, const std::string &text,
                                          evaluator::QuestionButtons buttons) {
    return prompts_->Question(this, QString::fromStdString(title), QString::fromStdString(text), buttons);
}

void MainWindow::ShowProgress(const evaluator::ProgressLines &lines) {
    progressLines_ = lines;
    Refresh();
}

void MainWindow::PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MainWindow::SetBusy(bool busy) {
    if (busy) {
        if (busyCursor_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyCursor_ > 0 && --busyCursor_ == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (!MayClose(Flags())) {
        event->ignore();
        return;
    }
    // A sound that plays is stopped rather than kept as a reason to stay open.
    if (playingCommand_ != 0) StopPlaying();
    if (!AskToSave(true, true)) {
        event->ignore();
        return;
    }
    if (signalView_) signalView_->close();
    if (comparisonView_) comparisonView_->close();
    Shutdown();
    event->accept();
}

void MainWindow::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    core_->Shutdown();
}

} // namespace vntr::gui
