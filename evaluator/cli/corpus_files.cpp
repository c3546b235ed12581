#include "cli/corpus_files.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

namespace vntr::cli {
namespace {

namespace fs = std::filesystem;

bool IsWaveName(const std::string &name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".wav";
}

std::string WithoutExtension(const std::string &name) { return IsWaveName(name) ? name.substr(0, name.size() - 4) : name; }

std::string FileNameOf(const std::string &path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

} // namespace

OriginalList CollectOriginals(const std::vector<std::string> &arguments) {
    OriginalList list;
    std::set<std::pair<dev_t, ino_t>> seen;
    std::set<std::string> keepFolders;
    auto add = [&](const std::string &path, const std::string &name) {
        struct stat st{};
        if (stat(path.c_str(), &st) == 0) {
            if (!seen.insert({st.st_dev, st.st_ino}).second) return;
        }
        Original original{path, name, WithoutExtension(name)};
        const std::string base = original.keepFolder;
        for (int n = 2; !keepFolders.insert(original.keepFolder).second; ++n) {
            original.keepFolder = base + "~" + std::to_string(n);
        }
        list.originals.push_back(std::move(original));
    };
    for (const auto &argument : arguments) {
        std::error_code ec;
        if (!fs::is_directory(argument, ec)) {
            add(argument, FileNameOf(argument));
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(argument, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            list.problems.push_back("cannot read folder " + argument + ": " + ec.message());
            continue;
        }
        for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
            if (ec) {
                list.problems.push_back("cannot read folder " + argument + ": " + ec.message());
                break;
            }
            std::error_code kind;
            if (it->is_regular_file(kind) && IsWaveName(it->path().filename().string())) {
                found.push_back(it->path().lexically_relative(argument).generic_string());
            }
        }
        std::sort(found.begin(), found.end());
        if (found.empty()) list.problems.push_back("no wave files in folder " + argument);
        std::string prefix = argument;
        if (prefix.back() != '/') prefix += '/';
        for (const auto &relative : found) add(prefix + relative, relative);
    }
    return list;
}

} // namespace vntr::cli
