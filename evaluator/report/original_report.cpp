#include "report/original_report.hpp"

#include "core/pipeline.hpp"

#include <algorithm>

namespace vntr::report {
namespace {

using evaluator::CodecSlot;

} // namespace

std::string ScorerName(const std::vector<CodecResult> &rows) {
    for (const auto &r : rows) {
        if (!r.quality.scorerName.empty()) return r.quality.scorerName;
    }
    return "";
}

double AudioSeconds(const CodecSlot &slot) {
    const double bytesPerSecond = static_cast<double>(slot.sampleRate) * slot.blockAlign;
    return bytesPerSecond > 0 ? slot.inputBytes / bytesPerSecond : 0.0;
}

const char *Outcome(const CodecSlot &slot) {
    if (slot.failed) return "failed";
    if (slot.formatFlags == 0 || !slot.notRunReason.empty()) return "not run";
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

ReportedOriginal ReportedOriginalOf(const evaluator::Evaluator &ev, const std::string &shownName,
                                    const std::string &conversion) {
    const auto &o = ev.Original();
    ReportedOriginal r;
    r.exists = o.Exists();
    r.name = shownName.empty() ? ev.OriginalDisplayName() : shownName;
    r.path = o.path;
    r.fromSession = ev.OriginalFromSession();
    r.dataBytes = o.dataBytes;
    r.formatFlags = o.formatFlags;
    r.sampleRate = o.sampleRate;
    r.seconds = o.seconds;
    r.formatText = o.formatText;
    r.durationText = o.durationText;
    r.conversion = conversion;
    return r;
}

void PrintRows(std::FILE *out, const ReportedOriginal &original, const std::vector<CodecResult> &rows) {
    if (original.exists) {
        const std::string bytes = original.dataBytes > 0 ? "  " + std::to_string(original.dataBytes) + " bytes" : "";
        std::fprintf(out, "Original: %s  %s  %s%s%s\n\n", original.name.c_str(), original.formatText.c_str(),
                     original.durationText.c_str(), bytes.c_str(),
                     original.conversion.empty() ? "" : ("  (" + original.conversion + ")").c_str());
    }
    std::size_t width = 10;
    for (const auto &r : rows) width = std::max(width, r.label.size());
    const int w = static_cast<int>(width);
    // The external scorer's column, named after the tool, when one ran.
    const std::string scorer = ScorerName(rows);
    const int sw = static_cast<int>(std::max<std::size_t>(6, scorer.size()));
    std::fprintf(out, "%-*s %10s %7s %9s %9s %8s %8s %8s %7s %7s %6s", w, "Codec", "Bit rate", "Ratio", "Coding",
                 "Decoding", "SNR", "SegSNR", "LSD", "Aligned", "Latency", "ViSQOL");
    if (!scorer.empty()) std::fprintf(out, " %*s", sw, scorer.c_str());
    std::fprintf(out, "\n");
    for (const auto &r : rows) {
        if (!r.Ok()) {
            std::fprintf(out, "%-*s %s%s\n", w, r.label.c_str(), r.outcome.c_str(),
                         r.outcome == "not run" && !r.reason.empty() ? (": " + r.reason).c_str() : "");
            continue;
        }
        auto load = [&](uint64_t micros) {
            return r.seconds > 0 ? static_cast<double>(micros) / 1e4 / r.seconds : 0.0;
        };
        std::fprintf(out, "%-*s %10s %7s %8.3f%% %8.3f%%", w, r.label.c_str(), r.bitRateText.c_str(),
                     r.ratioText.c_str(), load(r.codingMicros), load(r.decodingMicros));
        const std::string latency = r.latencySamples >= 0 ? std::to_string(r.latencySamples) : "-";
        if (r.quality.valid) {
            std::fprintf(out, " %6.2fdB %6.2fdB %6.2fdB %7d %7s", r.quality.snrDb, r.quality.segmentalSnrDb,
                         r.quality.logSpectralDistanceDb, r.quality.delaySamples, latency.c_str());
            if (r.quality.visqolValid) {
                std::fprintf(out, " %6.2f", r.quality.visqolMos);
            } else {
                std::fprintf(out, " %6s", "-");
            }
        } else {
            std::fprintf(out, " %8s %8s %8s %7s %7s %6s", "-", "-", "-", "-", latency.c_str(), "-");
        }
        if (!scorer.empty()) {
            if (r.quality.scorerValid) {
                std::fprintf(out, " %*.3f\n", sw, r.quality.scorerValue);
            } else {
                std::fprintf(out, " %*s\n", sw, "-");
            }
        } else {
            std::fprintf(out, "\n");
        }
        std::fprintf(out, "    %s\n", r.description.c_str());
        for (const auto &line : r.lines) std::fprintf(out, "    %s\n", line.c_str());
        std::fprintf(out, "    speed: coding %.0fx, decoding %.0fx real time\n", r.CodingRealTime(),
                     r.DecodingRealTime());
        if (r.quality.valid && !r.quality.visqolValid && !r.quality.visqolNote.empty()) {
            std::fprintf(out, "    ViSQOL: %s\n", r.quality.visqolNote.c_str());
        }
    }
    bool anyMeasured = false;
    for (const auto &r : rows) anyMeasured = anyMeasured || (r.Ok() && r.quality.valid);
    if (anyMeasured) {
        std::fprintf(out,
                     "\nAligned: the lag in samples at which the decoded signal is compared, %s.\n"
                     "Latency: the codec's declared algorithmic latency in samples (its delay plus one frame).\n",
                     std::any_of(rows.begin(), rows.end(), [](const CodecResult &r) { return r.alignedOnce; })
                         ? "one per codec and mode, found by coding a calibration signal"
                         : "found on each file");
    }
}

} // namespace vntr::report
