// The window's comparison workbench: the signal view with its A/B
// listening, the comparison table with its plot and exports, the rows'
// context menu and saving decoded files.
//
// The right click on a result bar opens the codec's options, as it always
// has; the rows' other commands are on the right click of the row's play
// and save buttons.
#include "core/printf.hpp"
#include "core/wave_export.hpp"
#include "gui/commands.hpp"
#include "gui/window/main_window.hpp"
#include "gui/window/tool_button.hpp"
#include "report/corpus_report.hpp"
#include "report/file_result.hpp"

#include <QMenu>

#include <fstream>
#include <tuple>

namespace vntr::gui {

using evaluator::DisplayState;

void MainWindow::Collect(Collecting what, bool fresh) {
    collecting_ = what;
    if (!fresh) return;
    // A new original forgets every message; a new run those of the last run.
    if (what == Collecting::Opening) openMessages_.clear();
    runMessages_.clear();
}

void MainWindow::OpenOriginalCollecting() {
    const auto identity = [this] {
        const auto &o = core_->Original();
        return std::make_tuple(o.path, o.dataBytes, o.formatFlags, static_cast<int>(core_->State()));
    };
    const auto before = identity();
    auto openMessages = openMessages_;
    auto runMessages = runMessages_;
    Collect(Collecting::Opening, true);
    OpenOriginalCommand();
    Collect(Collecting::Nothing, false);
    // Nothing opened (cancelled, or a file that cannot be used): the report
    // still belongs to the original that stays.  Opening the same file
    // again gives the same messages.
    if (identity() == before) {
        openMessages_ = std::move(openMessages);
        runMessages_ = std::move(runMessages);
    }
}

void MainWindow::SetUpSignalView() {
    signalView_ = new SignalView(this);
    signalView_->SetOutput(sound_.output.get(), [this] { return SignalViewMayPlay(); });
    connect(signalView_, &SignalView::SaveDecodedRequested, this, [this](const QString &codec) {
        if (const int row = RowOfCodec(codec); row >= 0) SaveDecodedCommand(row);
    });
    connect(signalView_, &SignalView::ExportTrialsRequested, this, &MainWindow::ExportTrials);
}

bool MainWindow::SignalViewMayPlay() {
    const DisplayState state = core_->State();
    if (state == DisplayState::Processing || state == DisplayState::Recording) return false;
    // One sound at a time: the window's own playing stops.
    if (playingCommand_ != 0) StopPlaying();
    return playingCommand_ == 0;
}

int MainWindow::RowOfCodec(const QString &name) {
    for (int row = 0; row < Rows(); ++row) {
        const evaluator::CodecSlot *slot = SlotAtRow(row);
        if (slot != nullptr && QString::fromStdString(slot->Name()) == name) return row;
    }
    return -1;
}

void MainWindow::ShowSignalView() {
    if (!signalView_) SetUpSignalView();
    signalKey_.clear();
    signalView_->show();
    signalView_->raise();
    UpdateSignalView();
}

void MainWindow::UpdateSignalView() {
    if (!signalView_ || !signalView_->isVisible()) return;
    const DisplayState state = core_->State();
    const auto &original = core_->Original();
    std::string key;
    if (state == DisplayState::Processing) {
        key = "processing";
    } else if (state == DisplayState::Recording) {
        key = "recording";
    } else if (!original.Exists()) {
        key = "none";
    } else {
        key = evaluator::Printf("%s|%d|%d", original.path.c_str(), runSerial_, static_cast<int>(state));
    }
    if (key != signalKey_) {
        signalKey_ = key;
        focusedRow_ = -1;
        if (key == "processing") {
            signalView_->ShowNote("Processing...");
        } else if (key == "recording") {
            signalView_->ShowNote("Recording...");
        } else if (key == "none") {
            signalView_->ShowNote("Open or record an original to see it here.");
        } else {
            SignalSet set;
            set.originalName = core_->OriginalDisplayName();
            set.palette = Palette();
            const std::string label = unsavedRecording_ ? "Original [Untitled]" : "Original";
            std::vector<DecodedSource> sources;
            for (int row = 0; row < Rows() && state == DisplayState::Results; ++row) {
                const evaluator::CodecSlot *slot = SlotAtRow(row);
                if (slot == nullptr || !slot->HasResults() || slot->failed) continue;
                DecodedSource source;
                source.name = slot->Name();
                source.decodedPath = core_->Temp().Decoded(source.name);
                source.inputPath = slot->downsampled != 0 ? core_->Temp().Downsampled() : original.path;
                source.delaySamples = slot->quality.valid ? slot->quality.delaySamples : 0;
                source.quality = slot->quality;
                sources.push_back(std::move(source));
            }
            std::vector<std::string> unreadableNames;
            if (!LoadSignalSet(original.path, label, sources, set, unreadableNames)) {
                signalView_->ShowNote("The original cannot be read.");
                return;
            }
            QStringList unreadable;
            for (const auto &name : unreadableNames) unreadable << QString::fromStdString(name);
            QString heading =
                set.decoded.empty()
                    ? QStringLiteral("The original alone: run the codecs (Process!) to compare them with it.")
                    : QStringLiteral("The original and %1 decoded results.  Double click on a result bar "
                                     "to add that codec.")
                          .arg(set.decoded.size());
            if (!unreadable.isEmpty())
                heading += QStringLiteral("  Cannot read the files of %1.").arg(unreadable.join(", "));
            signalView_->SetSignals(std::move(set), heading);
        }
    }
    // The detail row's codec is stacked and listened to.
    if (state == DisplayState::Results && detailRow_ != focusedRow_) {
        focusedRow_ = detailRow_;
        if (const evaluator::CodecSlot *slot = detailRow_ > 0 ? SlotAtRow(detailRow_ - 1) : nullptr) {
            signalView_->Focus(slot->Name());
        }
    }
}

void MainWindow::ShowComparison() {
    if (!comparisonView_) {
        comparisonView_ = new ComparisonView(this);
        comparisonView_->SetPalette(Palette());
        connect(comparisonView_, &ComparisonView::ExportRequested, this, &MainWindow::ExportComparison);
        connect(comparisonView_, &ComparisonView::CodecChosen, this, [this](const QString &codec) {
            const int row = RowOfCodec(codec);
            if (row < 0 || core_->State() != DisplayState::Results) return;
            SelectDetailRow(row + 1);
            ShowSignalView();
        });
    }
    comparisonView_->show();
    comparisonView_->raise();
    UpdateComparison();
}

void MainWindow::UpdateComparison() {
    if (!comparisonView_) return;
    const DisplayState state = core_->State();
    const auto &original = core_->Original();
    QString heading;
    std::vector<ComparisonRow> rows;
    bool anyResult = false;
    if (state == DisplayState::Processing || state == DisplayState::Recording) {
        heading = state == DisplayState::Processing ? "Processing..." : "Recording...";
    } else if (!original.Exists()) {
        heading = "No original file opened.";
    } else {
        rows = ComparisonRows(*core_);
        for (const auto &r : rows) anyResult = anyResult || r.bitRate.has_value();
        heading = QStringLiteral("%1   %2   %3")
                      .arg(QString::fromStdString(core_->OriginalDisplayName()),
                           QString::fromStdString(original.formatText), QString::fromStdString(original.durationText));
        if (!anyResult) heading += QStringLiteral("   (no results: press Process!)");
    }
    comparisonView_->SetRows(anyResult ? std::move(rows) : std::vector<ComparisonRow>{}, heading);
}

void MainWindow::ExportComparison(bool json) {
    if (core_->State() != DisplayState::Results) return;
    const auto path = prompts_->ChooseFile(this, json ? FilePurpose::ExportJson : FilePurpose::ExportCsv);
    if (!path) return;
    const std::string destination = path->toStdString();
    std::string error;
    std::vector<std::string> messages = openMessages_;
    messages.insert(messages.end(), runMessages_.begin(), runMessages_.end());
    // The batch report's own writers: the same schema as --json and --csv.
    const report::FileResult original =
        report::OriginalResult(*core_, core_->Original().path, core_->OriginalDisplayName(), "", messages);
    const bool written = json ? report::WriteOriginalJson(destination, original, std::nullopt, error)
                              : report::WriteCsv(destination, {original}, error);
    if (!written) {
        Error(
            QString::fromStdString(evaluator::Printf("Could not write to destination file %s.", destination.c_str())));
    }
}

void MainWindow::ExportTrials() {
    if (!signalView_ || signalView_->Trials().empty()) return;
    const auto path = prompts_->ChooseFile(signalView_, FilePurpose::ExportTrials);
    if (!path) return;
    const std::string destination = path->toStdString();
    std::ofstream file(destination, std::ios::binary);
    file << AbxCsv(signalView_->Trials());
    if (!file.flush()) {
        Error(
            QString::fromStdString(evaluator::Printf("Could not write to destination file %s.", destination.c_str())));
    }
}

CodecPalette MainWindow::Palette() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < core_->SlotCount(); ++i) names.push_back(core_->Slots()[i].Name());
    return CodecPalette(std::move(names));
}

void MainWindow::SaveDecodedCommand(int row) {
    const evaluator::CodecSlot *slot = SlotAtRow(row);
    if (slot == nullptr || !slot->HasResults() || core_->State() != DisplayState::Results) return;
    const auto path = prompts_->ChooseFile(this, FilePurpose::SaveDecoded);
    if (!path) return;
    evaluator::SaveAs16BitWave(*this, core_->Temp().Decoded(slot->Name()), slot->formatFlags, path->toStdString());
    Refresh();
}

void MainWindow::BuildRowMenu(int row, QMenu &menu) {
    const evaluator::CodecSlot *slot = SlotAtRow(row);
    const bool results = slot != nullptr && slot->HasResults() && core_->State() == DisplayState::Results;
    QAction *decoded = menu.addAction("Save &decoded file as...");
    decoded->setObjectName("rowSaveDecoded");
    decoded->setEnabled(results);
    connect(decoded, &QAction::triggered, this, [this, row] { SaveDecodedCommand(row); });
    QAction *coded = menu.addAction("Save &coded file as...");
    coded->setObjectName("rowSaveCoded");
    coded->setEnabled(Offered(kBtnSaveRow0 + row));
    connect(coded, &QAction::triggered, this, [this, row] { Command(kBtnSaveRow0 + row); });
    menu.addSeparator();
    QAction *view = menu.addAction("Show in the &signal view");
    view->setObjectName("rowSignalView");
    view->setEnabled(results && Offered(kCmdSignalView));
    connect(view, &QAction::triggered, this, [this, row] {
        SelectDetailRow(row + 1);
        ShowSignalView();
    });
    QAction *compare = menu.addAction("Co&mpare codecs...");
    compare->setObjectName("rowCompare");
    connect(compare, &QAction::triggered, this, [this] { Command(kCmdCompareCodecs); });
}

void MainWindow::OpenRowMenu(int row, const QPoint &global) {
    if (rowMenu_) rowMenu_->close();
    auto *menu = new QMenu(this);
    menu->setObjectName("rowMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    BuildRowMenu(row, *menu);
    rowMenu_ = menu;
    menu->popup(global);
}

} // namespace vntr::gui
