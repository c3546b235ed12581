// A corpus run: every original through the evaluator's pipeline, on as many
// workers as asked.  Each worker owns an evaluator core with its own codec
// handles and its own temporary folder below the program's, so workers share
// no temporary file, handle or mutable state, and what an original gives
// does not depend on the worker that ran it.  The main thread prints each
// original's messages in corpus order as the originals finish, and draws the
// progress bar.
#pragma once

#include "cli/corpus_files.hpp"
#include "cli/modes.hpp"
#include "core/evaluator.hpp"
#include "report/corpus_report.hpp"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vntr::cli {

struct CorpusSettings {
    int jobs = 1;
    bool measureQuality = true;
    bool resample = false;
    bool mono = false;
    std::optional<double> level; // --level: the active speech level to scale each original to, dBov
    std::string keepDir;         // empty: nothing kept
    bool showProgress = false;   // the bar on stderr
    ModePlan modes;              // by the prototype's slots; none: each selected codec in its options
};

// The codecs, their selection and options are those of `prototype` (the
// program's own evaluator, which has discovered the codecs and applied the
// command line); its temporary folder holds the workers' folders.
report::CorpusOutcome RunCorpus(const evaluator::Evaluator &prototype, const std::vector<Original> &originals,
                                const CorpusSettings &settings, std::FILE *err);

// The workers' folders below a temporary folder: "~job1", "~job2", ...
std::string WorkerFolder(const std::string &tempDir, int worker);
// Deletes every worker folder below `tempDir` with what is in it (left by a
// run that was killed); the caller holds the instance lock.
void DeleteWorkerFolders(const std::string &tempDir);

// The number of processors this process may run on.
int AvailableCores();

} // namespace vntr::cli
