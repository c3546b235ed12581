#include "cli/kept_files.hpp"

#include "report/file_result.hpp"

#include <vntr/platform/paths.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace vntr::cli {

void FileSet::Add(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) ids_.insert({st.st_dev, st.st_ino});
}

bool FileSet::Holds(const std::string &path) const {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && ids_.count({st.st_dev, st.st_ino}) != 0;
}

bool KeepFiles(evaluator::Frontend &ui, const evaluator::Evaluator &ev, const std::string &dir,
               const FileSet &originals, std::vector<std::string> &problems) {
    if (!platform::MakeDirectories(dir)) {
        problems.push_back("cannot create " + dir);
        return false;
    }
    bool ok = true;
    for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
        if (!ev.IsSelected(i)) continue;
        const std::string name = ev.Slots()[i].Name();
        std::string row = report::ModeLabel(name, ev.OfferedOptions(i), ev.CodecOptions(i));
        std::replace(row.begin(), row.end(), '/', '_');
        const std::pair<std::string, std::string> files[] = {
            {ev.Temp().Coded(name), dir + "/" + row + ".coded.wav"},
            {ev.Temp().Decoded(name), dir + "/" + row + ".decoded.wav"}};
        for (const auto &[from, to] : files) {
            if (access(from.c_str(), F_OK) != 0) continue;
            if (originals.Holds(to)) {
                problems.push_back("will not keep " + to + ": it is an original of this run");
                ok = false;
            } else if (!evaluator::CopyFile(ui, from, to)) {
                problems.push_back("could not keep " + to);
                ok = false;
            }
        }
    }
    return ok;
}

} // namespace vntr::cli
