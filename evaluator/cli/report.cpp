#include "cli/report.hpp"

#include "cli/report_text.hpp"
#include "core/pipeline.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>

namespace vntr::cli {
namespace {

using evaluator::CodecSlot;

// Load in percent of real time from the exact time.
double PreciseLoad(uint64_t micros, const CodecSlot &slot) {
    const double seconds = AudioSeconds(slot);
    return seconds > 0 ? static_cast<double>(micros) / 1e4 / seconds : 0.0;
}

// "not run: 8 kHz not supported" for a codec that cannot take the original.
std::string OutcomeText(const CodecSlot &slot) {
    std::string text = Outcome(slot);
    if (slot.formatFlags == 0 && !slot.failed && !slot.notRunReason.empty()) text += ": " + slot.notRunReason;
    return text;
}

} // namespace

void AddVisqolJson(nlohmann::json &quality, const evaluator::Quality &q) {
    quality["visqolMos"] = q.visqolValid ? nlohmann::json(q.visqolMos) : nlohmann::json(nullptr);
    quality["visqolNsim"] = q.visqolValid ? nlohmann::json(q.visqolNsim) : nlohmann::json(nullptr);
    if (!q.visqolNote.empty()) quality["visqolNote"] = q.visqolNote;
}

double AudioSeconds(const CodecSlot &slot) {
    const double bytesPerSecond = static_cast<double>(slot.sampleRate) * slot.blockAlign;
    return bytesPerSecond > 0 ? slot.inputBytes / bytesPerSecond : 0.0;
}

const char *Outcome(const CodecSlot &slot) {
    if (slot.failed) return "failed";
    if (slot.formatFlags == 0) return "not run";
    if (!slot.HasResults()) return "no result";
    return "ok";
}

double RealTimeFactor(uint64_t micros, const CodecSlot &slot) {
    const double seconds = AudioSeconds(slot);
    return micros > 0 ? seconds * 1e6 / static_cast<double>(micros) : 0.0;
}

std::vector<std::size_t> ReportOrder(const evaluator::Evaluator &ev) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        if (ev.Slots()[i].selected != 0) order.push_back(i);
    }
    // Codecs with results by display row (that is, by bit rate), then the
    // ones that did not run or failed, in slot order.
    auto key = [&](std::size_t i) {
        const CodecSlot &slot = ev.Slots()[i];
        const bool shown = slot.HasResults() && !slot.failed && slot.displaySlot >= 0;
        return shown ? static_cast<int>(slot.displaySlot) : INT16_MAX;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    return order;
}

void PrintReport(std::FILE *out, const evaluator::Evaluator &ev, const std::string &shownName,
                 const std::string &conversion) {
    const auto &original = ev.Original();
    if (original.Exists()) {
        std::fprintf(out, "Original: %s  %s  %s  %u bytes%s\n\n",
                     (shownName.empty() ? ev.OriginalDisplayName() : shownName).c_str(), original.formatText.c_str(),
                     original.durationText.c_str(), original.dataBytes,
                     conversion.empty() ? "" : ("  (" + conversion + ")").c_str());
    }
    std::fprintf(out, "%-10s %10s %7s %9s %9s %8s %8s %8s %6s %6s\n", "Codec", "Bit rate", "Ratio", "Coding", "Decoding",
                 "SNR", "SegSNR", "LSD", "Delay", "ViSQOL");
    for (const std::size_t i : ReportOrder(ev)) {
        const CodecSlot &slot = ev.Slots()[i];
        if (!slot.HasResults() || slot.failed) {
            std::fprintf(out, "%-10s %s\n", slot.Name().c_str(), OutcomeText(slot).c_str());
            continue;
        }
        std::fprintf(out, "%-10s %10s %7s %8.3f%% %8.3f%%", slot.Name().c_str(),
                     evaluator::BitRateText(slot).c_str(), evaluator::RatioText(slot).c_str(),
                     PreciseLoad(slot.codingMicros, slot), PreciseLoad(slot.decodingMicros, slot));
        if (slot.quality.valid) {
            std::fprintf(out, " %6.2fdB %6.2fdB %6.2fdB %6d", slot.quality.snrDb, slot.quality.segmentalSnrDb,
                         slot.quality.logSpectralDistanceDb, slot.quality.delaySamples);
            if (slot.quality.visqolValid) {
                std::fprintf(out, " %6.2f\n", slot.quality.visqolMos);
            } else {
                std::fprintf(out, " %6s\n", "-");
            }
        } else {
            std::fprintf(out, " %8s %8s %8s %6s %6s\n", "-", "-", "-", "-", "-");
        }
        std::fprintf(out, "    %s\n    %s\n    %s\n    %s\n", slot.Description().c_str(),
                     evaluator::ReducedText(slot).c_str(), evaluator::CodingText(slot).c_str(),
                     evaluator::DecodingText(slot).c_str());
        std::fprintf(out, "    speed: coding %.0fx, decoding %.0fx real time\n",
                     RealTimeFactor(slot.codingMicros, slot), RealTimeFactor(slot.decodingMicros, slot));
        if (slot.quality.valid && !slot.quality.visqolValid && !slot.quality.visqolNote.empty()) {
            std::fprintf(out, "    ViSQOL: %s\n", slot.quality.visqolNote.c_str());
        }
    }
}

namespace {

nlohmann::json ReportDocument(const evaluator::Evaluator &ev, const std::vector<std::string> &messages,
                              const std::string &shownName, const std::string &conversion) {
    using nlohmann::json;
    json doc;
    const auto &original = ev.Original();
    doc["original"] = {{"name", shownName.empty() ? ev.OriginalDisplayName() : shownName},
                       {"path", original.path},
                       {"fromSession", ev.OriginalFromSession()},
                       {"dataBytes", original.dataBytes},
                       {"formatFlags", original.formatFlags},
                       {"sampleRate", original.sampleRate},
                       {"seconds", original.seconds},
                       {"format", original.formatText}};
    if (!conversion.empty()) doc["original"]["conversion"] = conversion;
    json codecs = json::array();
    for (const std::size_t i : ReportOrder(ev)) {
        const CodecSlot &slot = ev.Slots()[i];
        json c = {{"name", slot.Name()},
                  {"description", slot.Description()},
                  {"outcome", Outcome(slot)},
                  {"row", slot.displaySlot},
                  {"codecId", slot.format.codecId},
                  {"encoderOptions", slot.encoderOptions},
                  {"downsampled", slot.downsampled != 0},
                  {"sampleRate", slot.sampleRate},
                  {"inputBytes", slot.inputBytes},
                  {"codedBytes", slot.codedBytes},
                  {"bitRate", slot.runBitRate},
                  {"ratio", slot.ratio},
                  {"codingMs", slot.codingTime},
                  {"decodingMs", slot.decodingTime},
                  {"codingLoad", slot.codingLoad},
                  {"decodingLoad", slot.decodingLoad},
                  {"codingMicros", slot.codingMicros},
                  {"decodingMicros", slot.decodingMicros},
                  {"codingRealTimeFactor", RealTimeFactor(slot.codingMicros, slot)},
                  {"decodingRealTimeFactor", RealTimeFactor(slot.decodingMicros, slot)}};
        if (!slot.notRunReason.empty()) c["reason"] = slot.notRunReason;
        // Which rows are the field's standard codecs, from the libraries' own registration.
        c["peer"] = !slot.peerLibrary.empty();
        if (!slot.peerLibrary.empty()) c["peerLibrary"] = slot.peerLibrary;
        if (slot.HasResults() && !slot.failed) {
            c["lines"] = {evaluator::ReducedText(slot), evaluator::CodingText(slot), evaluator::DecodingText(slot)};
        }
        if (slot.quality.valid) {
            c["quality"] = {{"snrDb", slot.quality.snrDb},
                            {"segmentalSnrDb", slot.quality.segmentalSnrDb},
                            {"logSpectralDistanceDb", slot.quality.logSpectralDistanceDb},
                            {"delaySamples", slot.quality.delaySamples},
                            {"comparedSamples", slot.quality.comparedSamples}};
            AddVisqolJson(c["quality"], slot.quality);
        }
        codecs.push_back(std::move(c));
    }
    doc["codecs"] = std::move(codecs);
    doc["messages"] = messages;
    return doc;
}

} // namespace

bool WriteJson(const std::string &path, const evaluator::Evaluator &ev, const std::vector<std::string> &messages,
               std::string &error, const std::string &shownName, const std::string &conversion) {
    std::string text;
    try {
        nlohmann::json doc = ReportDocument(ev, messages, shownName, conversion);
        MarkRawBytes(doc);
        text = ReportText(doc) + "\n";
    } catch (const std::exception &e) {
        // Nothing of the report was written: the file stays as it was.
        error = "cannot write " + path + ": " + e.what();
        return false;
    }
    return WriteReport(path, text, error);
}

} // namespace vntr::cli
