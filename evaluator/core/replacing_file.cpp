#include "replacing_file.hpp"

#include <vntr/platform/paths.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace vntr::evaluator {
namespace {

std::string TemporaryStem(const std::string &target) {
    return platform::DirectoryOf(target) + "/." + platform::FileNameOf(target) + ".";
}

bool AllDigits(const std::string &text) {
    return !text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == std::string::npos;
}

// The number of the process that wrote ".<name>.<pid>.<n>.tmp", or nothing
// when `entry` is not such a name for `name`.
std::optional<pid_t> WriterOf(const std::string &entry, const std::string &name) {
    const std::string head = "." + name + ".";
    const std::string tail = ".tmp";
    if (entry.size() <= head.size() + tail.size() || entry.compare(0, head.size(), head) != 0 ||
        entry.compare(entry.size() - tail.size(), tail.size(), tail) != 0) {
        return std::nullopt;
    }
    const std::string middle = entry.substr(head.size(), entry.size() - head.size() - tail.size());
    const auto dot = middle.find('.');
    if (dot == std::string::npos || !AllDigits(middle.substr(0, dot)) || !AllDigits(middle.substr(dot + 1))) {
        return std::nullopt;
    }
    const long long pid = std::atoll(middle.substr(0, dot).c_str());
    if (pid <= 0 || pid > INT_MAX) return std::nullopt;
    return static_cast<pid_t>(pid);
}

// When the running process `pid` started, in seconds since the epoch;
// nothing when that cannot be read.
std::optional<double> ProcessStart(pid_t pid) {
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(statFile, line)) return std::nullopt;
    // The command name in parentheses may hold blanks and parentheses; the
    // fields after the last ')' start with the third, the state.
    const auto close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index != 22) continue;
        std::ifstream system("/proc/stat");
        std::string key;
        double bootTime = -1;
        while (system >> key) {
            if (key == "btime") {
                system >> bootTime;
                break;
            }
        }
        const long ticks = sysconf(_SC_CLK_TCK);
        if (bootTime < 0 || ticks <= 0) return std::nullopt;
        return bootTime + std::strtod(field.c_str(), nullptr) / static_cast<double>(ticks);
    }
    return std::nullopt;
}

// True when nothing still writes a temporary file of process `pid` last
// written at `modified` (seconds since the epoch).
bool WriterGone(pid_t pid, double modified) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    // The number is in use: by the writer, or by a process started since
    // (the clock of process starts is read to the second, hence the margin).
    const auto start = ProcessStart(pid);
    return start && *start > modified + 2.0;
}

} // namespace

int RemoveStaleTemporaries(const std::string &destination) {
    const std::string folder = platform::DirectoryOf(destination);
    const std::string name = platform::FileNameOf(destination);
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    int removed = 0;
    while (const dirent *entry = readdir(dir)) {
        const auto pid = WriterOf(entry->d_name, name);
        if (!pid) continue;
        struct stat st {};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid()) {
            continue;
        }
        const double modified = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
        if (WriterGone(*pid, modified) && unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    closedir(dir);
    return removed;
}

ReplacingFile::~ReplacingFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool ReplacingFile::Create(const std::string &destination) {
    struct stat st {};
    const bool exists = stat(destination.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        file_ = std::fopen(destination.c_str(), "wbe");
        return file_ != nullptr;
    }
    target_ = destination;
    if (exists) {
        char resolved[PATH_MAX];
        if (realpath(destination.c_str(), resolved) != nullptr) target_ = resolved;
    }
    RemoveStaleTemporaries(target_);
    const std::string stem = TemporaryStem(target_) + std::to_string(getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = stem + "." + std::to_string(attempt) + ".tmp";
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        temp_ = candidate;
        if (exists) fchmod(fd, st.st_mode & 07777);
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) close(fd);
        return file_ != nullptr;
    }
    return false;
}

bool ReplacingFile::Finish() {
    if (file_ == nullptr) return false;
    bool ok = std::ferror(file_) == 0 && std::fflush(file_) == 0 && (temp_.empty() || fsync(fileno(file_)) == 0);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

bool ReplacingFile::Replace() {
    if (temp_.empty()) return true;
    if (rename(temp_.c_str(), target_.c_str()) != 0) return false;
    temp_.clear();
    return true;
}

} // namespace vntr::evaluator
