// --keep: the coded and decoded files of a run, copied out of the temporary
// folder before the next original or the end of the program deletes them.
#pragma once

#include "core/evaluator.hpp"

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vntr::cli {

// Files by device and inode, however their paths are spelt.
class FileSet {
public:
    // Nothing is added for a path that names no file.
    void Add(const std::string &path);
    bool Holds(const std::string &path) const;

private:
    std::set<std::pair<dev_t, ino_t>> ids_;
};

// Copies "<row>.coded.wav" and "<row>.decoded.wav" of every selected
// codec whose files exist, whatever became of the others, into `dir` (made
// when missing); <row> is the codec's name and mode ("VT4864v6 4.8k"), the
// name alone for a codec without options, with any '/' of a registry key
// made '_' so that it stays one name inside `dir`.  A copy that would
// replace one of `originals` (the files the run evaluates) is refused.  Each
// failure is shown through `ui` by the copy or named in `problems`; false
// when there was one.
bool KeepFiles(evaluator::Frontend &ui, const evaluator::Evaluator &ev, const std::string &dir,
               const FileSet &originals, std::vector<std::string> &problems);

} // namespace vntr::cli
