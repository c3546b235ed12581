// The report of a corpus run: one table row per codec over every original
// it ran on, the originals that were refused, and the same as JSON and as
// per-file CSV rows.  One original's JSON is that of a corpus of one.
#pragma once

#include "report/file_result.hpp"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vntr::report {

// The mean and the worst of one measure over the originals, with the name
// of the worst one.  For SNR and segmental SNR the worst is the lowest, for
// the log-spectral distance the highest.
struct MeasureSummary {
    bool higherIsWorse = false;
    std::size_t count = 0;
    double sum = 0;
    double worst = 0;
    std::string worstFile;

    void Add(double value, const std::string &file);
    double Mean() const { return count > 0 ? sum / static_cast<double>(count) : 0; }
};

struct CodecSummary {
    std::string label; // the row: the codec and its mode ("VT4864v6 4.8k")
    std::string name;  // the codec
    std::string mode;  // its mode in words
    std::string description;
    std::size_t files = 0;  // originals it ran on
    std::size_t notRun = 0; // originals it could not take (or that gave no result)
    std::size_t failed = 0;
    std::map<std::string, std::size_t> notRunReasons;
    double seconds = 0; // audio it coded
    double codedBits = 0;
    uint64_t codingMicros = 0;
    uint64_t decodingMicros = 0;
    MeasureSummary snr;
    MeasureSummary segmentalSnr;
    MeasureSummary logSpectralDistance{true};
    std::map<int32_t, std::size_t> delays; // the lags the originals were compared at, and how many at each
    int32_t latencySamples = -1;           // declared algorithmic latency
    int32_t sampleRate = 0;                // of the last original it ran on
    MeasureSummary visqolMos;              // the worst is the lowest
    std::string scorerName;                // the external scorer's, empty when none ran
    MeasureSummary scorer;                 // its scores; the worst is the lowest (a tool's score is taken as a MOS)

    // Bits over seconds: the bit rate of the corpus as one long recording.
    double BitRate() const { return seconds > 0 ? codedBits / seconds : 0; }
    double CodingRealTime() const { return codingMicros > 0 ? seconds * 1e6 / static_cast<double>(codingMicros) : 0; }
    double DecodingRealTime() const {
        return decodingMicros > 0 ? seconds * 1e6 / static_cast<double>(decodingMicros) : 0;
    }
};

// Every row named in `codecOrder` (the labels of the selected codecs' modes in slot order), over
// the originals that were run; in the report's order: by bit rate, then the
// codecs that ran on nothing in slot order.
std::vector<CodecSummary> Summarise(const std::vector<FileResult> &files, const std::vector<std::string> &codecOrder);

// What a corpus run gave: every original's results and how the run went.
struct CorpusOutcome {
    std::vector<FileResult> files; // one per original, in corpus order
    bool interrupted = false;
    int workers = 0;
    std::optional<double> wallSeconds; // none when the run was not timed (the window's export)
    bool setupFailed = false;          // no worker could be started (said on stderr)
};

struct CorpusTotals {
    std::size_t originals = 0;
    std::size_t run = 0;
    std::size_t refused = 0;
    std::size_t interrupted = 0; // stopped or never reached
    double seconds = 0;          // audio of the originals run
};
CorpusTotals Totals(const std::vector<FileResult> &files);

void PrintCorpusReport(std::FILE *out, const CorpusOutcome &outcome, const std::vector<CodecSummary> &codecs);
bool WriteCorpusJson(const std::string &path, const CorpusOutcome &outcome, const std::vector<CodecSummary> &codecs,
                     std::string &error);
// The JSON of one original (`wallSeconds`: how long its run took, when
// timed): a corpus of one, on one worker.
bool WriteOriginalJson(const std::string &path, const FileResult &file, std::optional<double> wallSeconds,
                       std::string &error);
// One row per original and codec (one row for an original that was not run).
bool WriteCsv(const std::string &path, const std::vector<FileResult> &files, std::string &error);

// One CSV field, quoted as RFC 4180 asks when it holds a comma, a quote or a line break.
std::string CsvField(const std::string &text);

} // namespace vntr::report
