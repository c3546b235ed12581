#include "cli/corpus_files.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace vntr::cli {
namespace {

using FileId = std::pair<dev_t, ino_t>;

bool IsWaveName(const std::string &name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".wav";
}

std::string WithoutExtension(const std::string &name) {
    return IsWaveName(name) ? name.substr(0, name.size() - 4) : name;
}

std::string FileNameOf(const std::string &path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string Joined(const std::string &folder, const std::string &name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Every "*.wav" below `root` by its path inside it, unsorted.  Folders
// reached through symbolic links are searched too, each folder once (the
// first path to reach it in sorted order names its files), so that a link
// back up the tree ends there.  A folder that cannot be read, or an entry
// that cannot be looked at, is named in `problems`.
std::vector<std::string> SearchFolder(const std::string &root, std::vector<std::string> &problems) {
    std::vector<std::string> found;
    std::set<FileId> searched;
    struct stat st {};
    if (stat(root.c_str(), &st) == 0) searched.insert({st.st_dev, st.st_ino});
    // Folders still to search, by path inside `root`; the next one last.
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string inside = std::move(pending.back());
        pending.pop_back();
        const std::string folder = inside.empty() ? root : Joined(root, inside);
        DIR *dir = opendir(folder.c_str());
        if (dir == nullptr) {
            problems.push_back("cannot read folder " + folder + ": " + std::strerror(errno));
            continue;
        }
        std::vector<std::string> subfolders;
        for (;;) {
            errno = 0;
            const dirent *entry = readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) problems.push_back("cannot read folder " + folder + ": " + std::strerror(errno));
                break;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = Joined(folder, name);
            const std::string relative = inside.empty() ? name : inside + "/" + name;
            if (stat(path.c_str(), &st) != 0) {
                // A link to nothing is only worth naming where an original was meant.
                if (errno != ENOENT || IsWaveName(name)) {
                    problems.push_back("cannot read " + path + ": " + std::strerror(errno));
                }
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                if (searched.insert({st.st_dev, st.st_ino}).second) subfolders.push_back(relative);
            } else if (S_ISREG(st.st_mode) && IsWaveName(name)) {
                found.push_back(relative);
            }
        }
        closedir(dir);
        std::sort(subfolders.rbegin(), subfolders.rend());
        for (auto &subfolder : subfolders) pending.push_back(std::move(subfolder));
    }
    return found;
}

} // namespace

std::string KeepFolderName(const std::string &name) {
    std::string folder = WithoutExtension(name);
    std::replace(folder.begin(), folder.end(), '/', '_');
    // Room for a "~N" within the longest name a folder may have, cut where
    // no UTF-8 sequence is split.
    constexpr std::size_t kLongest = 200;
    if (folder.size() > kLongest) {
        std::size_t cut = kLongest;
        while (cut > 0 && (static_cast<unsigned char>(folder[cut]) & 0xC0u) == 0x80u) --cut;
        folder.resize(cut);
    }
    if (folder.empty() || folder == "." || folder == "..") folder = "_" + folder;
    return folder;
}

OriginalList CollectOriginals(const std::vector<std::string> &arguments) {
    OriginalList list;
    std::set<FileId> seen;
    std::set<std::string> keepFolders;
    auto add = [&](const std::string &path, const std::string &name) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) {
            if (!seen.insert({st.st_dev, st.st_ino}).second) return;
        }
        Original original{path, name, KeepFolderName(name)};
        const std::string base = original.keepFolder;
        for (int n = 2; !keepFolders.insert(original.keepFolder).second; ++n) {
            original.keepFolder = base + "~" + std::to_string(n);
        }
        list.originals.push_back(std::move(original));
    };
    for (const auto &argument : arguments) {
        struct stat st {};
        if (stat(argument.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            add(argument, FileNameOf(argument));
            continue;
        }
        const std::size_t problems = list.problems.size();
        std::vector<std::string> found = SearchFolder(argument, list.problems);
        std::sort(found.begin(), found.end());
        if (found.empty() && list.problems.size() == problems)
            list.problems.push_back("no wave files in folder " + argument);
        for (const auto &relative : found) add(Joined(argument, relative), relative);
    }
    return list;
}

} // namespace vntr::cli
