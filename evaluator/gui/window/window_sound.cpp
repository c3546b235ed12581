// Recording a new original and playing the original or a decoded file.
#include "core/printf.hpp"
#include "core/wavefile.hpp"
#include "gui/commands.hpp"
#include "gui/logic/level_meter.hpp"
#include "gui/window/main_window.hpp"

namespace vntr::gui {

using evaluator::DisplayState;

namespace {
// The level meter looks this far ahead of the playing position.
constexpr qint64 kMeterWindowUs = 40000;
// How long the end of a sound may lag its duration before it is cut.
constexpr int kMaxEndOfPlayWaits = 20;
} // namespace

void MainWindow::RecordCommand() {
    if (core_->State() == DisplayState::Recording) {
        StopRecording();
    } else {
        StartRecording();
    }
}

void MainWindow::StartRecording() {
    if (!AskToSave(true, true)) return;
    recording_.Start(recordFormat_);
    const bool started = sound_.input->Start(
        AudioFormatOf(recordFormat_), [this](const char *chunk, qint64 bytes) { recording_.Append(chunk, bytes); });
    if (!started) {
        Error("Could not start recording.\nWave driver might be busy.");
        return;
    }
    detailRow_ = 0;
    codedSaved_.fill(false);
    unsavedRecording_ = false;
    recordClock_.start();
    UpdateRecordingLines();
    core_->BeginRecording();
    recordTimer_.start();
    meterLevel_ = 0;
    meterTimer_.start();
}

void MainWindow::StopRecording() {
    sound_.input->Stop();
    const std::string path = core_->Temp().Original();
    const bool saved = recording_.Save(path);
    recordTimer_.stop();
    meterTimer_.stop();
    meterLevel_ = 0;
    recordingLines_.clear();
    if (!saved) {
        Error("Could not stop recording.");
        core_->AbandonRecording();
        Refresh();
        return;
    }
    unsavedRecording_ = true;
    // Opening it replaces the state; a file that cannot be used is no recording to save.
    Collect(Collecting::Opening, true);
    if (!core_->OpenOriginalFile(path)) unsavedRecording_ = false;
    Collect(Collecting::Nothing, false);
    Refresh();
}

void MainWindow::UpdateRecordingLines() {
    recordingLines_ = RecordingStatus(evaluator::RateOfFlags(recordFormat_),
                                      evaluator::BlockAlignOfFlags(recordFormat_), recordClock_.elapsed());
    if (core_->State() == DisplayState::Recording) Refresh();
}

void MainWindow::PlayCommand(int button) {
    // One sound at a time: the signal view's listening stops first.
    if (signalView_) signalView_->StopListening();
    // The button of the sound that plays stops it.
    if (playingCommand_ != 0) {
        const int was = playingCommand_;
        if (!StopPlaying() || was == button) return;
    }
    std::string path;
    std::string shownName;
    uint32_t flags = 0;
    evaluator::CodecSlot *slot = nullptr;
    if (button == kBtnPlayOriginal) {
        if (originalPlaying_) {
            Error("Could not play original file");
            return;
        }
        path = core_->Original().path;
        shownName = core_->Original().name;
        flags = core_->Original().formatFlags;
    } else {
        const int row = button - kBtnPlayRow0;
        slot = SlotAtRow(row);
        if (slot == nullptr) return;
        if (slot->playing != 0) {
            Error("Could not play file");
            return;
        }
        // As if the codec's result bar had been clicked: its details show.
        if (core_->State() == DisplayState::Results) detailRow_ = row + 1;
        path = core_->Temp().Decoded(slot->Name());
        shownName = path;
        flags = slot->formatFlags;
    }
    clip_ = LoadPcmClip(path, flags);
    if (!clip_ || !sound_.output->Start(*clip_, loop_)) {
        clip_.reset();
        Refresh();
        Error(QString::fromStdString(
            evaluator::Printf("Could not play file %s. Your sound driver could be in use", shownName.c_str())));
        return;
    }
    if (slot != nullptr) {
        slot->playing = 1;
    } else {
        originalPlaying_ = true;
    }
    playingCommand_ = button;
    if (!loop_) {
        endOfPlayWaits_ = 0;
        endOfPlay_.start(static_cast<int>(clip_->DurationUs() / 1000) + 3);
    }
    meterLevel_ = 0;
    meterTimer_.start();
    Refresh();
}

bool MainWindow::StopPlaying() {
    if (playingCommand_ == kBtnPlayOriginal) {
        if (!originalPlaying_) {
            Error("Could not stop original file.");
            return false;
        }
    } else {
        evaluator::CodecSlot *slot = SlotAtRow(playingCommand_ - kBtnPlayRow0);
        if (slot == nullptr || slot->playing == 0) {
            Error("Could not stop current playing");
            return false;
        }
    }
    sound_.output->Stop();
    meterTimer_.stop();
    meterLevel_ = 0;
    endOfPlay_.stop();
    originalPlaying_ = false;
    for (std::size_t i = 0; i < core_->SlotCount(); ++i) core_->Slots()[i].playing = 0;
    playingCommand_ = 0;
    clip_.reset();
    Refresh();
    return true;
}

void MainWindow::EndOfPlay() {
    if (playingCommand_ == 0) return;
    // The sound card may lag the clock a little: wait for what is still to come.
    const qint64 left = clip_ ? clip_->DurationUs() - sound_.output->PlayedUs() : 0;
    if (left > 0 && endOfPlayWaits_ < kMaxEndOfPlayWaits) {
        ++endOfPlayWaits_;
        endOfPlay_.start(static_cast<int>(std::min<qint64>(left / 1000 + 3, 100)));
        return;
    }
    StopPlaying();
}

void MainWindow::UpdateMeter() {
    double peak = 0.0;
    if (core_->State() == DisplayState::Recording) {
        peak = recording_.TakePeak();
    } else if (playingCommand_ != 0 && clip_) {
        peak = ClipPeakAt(*clip_, sound_.output->PlayedUs(), kMeterWindowUs, loop_);
    }
    const int level = MeterLevel(peak);
    if (level == meterLevel_) return;
    meterLevel_ = level;
    DisplayModel model = area_->Model();
    model.meterLevel = level;
    area_->SetModel(std::move(model));
}

} // namespace vntr::gui
