// The report of one original: the comparison table with the result lines,
// as a batch run prints it (its JSON is that of a corpus of one).
#pragma once

#include "core/evaluator.hpp"
#include "report/file_result.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace vntr::report {

// Seconds of audio the slot's codec coded in its last run.
double AudioSeconds(const evaluator::CodecSlot &slot);
// "ok", "not run", "failed" or "no result".
const char *Outcome(const evaluator::CodecSlot &slot);

// The external scorer's name in the rows, empty when none was run.
std::string ScorerName(const std::vector<CodecResult> &rows);

// Speed of a pass in multiples of real time (0 when too fast to time).
double RealTimeFactor(uint64_t micros, const evaluator::CodecSlot &slot);

// Slots to report: every selected slot, those with a display row first in
// row order, then the others in slot order.
std::vector<std::size_t> ReportOrder(const evaluator::Evaluator &ev);

// The original of a single-original report, as it was run.
struct ReportedOriginal {
    bool exists = false;
    std::string name; // as shown
    std::string path;
    bool fromSession = false;
    uint32_t dataBytes = 0;
    uint32_t formatFlags = 0;
    int32_t sampleRate = 0;
    double seconds = 0;
    std::string formatText;
    std::string durationText;
    std::string conversion; // "resampled from 16000 Hz to 11025 Hz", empty when run as it is
};
// The current original of `ev`.  `shownName` replaces its name (empty: its
// own), and a `conversion` note ("resampled from 16000 Hz to 11025 Hz")
// follows it, for an original that was run as a converted copy.
ReportedOriginal ReportedOriginalOf(const evaluator::Evaluator &ev, const std::string &shownName = "",
                                    const std::string &conversion = "");

// The table of one original from its rows (in report order).
void PrintRows(std::FILE *out, const ReportedOriginal &original, const std::vector<CodecResult> &rows);

} // namespace vntr::report
