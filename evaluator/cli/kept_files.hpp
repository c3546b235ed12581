// --keep: the coded and decoded files of a run, copied out of the temporary
// folder before the next original or the end of the program deletes them.
#pragma once

#include "core/evaluator.hpp"

#include <functional>
#include <string>
#include <vector>

namespace vntr::cli {

// Copies "<row>.coded.wav" and "<row>.decoded.wav" of every selected
// codec whose files exist, whatever became of the others, into `dir` (made
// when missing); <row> is the codec's name and mode ("VT4864v6 4.8k"), the
// name alone for a codec without options.  Each failure is shown through
// `ui` by the copy and named in `problems`; false when there was one.
bool KeepFiles(evaluator::Frontend &ui, const evaluator::Evaluator &ev, const std::string &dir,
               std::vector<std::string> &problems);

} // namespace vntr::cli
