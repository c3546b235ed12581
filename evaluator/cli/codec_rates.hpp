// --resample: each codec at its own rate.  Every original is read through
// libsndfile (8-, 16-, 24- and 32-bit and float PCM, mu-law and A-law, FLAC,
// RIFF headers with unknown sizes...), converted once per rate that a
// selected codec needs, straight from the original's rate to that rate with
// libsoxr, and each codec is measured against the very copy it was fed.
#pragma once

#include "cli/kept_files.hpp"
#include "cli/modes.hpp"
#include "core/evaluator.hpp"
#include "report/file_result.hpp"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vntr::cli {

// The rate a codec whose format mask is `mask` is fed from an original at
// `rate`: that rate when the codec takes it, else the nearest rate it takes
// (the higher of two equally near); 0 when it takes none.
int32_t CodecRate(uint32_t mask, int32_t rate);

// An original as libsndfile reads it.
struct SourceInfo {
    int32_t rate = 0;
    unsigned channels = 0;
    uint64_t frames = 0;
    std::string encoding;           // "16-bit PCM", "24-bit PCM", "32-bit float PCM", "FLAC, 16-bit PCM"...
    std::string FormatText() const; // "16000 Hz, 24-bit PCM, 2 channels"
};
// False with the reason in `error` when libsndfile cannot read the file.
bool ProbeSource(const std::string &path, SourceInfo &info, std::string &error);

// How a copy is made: the rate, the channels mixed down or kept, the gain.
struct CopyTarget {
    int32_t rate = 0;
    bool mono = false;
    double gainDb = 0;
};

// Writes a 16-bit PCM wave copy of `source` as `target` says.  A copy that is
// the original's own 16-bit samples unchanged is written as they are; any
// other (resampled, scaled, mixed down, or from wider, float or companded
// samples) gets triangular (TPDF) dither of one step peak before it is
// rounded, from a generator seeded the same for every copy, so that a run
// gives the same copies every time and on any number of workers; what goes
// beyond full scale is clipped.
bool WriteCopy(const std::string &source, const CopyTarget &target, const std::string &destination,
               evaluator::Frontend &ui, const std::atomic<bool> &cancel, std::string &error);

// The active speech level of an original read through libsndfile (channels
// averaged), for --level.
bool MeasureSourceLevel(const std::string &path, double &activeLevelDb, bool &active, std::string &error);

struct RatesRun {
    SourceInfo source;
    std::vector<report::CodecResult> rows; // every codec and mode, in report order
    std::vector<int32_t> rates;            // the copies made
    std::string note;                      // "read as 24-bit PCM; copies at 8000 and 11025 Hz, ..."
    bool levelled = false;
    double activeLevelDb = 0;
    double gainDb = 0;
    bool cancelled = false;
};

// Runs the codecs of `plan` over `source`, each at its own rate, the copies
// made in `tempDir`; with `keepDir`, the copies are kept there as
// "reference <rate> Hz.wav" beside the codecs' files, none of them over one
// of `originals` (what cannot be kept is named in `problems`).  False with
// the reason in `error` when the original cannot be read or a copy made.
bool RunAtCodecRates(evaluator::Evaluator &ev, evaluator::Frontend &ui, const std::string &source, const ModePlan &plan,
                     bool mono, std::optional<double> level, const std::string &keepDir, const FileSet &originals,
                     std::vector<std::string> &problems, RatesRun &run, std::string &error);

} // namespace vntr::cli
