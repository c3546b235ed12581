#include "cli/report.hpp"

#include "core/pipeline.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

namespace vntr::cli {
namespace {

using evaluator::CodecSlot;

double AudioSeconds(const CodecSlot &slot) {
    const double bytesPerSecond = static_cast<double>(slot.sampleRate) * slot.blockAlign;
    return bytesPerSecond > 0 ? slot.inputBytes / bytesPerSecond : 0.0;
}

// Load in percent of real time from the exact time.
double PreciseLoad(uint64_t micros, const CodecSlot &slot) {
    const double seconds = AudioSeconds(slot);
    return seconds > 0 ? static_cast<double>(micros) / 1e4 / seconds : 0.0;
}

const char *Outcome(const CodecSlot &slot) {
    if (slot.failed) return "failed";
    if (slot.formatFlags == 0) return "not run";
    if (!slot.HasResults()) return "no result";
    return "ok";
}

} // namespace

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

void PrintReport(std::FILE *out, const evaluator::Evaluator &ev) {
    const auto &original = ev.Original();
    if (original.Exists()) {
        std::fprintf(out, "Original: %s  %s  %s  %u bytes\n\n", ev.OriginalDisplayName().c_str(),
                     original.formatText.c_str(), original.durationText.c_str(), original.dataBytes);
    }
    std::fprintf(out, "%-10s %10s %7s %9s %9s %8s %8s %8s %6s\n", "Codec", "Bit rate", "Ratio", "Coding", "Decoding",
                 "SNR", "SegSNR", "LSD", "Delay");
    for (const std::size_t i : ReportOrder(ev)) {
        const CodecSlot &slot = ev.Slots()[i];
        if (!slot.HasResults() || slot.failed) {
            std::fprintf(out, "%-10s %s\n", slot.Name().c_str(), Outcome(slot));
            continue;
        }
        std::fprintf(out, "%-10s %10s %7s %8.3f%% %8.3f%%", slot.Name().c_str(),
                     evaluator::BitRateText(slot).c_str(), evaluator::RatioText(slot).c_str(),
                     PreciseLoad(slot.codingMicros, slot), PreciseLoad(slot.decodingMicros, slot));
        if (slot.quality.valid) {
            std::fprintf(out, " %6.2fdB %6.2fdB %6.2fdB %6d\n", slot.quality.snrDb, slot.quality.segmentalSnrDb,
                         slot.quality.logSpectralDistanceDb, slot.quality.delaySamples);
        } else {
            std::fprintf(out, " %8s %8s %8s %6s\n", "-", "-", "-", "-");
        }
        std::fprintf(out, "    %s\n    %s\n    %s\n    %s\n", slot.Description().c_str(),
                     evaluator::ReducedText(slot).c_str(), evaluator::CodingText(slot).c_str(),
                     evaluator::DecodingText(slot).c_str());
        std::fprintf(out, "    speed: coding %.0fx, decoding %.0fx real time\n",
                     RealTimeFactor(slot.codingMicros, slot), RealTimeFactor(slot.decodingMicros, slot));
    }
}

nlohmann::json ReportJson(const evaluator::Evaluator &ev, const std::vector<std::string> &messages) {
    using nlohmann::json;
    json doc;
    const auto &original = ev.Original();
    doc["original"] = {{"name", ev.OriginalDisplayName()},
                       {"path", original.path},
                       {"fromSession", ev.OriginalFromSession()},
                       {"dataBytes", original.dataBytes},
                       {"formatFlags", original.formatFlags},
                       {"sampleRate", original.sampleRate},
                       {"seconds", original.seconds},
                       {"format", original.formatText}};
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
        }
        codecs.push_back(std::move(c));
    }
    doc["codecs"] = std::move(codecs);
    doc["messages"] = messages;
    return doc;
}

namespace {

bool WriteText(const std::string &path, const std::string &text, std::string &error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    file << text;
    if (!file.flush()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// A cell quoted when it holds a separator, a quote or a line break.
std::string CsvCell(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// "/quality/snrDb" as a column name: "quality.snrDb".
std::string ColumnName(const std::string &pointer) {
    std::string name = pointer.substr(1);
    std::replace(name.begin(), name.end(), '/', '.');
    return name;
}

} // namespace

bool WriteJson(const std::string &path, const evaluator::Evaluator &ev, const std::vector<std::string> &messages,
               std::string &error) {
    return WriteText(path, ReportJson(ev, messages).dump(2) + '\n', error);
}

std::string CodecsCsv(const nlohmann::json &codecs) {
    using nlohmann::json;
    // The columns: every field any record has, "name" first, then in the
    // order the JSON lists them.
    std::vector<std::string> columns = {"/name"};
    std::vector<json> flat;
    for (const auto &record : codecs) {
        flat.push_back(record.flatten());
        for (const auto &[pointer, value] : flat.back().items()) {
            if (std::find(columns.begin(), columns.end(), pointer) == columns.end()) columns.push_back(pointer);
        }
    }
    std::sort(columns.begin() + 1, columns.end());
    std::string text;
    for (std::size_t c = 0; c < columns.size(); ++c) text += (c > 0 ? "," : "") + CsvCell(ColumnName(columns[c]));
    text += "\r\n";
    for (const auto &record : flat) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            std::string cell;
            if (const auto at = record.find(columns[c]); at != record.end() && !at->is_null()) {
                cell = at->is_string() ? at->get<std::string>() : at->dump();
            }
            text += (c > 0 ? "," : "") + CsvCell(cell);
        }
        text += "\r\n";
    }
    return text;
}

bool WriteCodecsCsv(const std::string &path, const evaluator::Evaluator &ev, std::string &error) {
    return WriteText(path, CodecsCsv(ReportJson(ev, {})["codecs"]), error);
}

} // namespace vntr::cli
