#include "report/file_result.hpp"

#include "core/pipeline.hpp"
#include "report/original_report.hpp"

#include <vntr/codec_api.h>

namespace vntr::report {

std::string ModeWords(uint32_t offered, uint32_t options) {
    std::string words;
    auto add = [&](const char *word) { words += (words.empty() ? "" : " ") + std::string(word); };
    if ((offered & CODEC_OPT_RATES) != 0) {
        if ((options & CODEC_OPT_4800) != 0) {
            add("4.8k");
        } else if ((options & CODEC_OPT_6400) != 0) {
            add("6.4k");
        } else {
            add("4.8k-6.4k");
        }
    }
    if ((offered & CODEC_OPT_VAD) != 0) add((options & CODEC_OPT_VAD) != 0 ? "VAD" : "no VAD");
    return words;
}

std::string ModeLabel(const std::string &codec, uint32_t offered, uint32_t options) {
    const std::string words = ModeWords(offered, options);
    return words.empty() ? codec : codec + " " + words;
}

const char *FileStateName(FileState state) {
    switch (state) {
    case FileState::Pending:
        return "pending";
    case FileState::Done:
        return "ok";
    case FileState::Refused:
        return "refused";
    case FileState::Interrupted:
        return "interrupted";
    }
    return "pending";
}

bool FileResult::AnyCodecFailed() const {
    for (const auto &c : codecs) {
        if (c.outcome == "failed") return true;
    }
    return false;
}

bool NoCodecTakesTheRate(const std::vector<CodecResult> &rows) {
    for (const auto &r : rows) {
        if (r.outcome != "not run" || r.reason.find("kHz not supported") == std::string::npos) return false;
    }
    return !rows.empty();
}

std::string UntakenRateMessage(int32_t rate) {
    return "no selected codec takes " + std::to_string(rate) + " Hz: use --resample";
}

std::vector<CodecResult> CollectCodecResults(const evaluator::Evaluator &ev) {
    std::vector<CodecResult> results;
    for (const std::size_t i : ReportOrder(ev)) {
        const evaluator::CodecSlot &slot = ev.Slots()[i];
        CodecResult r;
        r.name = slot.Name();
        r.mode = ModeWords(slot.info.optionMask, slot.encoderOptions);
        r.label = ModeLabel(r.name, slot.info.optionMask, slot.encoderOptions);
        r.description = slot.Description();
        r.peerLibrary = slot.peerLibrary;
        r.outcome = Outcome(slot);
        r.reason = slot.notRunReason;
        r.codecId = slot.format.codecId;
        r.encoderOptions = slot.encoderOptions;
        r.row = slot.displaySlot;
        r.downsampled = slot.downsampled != 0;
        r.sampleRate = slot.sampleRate;
        r.inputBytes = slot.inputBytes;
        r.codedBytes = slot.codedBytes;
        r.bitRate = slot.runBitRate;
        r.ratio = slot.ratio;
        r.seconds = AudioSeconds(slot);
        r.codingMicros = slot.codingMicros;
        r.decodingMicros = slot.decodingMicros;
        r.codingMs = slot.codingTime;
        r.decodingMs = slot.decodingTime;
        r.codingLoad = slot.codingLoad;
        r.decodingLoad = slot.decodingLoad;
        r.quality = slot.quality;
        r.alignedOnce = slot.alignedOnce;
        r.latencySamples = slot.latencySamples;
        if (r.Ok()) {
            r.bitRateText = evaluator::BitRateText(slot);
            r.ratioText = evaluator::RatioText(slot);
            r.lines = {evaluator::ReducedText(slot), evaluator::CodingText(slot), evaluator::DecodingText(slot)};
        }
        results.push_back(std::move(r));
    }
    return results;
}

FileResult OriginalResult(const evaluator::Evaluator &ev, const std::string &path, const std::string &name,
                          const std::string &conversion, const std::vector<std::string> &messages) {
    FileResult file;
    file.path = path;
    file.name = name;
    file.conversion = conversion;
    file.messages = messages;
    if (const auto &o = ev.Original(); o.Exists()) {
        file.state = FileState::Done;
        file.fromSession = ev.OriginalFromSession();
        file.formatFlags = o.formatFlags;
        file.sampleRate = o.sampleRate;
        file.format = o.formatText;
        file.seconds = o.seconds;
        file.dataBytes = o.dataBytes;
        file.codecs = CollectCodecResults(ev);
    } else {
        file.state = FileState::Refused;
    }
    return file;
}

} // namespace vntr::report
