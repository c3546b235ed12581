#include "gui/logic/status_text.hpp"

#include "core/pipeline.hpp"
#include "core/printf.hpp"

namespace vntr::gui {

using evaluator::Printf;

StatusLines IdleStatus() {
    return {"To start a processing :", "Choose the codecs to use with the Options | Select Codecs menu",
            "Open or record an original PCM file", "Press the process button to start the processing"};
}

StatusLines ResultsStatus() {
    return {"Processing terminated :", "To play any file, click on the corresponding 'play' button",
            "To save any coded file, click on the corresponding 'save' button",
            "Click on the file size bars to show details"};
}

std::string QualityText(const evaluator::Quality &q) {
    if (!q.valid) return "Quality : not measured";
    std::string measures = Printf("SNR %.1f dB, segmental SNR %.1f dB, log-spectral distance %.2f dB", q.snrDb,
                                  q.segmentalSnrDb, q.logSpectralDistanceDb);
    if (q.visqolValid) {
        measures += Printf(", ViSQOL MOS %.2f", q.visqolMos);
    } else if (!q.visqolNote.empty()) {
        measures += ", ViSQOL: " + q.visqolNote;
    }
    if (q.scorerValid) {
        measures += Printf(", %s %.3f", q.scorerName.c_str(), q.scorerValue);
    } else if (!q.scorerName.empty()) {
        measures += ", " + q.scorerName + ": " + q.scorerNote;
    }
    return measures;
}

StatusLines DetailStatus(const evaluator::CodecSlot &slot) {
    return {slot.Description(), evaluator::ReducedText(slot), evaluator::CodingText(slot),
            evaluator::DecodingText(slot), QualityText(slot.quality)};
}

StatusLines ProcessingStatus(const evaluator::ProgressLines &progress) {
    StatusLines lines{progress.status};
    if (!progress.coding.empty()) lines.push_back(progress.coding);
    if (!progress.decoding.empty()) lines.push_back(progress.decoding);
    return lines;
}

StatusLines RecordingStatus(int32_t rate, uint16_t blockAlign, int64_t elapsedMs) {
    const int64_t bytes = elapsedMs * rate * blockAlign / 1000;
    return {"Recording a new original file :", Printf("Sampling frequency : %ld Hz", static_cast<long>(rate)),
            Printf("Time already recorded : %4.2f seconds (%ld bytes)", static_cast<double>(elapsedMs) / 1000.0,
                   static_cast<long>(bytes))};
}

StatusLines ComposeStatus(evaluator::DisplayState state, const evaluator::CodecSlot *detail,
                          const evaluator::ProgressLines &progress, const StatusLines &recording) {
    using evaluator::DisplayState;
    switch (state) {
    case DisplayState::Processing:
        return ProcessingStatus(progress);
    case DisplayState::Recording:
        return recording;
    case DisplayState::Results:
        if (detail == nullptr) return ResultsStatus();
        return detail->HasResults() ? DetailStatus(*detail) : IdleStatus();
    case DisplayState::Idle:
        break;
    }
    return IdleStatus();
}

} // namespace vntr::gui
