#include "cli/modes.hpp"

#include <vntr/codec_api.h>

#include <algorithm>
#include <sstream>

namespace vntr::cli {
namespace {

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

} // namespace

bool ParseOptionWord(const std::string &text, uint32_t offered, uint32_t &word, std::string &error) {
    for (const auto &token : Split(text, '+')) {
        uint32_t bit = 0;
        if (token == "4800") {
            bit = CODEC_OPT_4800;
            word &= ~CODEC_OPT_6400;
        } else if (token == "6400") {
            bit = CODEC_OPT_6400;
            word &= ~CODEC_OPT_4800;
        } else if (token == "vad") {
            bit = CODEC_OPT_VAD;
        } else if (token == "novad") {
            word &= ~CODEC_OPT_VAD;
            continue;
        } else if (token == "default") {
            word = 0;
            continue;
        } else {
            error = "unknown option '" + token + "' (use 4800, 6400, vad, novad or default)";
            return false;
        }
        if ((offered & bit) == 0) {
            error = "the codec does not offer option '" + token + "'";
            return false;
        }
        word |= bit;
    }
    return true;
}

bool ParseModes(const std::string &text, uint32_t offered, uint32_t base, std::vector<uint32_t> &modes,
                std::string &error) {
    modes.clear();
    for (const auto &mode : Split(text, ',')) {
        uint32_t word = base;
        if (!ParseOptionWord(mode, offered, word, error)) return false;
        if (std::find(modes.begin(), modes.end(), word) == modes.end()) modes.push_back(word);
    }
    if (modes.empty()) {
        error = "no option given";
        return false;
    }
    return true;
}

std::size_t ModePlan::Passes() const {
    std::size_t passes = 0;
    for (const auto &m : modes) passes = std::max(passes, m.size());
    return passes;
}

ModePlan CurrentModes(const evaluator::Evaluator &ev) {
    ModePlan plan;
    plan.modes.resize(ev.SlotCount());
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        if (ev.IsSelected(i)) plan.modes[i] = {ev.CodecOptions(i)};
    }
    return plan;
}

bool RunModes(evaluator::Evaluator &ev, const ModePlan &plan, std::vector<report::CodecResult> &rows,
              const std::function<void(std::size_t pass)> &afterPass) {
    rows.clear();
    const std::size_t passes = plan.Passes();
    auto choose = [&](std::size_t pass) {
        std::vector<bool> selection(ev.SlotCount(), false);
        for (std::size_t i = 0; i < ev.SlotCount() && i < plan.modes.size(); ++i) {
            if (plan.modes[i].size() <= pass) continue;
            selection[i] = true;
            ev.SetCodecOptions(i, plan.modes[i][pass]);
        }
        ev.ApplySelection(selection);
    };
    if (passes == 0) {
        ev.ProcessSelectedCodecs(); // says that no codec is selected
        return !ev.Cancelled();
    }
    bool finished = true;
    for (std::size_t pass = 0; pass < passes; ++pass) {
        choose(pass);
        ev.ProcessSelectedCodecs();
        if (ev.Cancelled()) {
            finished = false;
            break;
        }
        for (auto &row : report::CollectCodecResults(ev)) rows.push_back(std::move(row));
        if (afterPass) afterPass(pass);
    }
    choose(0);
    // One order for the rows of all passes: by bit rate, equal rates in the
    // order they ran, then the rows without results.
    std::stable_sort(rows.begin(), rows.end(), [](const report::CodecResult &a, const report::CodecResult &b) {
        if (a.Ok() != b.Ok()) return a.Ok();
        return a.Ok() && a.bitRate < b.bitRate;
    });
    int16_t next = 0;
    for (auto &row : rows) row.row = row.Ok() ? next++ : int16_t{-1};
    return finished;
}

} // namespace vntr::cli
