// What a batch run prints: the comparison table with the result lines, and
// the same as JSON.
#pragma once

#include "core/evaluator.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace vntr::cli {

// Speed of a pass in multiples of real time (0 when too fast to time).
double RealTimeFactor(uint64_t micros, const evaluator::CodecSlot &slot);

// Slots to report: every selected slot, those with a display row first in
// row order, then the others in slot order.
std::vector<std::size_t> ReportOrder(const evaluator::Evaluator &ev);

void PrintReport(std::FILE *out, const evaluator::Evaluator &ev);
bool WriteJson(const std::string &path, const evaluator::Evaluator &ev, const std::vector<std::string> &messages,
               std::string &error);

// The codecs of the JSON report as a table: one line per codec in the same
// order, one column per field, named by its path in a codec's JSON record
// ("bitRate", "quality.snrDb"); a field the record lacks is an empty cell.
const std::vector<std::string> &CsvColumns();
bool WriteCsv(const std::string &path, const evaluator::Evaluator &ev, std::string &error);

} // namespace vntr::cli
