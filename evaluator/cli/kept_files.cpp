#include "cli/kept_files.hpp"

#include "cli/modes.hpp"

#include <vntr/platform/paths.hpp>

#include <unistd.h>

#include <utility>

namespace vntr::cli {

bool KeepFiles(evaluator::Frontend &ui, const evaluator::Evaluator &ev, const std::string &dir,
               std::vector<std::string> &problems) {
    if (!platform::MakeDirectories(dir)) {
        problems.push_back("cannot create " + dir);
        return false;
    }
    bool ok = true;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        const auto &slot = ev.Slots()[i];
        if (slot.selected == 0) continue;
        const std::string name = slot.Name();
        const std::string row = ModeLabel(name, slot.info.optionMask, slot.encoderOptions);
        const std::pair<std::string, std::string> files[] = {{ev.Temp().Coded(name), dir + "/" + row + ".coded.wav"},
                                                             {ev.Temp().Decoded(name), dir + "/" + row + ".decoded.wav"}};
        for (const auto &[from, to] : files) {
            if (access(from.c_str(), F_OK) != 0) continue;
            if (!evaluator::CopyFile(ui, from, to)) {
                problems.push_back("could not keep " + to);
                ok = false;
            }
        }
    }
    return ok;
}

} // namespace vntr::cli
