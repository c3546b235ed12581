#include <vntr/platform/paths.hpp>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

namespace vntr::platform {
namespace {

std::optional<std::string> Env(const char *name) {
    const char *value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The file of the module this function is compiled into: a codec library
// when the platform layer is linked into one, else the program.
std::optional<std::string> OwnModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&OwnModulePath), &info) != 0 && info.dli_fname != nullptr &&
        EndsWith(info.dli_fname, ".so")) {
        char resolved[PATH_MAX];
        if (realpath(info.dli_fname, resolved) != nullptr) return std::string(resolved);
        return std::string(info.dli_fname);
    }
    return ExecutablePath();
}

} // namespace

std::string DirectoryOf(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::optional<std::string> SystemRootFromModulePath(const std::string &modulePath) {
    const std::string dir = StripTrailingSlashes(DirectoryOf(modulePath));
    if (EndsWith(dir, "/VNTR/QBL")) return dir.size() == 9 ? std::string("/") : dir.substr(0, dir.size() - 9);
    if (EndsWith(dir, "/bin")) return dir.size() == 4 ? std::string("/") : dir.substr(0, dir.size() - 4);
    return std::nullopt;
}

std::optional<std::string> SystemRoot() {
    if (auto root = Env("VNTR_WINDIR")) return StripTrailingSlashes(*root);
    const auto module = OwnModulePath();
    if (!module) return std::nullopt;
    return SystemRootFromModulePath(*module);
}

std::string CodecDirectory(const std::string &root) {
    return root + "/VNTR/QBL";
}

bool MakeDirectories(const std::string &path, bool private_) {
    if (path.empty()) return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), private_ ? 0700 : 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> UserTempDirectory() {
    const std::string base = StripTrailingSlashes(Env("TMPDIR").value_or("/tmp"));
    const std::string dir = base + "/vntr-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    struct stat st {};
    // A folder of that name that another user made is not ours to use.
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return std::nullopt;
    return dir + "/";
}

std::optional<std::string> MachineHivePath() {
    if (auto path = Env("VNTR_MACHINE_HIVE")) return path;
    const auto root = SystemRoot();
    if (!root) return std::nullopt;
    return *root + "/VNTR/registry/machine.hive";
}

std::optional<std::string> UserHivePath() {
    if (auto path = Env("VNTR_USER_HIVE")) return path;
    if (auto config = Env("XDG_CONFIG_HOME")) return StripTrailingSlashes(*config) + "/vtbench32/user.hive";
    if (auto home = Env("HOME")) return StripTrailingSlashes(*home) + "/.config/vtbench32/user.hive";
    return std::nullopt;
}

} // namespace vntr::platform
