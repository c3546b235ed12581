#include "report/corpus_report.hpp"

#include "core/printf.hpp"
#include "core/replacing_file.hpp"
#include "report/original_report.hpp"
#include "report/report_text.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <exception>

namespace vntr::report {
namespace {

using evaluator::Printf;
using nlohmann::json;

json MeasureJson(const MeasureSummary &m) {
    if (m.count == 0) return nullptr;
    return {{"mean", m.Mean()}, {"worst", m.worst}, {"worstFile", m.worstFile}, {"files", m.count}};
}

// The ViSQOL fields of a measured row's `quality` object: `visqolMos`,
// `visqolNsim` (null when it could not score) and `visqolNote` (why not).
void AddVisqolJson(json &quality, const evaluator::Quality &q) {
    quality["visqolMos"] = q.visqolValid ? json(q.visqolMos) : json(nullptr);
    quality["visqolNsim"] = q.visqolValid ? json(q.visqolNsim) : json(nullptr);
    if (!q.visqolNote.empty()) quality["visqolNote"] = q.visqolNote;
}

// The external scorer's field, named after the tool ("pesq": its score, or
// null), and "<tool>Note" (why there is none); nothing without a scorer.
void AddScorerJson(json &quality, const evaluator::Quality &q) {
    if (q.scorerName.empty()) return;
    quality[q.scorerName] = q.scorerValid ? json(q.scorerValue) : json(nullptr);
    if (!q.scorerNote.empty()) quality[q.scorerName + "Note"] = q.scorerNote;
}

// One codec's figures on one original, with the window's texts of them.
json CodecResultJson(const CodecResult &c) {
    json j = {{"name", c.name},
              {"mode", c.mode},
              {"label", c.label},
              {"description", c.description},
              {"outcome", c.outcome},
              {"row", c.row},
              {"codecId", c.codecId},
              {"encoderOptions", c.encoderOptions},
              {"downsampled", c.downsampled},
              {"sampleRate", c.sampleRate},
              {"seconds", c.seconds},
              {"inputBytes", c.inputBytes},
              {"codedBytes", c.codedBytes},
              {"bitRate", c.bitRate},
              {"ratio", c.ratio},
              {"codingMs", c.codingMs},
              {"decodingMs", c.decodingMs},
              {"codingLoad", c.codingLoad},
              {"decodingLoad", c.decodingLoad},
              {"codingMicros", c.codingMicros},
              {"decodingMicros", c.decodingMicros},
              {"codingRealTimeFactor", c.CodingRealTime()},
              {"decodingRealTimeFactor", c.DecodingRealTime()}};
    if (!c.reason.empty()) j["reason"] = c.reason;
    // Which rows are the field's standard codecs, from the libraries' own registration.
    j["peer"] = !c.peerLibrary.empty();
    if (!c.peerLibrary.empty()) j["peerLibrary"] = c.peerLibrary;
    if (!c.lines.empty()) j["lines"] = c.lines;
    if (c.latencySamples >= 0) {
        j["declaredLatencySamples"] = c.latencySamples;
        if (c.sampleRate > 0) j["declaredLatencyMs"] = 1000.0 * c.latencySamples / c.sampleRate;
    }
    if (c.quality.valid) {
        j["quality"] = {{"snrDb", c.quality.snrDb},
                        {"segmentalSnrDb", c.quality.segmentalSnrDb},
                        {"logSpectralDistanceDb", c.quality.logSpectralDistanceDb},
                        {"delaySamples", c.quality.delaySamples},
                        {"alignment", c.alignedOnce ? "codec" : "file"},
                        {"comparedSamples", c.quality.comparedSamples}};
        AddVisqolJson(j["quality"], c.quality);
        AddScorerJson(j["quality"], c.quality);
    }
    return j;
}

json CodecSummaryJson(const CodecSummary &c) {
    json delays = json::array();
    for (const auto &[delay, n] : c.delays) delays.push_back(delay);
    json reasons = json::object();
    for (const auto &[reason, n] : c.notRunReasons) reasons[reason] = n;
    json j = {{"name", c.name},
              {"mode", c.mode},
              {"label", c.label},
              {"description", c.description},
              {"files", c.files},
              {"notRun", c.notRun},
              {"notRunReasons", reasons},
              {"failed", c.failed},
              {"seconds", c.seconds},
              {"bitRate", c.BitRate()},
              {"snrDb", MeasureJson(c.snr)},
              {"segmentalSnrDb", MeasureJson(c.segmentalSnr)},
              {"logSpectralDistanceDb", MeasureJson(c.logSpectralDistance)},
              {"visqolMos", MeasureJson(c.visqolMos)},
              {"codingRealTimeFactor", c.CodingRealTime()},
              {"decodingRealTimeFactor", c.DecodingRealTime()},
              {"alignedDelaySamples", delays},
              {"declaredLatencySamples", c.latencySamples >= 0 ? json(c.latencySamples) : json(nullptr)}};
    if (!c.scorerName.empty()) j[c.scorerName] = MeasureJson(c.scorer);
    return j;
}

std::string Number(double value, const char *format, bool present) {
    return present ? Printf(format, value) : "-";
}

} // namespace

std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void MeasureSummary::Add(double value, const std::string &file) {
    const bool worse = count == 0 || (higherIsWorse ? value > worst : value < worst);
    if (worse) {
        worst = value;
        worstFile = file;
    }
    sum += value;
    ++count;
}

std::vector<CodecSummary> Summarise(const std::vector<FileResult> &files, const std::vector<std::string> &codecOrder) {
    std::vector<CodecSummary> codecs;
    for (const auto &label : codecOrder) {
        CodecSummary c;
        c.label = label;
        c.name = label;
        codecs.push_back(std::move(c));
    }
    for (const auto &file : files) {
        if (file.state != FileState::Done) continue;
        for (const auto &r : file.codecs) {
            const std::string &label = r.label.empty() ? r.name : r.label;
            auto it =
                std::find_if(codecs.begin(), codecs.end(), [&](const CodecSummary &c) { return c.label == label; });
            if (it == codecs.end()) continue;
            CodecSummary &c = *it;
            if (c.description.empty()) {
                c.description = r.description;
                c.name = r.name;
                c.mode = r.mode;
            }
            if (r.outcome == "failed") {
                ++c.failed;
            } else if (!r.Ok()) {
                ++c.notRun;
                ++c.notRunReasons[r.reason.empty() ? r.outcome : r.reason];
            } else {
                ++c.files;
                c.seconds += r.seconds;
                c.codedBits += 8.0 * r.codedBytes;
                c.codingMicros += r.codingMicros;
                c.decodingMicros += r.decodingMicros;
                if (r.latencySamples >= 0) c.latencySamples = r.latencySamples;
                c.sampleRate = r.sampleRate;
                if (r.quality.valid) {
                    ++c.delays[r.quality.delaySamples];
                    c.snr.Add(r.quality.snrDb, file.name);
                    c.segmentalSnr.Add(r.quality.segmentalSnrDb, file.name);
                    c.logSpectralDistance.Add(r.quality.logSpectralDistanceDb, file.name);
                    if (r.quality.visqolValid) c.visqolMos.Add(r.quality.visqolMos, file.name);
                    if (!r.quality.scorerName.empty()) c.scorerName = r.quality.scorerName;
                    if (r.quality.scorerValid) c.scorer.Add(r.quality.scorerValue, file.name);
                }
            }
        }
    }
    std::stable_sort(codecs.begin(), codecs.end(), [](const CodecSummary &a, const CodecSummary &b) {
        if ((a.files > 0) != (b.files > 0)) return a.files > 0;
        return a.files > 0 && a.BitRate() < b.BitRate();
    });
    return codecs;
}

CorpusTotals Totals(const std::vector<FileResult> &files) {
    CorpusTotals t;
    t.originals = files.size();
    for (const auto &f : files) {
        if (f.state == FileState::Done) {
            ++t.run;
            t.seconds += f.seconds;
        } else if (f.state == FileState::Refused) {
            ++t.refused;
        } else {
            ++t.interrupted;
        }
    }
    return t;
}

void PrintCorpusReport(std::FILE *out, const CorpusOutcome &outcome, const std::vector<CodecSummary> &codecs) {
    const CorpusTotals t = Totals(outcome.files);
    std::fprintf(out, "Corpus: %zu originals, %zu run, %zu refused", t.originals, t.run, t.refused);
    if (t.interrupted > 0) std::fprintf(out, ", %zu not finished (interrupted)", t.interrupted);
    const double wallSeconds = outcome.wallSeconds.value_or(0);
    std::fprintf(out, "; %.1f s of audio in %.1f s on %d worker%s", t.seconds, wallSeconds, outcome.workers,
                 outcome.workers == 1 ? "" : "s");
    if (wallSeconds > 0) std::fprintf(out, " (%.0fx real time)", t.seconds / wallSeconds);
    std::fprintf(out, "\n\n");
    std::size_t width = 10;
    for (const auto &c : codecs) width = std::max(width, c.label.size());
    const int w = static_cast<int>(width);
    // The external scorer's mean and worst (lowest), named after the tool, when one ran.
    std::string scorer;
    for (const auto &c : codecs) {
        if (scorer.empty()) scorer = c.scorerName;
    }
    const int sw = static_cast<int>(std::max<std::size_t>(14, scorer.size()));
    std::fprintf(out, "%-*s %5s %9s %10s %14s %14s %14s %14s %8s %8s", w, "Codec", "Files", "Audio s", "Bit rate",
                 "SNR dB", "SegSNR dB", "LSD dB", "ViSQOL MOS", "Coding", "Decoding");
    if (!scorer.empty()) std::fprintf(out, " %*s", sw, scorer.c_str());
    std::fprintf(out, "\n%-*s %5s %9s %10s %14s %14s %14s %14s %8s %8s", w, "", "", "", "", "  mean  worst",
                 "  mean  worst", "  mean  worst", "  mean  worst", "x RT", "x RT");
    if (!scorer.empty()) std::fprintf(out, " %*s", sw, "  mean  worst");
    std::fprintf(out, "\n");
    for (const auto &c : codecs) {
        if (c.files == 0) {
            std::fprintf(out, "%-*s %5zu %9s %10s", w, c.label.c_str(), c.files, "-", "-");
        } else {
            auto pair = [](const MeasureSummary &m) {
                return Number(m.Mean(), "%6.2f", m.count > 0) + " " + Number(m.worst, "%6.2f", m.count > 0);
            };
            std::fprintf(out, "%-*s %5zu %9.1f %6.0f bps %14s %14s %14s %14s %8.0f %8.0f", w, c.label.c_str(), c.files,
                         c.seconds, c.BitRate(), pair(c.snr).c_str(), pair(c.segmentalSnr).c_str(),
                         pair(c.logSpectralDistance).c_str(), pair(c.visqolMos).c_str(), c.CodingRealTime(),
                         c.DecodingRealTime());
            if (!scorer.empty()) std::fprintf(out, " %*s", sw, pair(c.scorer).c_str());
        }
        std::fprintf(out, "\n");
        if (c.snr.count > 0) {
            std::fprintf(out, "    worst: SNR %s, SegSNR %s, LSD %s", c.snr.worstFile.c_str(),
                         c.segmentalSnr.worstFile.c_str(), c.logSpectralDistance.worstFile.c_str());
            if (c.visqolMos.count > 0) std::fprintf(out, ", ViSQOL %s", c.visqolMos.worstFile.c_str());
            if (c.scorer.count > 0) std::fprintf(out, ", %s %s", c.scorerName.c_str(), c.scorer.worstFile.c_str());
            std::fprintf(out, "\n");
            auto ms = [&](int32_t samples) { return c.sampleRate > 0 ? 1000.0 * samples / c.sampleRate : 0.0; };
            std::string aligned;
            for (const auto &[delay, n] : c.delays) {
                aligned += (aligned.empty() ? "" : ", ") + Printf("%d samples (%.1f ms)", delay, ms(delay));
                if (c.delays.size() > 1) aligned += Printf(" on %zu", n);
            }
            std::fprintf(out, "    aligned at %s; declared latency %s\n", aligned.c_str(),
                         c.latencySamples >= 0
                             ? Printf("%d samples (%.1f ms)", c.latencySamples, ms(c.latencySamples)).c_str()
                             : "unknown");
        }
        if (c.notRun > 0) {
            std::string reasons;
            for (const auto &[reason, n] : c.notRunReasons) {
                reasons += (reasons.empty() ? "" : ", ") + reason + ": " + std::to_string(n);
            }
            std::fprintf(out, "    not run on %zu (%s)\n", c.notRun, reasons.c_str());
        }
        if (c.failed > 0) std::fprintf(out, "    failed on %zu\n", c.failed);
    }
    bool heading = false;
    for (const auto &f : outcome.files) {
        if (f.state != FileState::Refused) continue;
        if (!heading) std::fprintf(out, "\nRefused:\n");
        heading = true;
        // The first message says why; the rest follow on stderr.
        std::fprintf(out, "    %s: %s\n", f.name.c_str(), f.messages.empty() ? "refused" : f.messages.front().c_str());
    }
}

namespace {

// The same text as one document dumped with an indent of two, written a
// piece at a time: only one original's rows are ever held as JSON, so the
// writer's memory does not grow with the corpus.
class JsonStream {
public:
    explicit JsonStream(std::FILE *file) : file_(file) {}
    // `value` at `depth` levels of nesting, its inner lines indented to match.
    void Value(json value, int depth) {
        MarkRawBytes(value);
        const std::string text = ReportText(value);
        const std::string indent(static_cast<std::size_t>(2 * depth), ' ');
        std::string out;
        out.reserve(text.size());
        for (const char c : text) {
            out += c;
            if (c == '\n') out += indent;
        }
        std::fwrite(out.data(), 1, out.size(), file_);
    }
    void Text(const char *text) { std::fputs(text, file_); }

private:
    std::FILE *file_;
};

json FileJson(const FileResult &f) {
    json j = {{"name", f.name}, {"path", f.path}, {"outcome", FileStateName(f.state)}, {"messages", f.messages}};
    if (!f.conversion.empty()) j["conversion"] = f.conversion;
    if (f.state == FileState::Done) {
        j["fromSession"] = f.fromSession;
        j["formatFlags"] = f.formatFlags;
        j["sampleRate"] = f.sampleRate;
        j["format"] = f.format;
        j["seconds"] = f.seconds;
        j["dataBytes"] = f.dataBytes;
        json rows = json::array();
        for (const auto &c : f.codecs) rows.push_back(CodecResultJson(c));
        j["codecs"] = std::move(rows);
    }
    return j;
}

} // namespace

bool WriteCorpusJson(const std::string &path, const CorpusOutcome &outcome, const std::vector<CodecSummary> &codecs,
                     std::string &error) {
    evaluator::ReplacingFile file;
    errno = 0;
    if (!file.Create(path)) {
        error = "cannot create " + path + SystemReason();
        return false;
    }
    try {
        const CorpusTotals t = Totals(outcome.files);
        const json corpus = {{"originals", t.originals},
                             {"run", t.run},
                             {"refused", t.refused},
                             {"notFinished", t.interrupted},
                             {"interrupted", outcome.interrupted},
                             {"seconds", t.seconds},
                             {"workers", outcome.workers},
                             {"wallSeconds", outcome.wallSeconds ? json(*outcome.wallSeconds) : json(nullptr)}};
        json summaries = json::array();
        for (const auto &c : codecs) summaries.push_back(CodecSummaryJson(c));
        // The keys in the order a JSON object keeps them: sorted.
        JsonStream out(file.File());
        out.Text("{\n  \"codecs\": ");
        out.Value(std::move(summaries), 1);
        out.Text(",\n  \"corpus\": ");
        out.Value(corpus, 1);
        out.Text(",\n  \"files\": ");
        if (outcome.files.empty()) {
            out.Text("[]");
        } else {
            out.Text("[\n");
            for (std::size_t i = 0; i < outcome.files.size(); ++i) {
                out.Text("    ");
                out.Value(FileJson(outcome.files[i]), 2);
                out.Text(i + 1 < outcome.files.size() ? ",\n" : "\n");
            }
            out.Text("  ]");
        }
        out.Text("\n}\n");
    } catch (const std::exception &e) {
        // The unfinished file goes; the previous report stays as it was.
        error = "cannot write " + path + ": " + e.what();
        return false;
    }
    errno = 0;
    if (!file.Commit()) {
        error = "cannot write " + path + SystemReason();
        return false;
    }
    return true;
}

bool WriteOriginalJson(const std::string &path, const FileResult &file, std::optional<double> wallSeconds,
                       std::string &error) {
    CorpusOutcome outcome;
    outcome.files = {file};
    outcome.workers = 1;
    outcome.wallSeconds = wallSeconds;
    std::vector<std::string> rows;
    for (const auto &c : file.codecs) rows.push_back(c.label.empty() ? c.name : c.label);
    return WriteCorpusJson(path, outcome, Summarise(outcome.files, rows), error);
}

bool WriteCsv(const std::string &path, const std::vector<FileResult> &files, std::string &error) {
    evaluator::ReplacingFile file;
    errno = 0;
    if (!file.Create(path)) {
        error = "cannot create " + path + SystemReason();
        return false;
    }
    // A row at a time, straight to the new file.
    auto put = [&](const std::string &row) { std::fwrite(row.data(), 1, row.size(), file.File()); };
    // The external scorer's column, named after the tool, last, when one ran.
    std::string scorer;
    for (const auto &f : files) {
        if (scorer.empty()) scorer = ScorerName(f.codecs);
    }
    const std::string scorerEnd = scorer.empty() ? "\n" : ",\n";
    try {
        put("file,path,file_outcome,conversion,codec,mode,outcome,reason,sample_rate,downsampled,seconds,"
            "input_bytes,coded_bytes,bit_rate_bps,snr_db,segmental_snr_db,lsd_db,delay_samples,visqol_mos,"
            "declared_latency_samples,coding_x_realtime,decoding_x_realtime" +
            (scorer.empty() ? std::string() : "," + CsvField(scorer)) + "\n");
        for (const auto &f : files) {
            const std::string head = CsvField(f.name) + "," + CsvField(f.path) + "," + FileStateName(f.state) + "," +
                                     CsvField(f.conversion) + ",";
            if (f.state != FileState::Done) {
                put(head + ",,," + CsvField(f.messages.empty() ? "" : f.messages.front()) + ",,,,,,,,,,,,,," +
                    scorerEnd);
                continue;
            }
            for (const auto &c : f.codecs) {
                const bool q = c.quality.valid;
                put(head + CsvField(c.name) + "," + CsvField(c.mode) + "," + c.outcome + "," + CsvField(c.reason) +
                    "," + std::to_string(c.sampleRate) + "," + (c.downsampled ? "1" : "0") + "," +
                    Printf("%.6f", c.seconds) + "," + std::to_string(c.inputBytes) + "," +
                    std::to_string(c.codedBytes) + "," + Printf("%.3f", static_cast<double>(c.bitRate)) + "," +
                    Number(c.quality.snrDb, "%.6f", q) + "," + Number(c.quality.segmentalSnrDb, "%.6f", q) + "," +
                    Number(c.quality.logSpectralDistanceDb, "%.6f", q) + "," +
                    (q ? std::to_string(c.quality.delaySamples) : "-") + "," +
                    Number(c.quality.visqolMos, "%.6f", q && c.quality.visqolValid) + "," +
                    (c.latencySamples >= 0 ? std::to_string(c.latencySamples) : "-") + "," +
                    Printf("%.3f", c.CodingRealTime()) + "," + Printf("%.3f", c.DecodingRealTime()) +
                    (scorer.empty() ? "\n"
                                    : "," + Number(c.quality.scorerValue, "%.6f", c.quality.scorerValid) + "\n"));
            }
        }
    } catch (const std::exception &e) {
        error = "cannot write " + path + ": " + e.what();
        return false;
    }
    errno = 0;
    if (!file.Commit()) {
        error = "cannot write " + path + SystemReason();
        return false;
    }
    return true;
}

} // namespace vntr::report
