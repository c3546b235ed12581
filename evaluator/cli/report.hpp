// What a batch run prints: the comparison table with the result lines, and
// the same as JSON.
#pragma once

#include "core/evaluator.hpp"

#include <nlohmann/json_fwd.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace vntr::cli {

// Speed of a pass in multiples of real time (0 when too fast to time).
double RealTimeFactor(uint64_t micros, const evaluator::CodecSlot &slot);

// Slots to report: every selected slot, those with a display row first in
// row order, then the others in slot order.
std::vector<std::size_t> ReportOrder(const evaluator::Evaluator &ev);

// The JSON report as a document: the original, the codecs' records in
// report order and the messages.
nlohmann::json ReportJson(const evaluator::Evaluator &ev, const std::vector<std::string> &messages);
// The codecs' records as a CSV table: a line per record, a column per field
// any record has, named by its path in the record ("bitRate",
// "quality.snrDb", "lines.0"); a field a record lacks is an empty cell.
std::string CodecsCsv(const nlohmann::json &codecs);
bool WriteCodecsCsv(const std::string &path, const evaluator::Evaluator &ev, std::string &error);

void PrintReport(std::FILE *out, const evaluator::Evaluator &ev);
bool WriteJson(const std::string &path, const evaluator::Evaluator &ev, const std::vector<std::string> &messages,
               std::string &error);

} // namespace vntr::cli
