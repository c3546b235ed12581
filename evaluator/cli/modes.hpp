// The modes a batch run codes in: a codec's option words (rate, voice
// activity detection) as the command line names them, and several modes of
// one codec run one after the other, each its own row (named by ModeLabel).
#pragma once

#include "core/evaluator.hpp"
#include "report/file_result.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vntr::cli {

// One mode of `--option CODEC=...`: "4800", "6400", "vad", "novad" or
// "default", joined with '+', applied to `word` (the codec's options before).
// False with the reason in `error`.
bool ParseOptionWord(const std::string &text, uint32_t offered, uint32_t &word, std::string &error);
// Several modes separated by ',' ("4800,6400", "vad,novad"), each applied to
// `base`; at least one.
bool ParseModes(const std::string &text, uint32_t offered, uint32_t base, std::vector<uint32_t> &modes,
                std::string &error);

// The option words of every slot, by slot index: one word for a codec run
// in one mode, several for one run in each; empty for a slot not selected.
struct ModePlan {
    std::vector<std::vector<uint32_t>> modes;
    std::size_t Passes() const;
    bool Several() const { return Passes() > 1; }
};

// The plan of `ev` as it stands: each selected slot in its own options.
ModePlan CurrentModes(const evaluator::Evaluator &ev);

// Runs the codecs of the plan (and only those) over the current original of
// `ev` once per mode (the first modes of all codecs together, then the
// second modes of the codecs that have one, ...).  `afterPass` is called
// after each pass that was not cancelled, while that pass's files are in the
// temporary folder.  The rows of all passes in report order: by bit rate,
// then those without results.  False when a pass was cancelled.  The
// plan's codecs in their first modes are the selection afterwards.
bool RunModes(evaluator::Evaluator &ev, const ModePlan &plan, std::vector<report::CodecResult> &rows,
              const std::function<void(std::size_t pass)> &afterPass = {});

} // namespace vntr::cli
