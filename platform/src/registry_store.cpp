#include <vntr/platform/paths.hpp>
#include <vntr/platform/registry_store.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace vntr::platform::hive {
namespace {

constexpr std::string_view kMagic = "VNTR-REGISTRY-HIVE 1";
// A hive is a few kilobytes; anything much larger is not one of ours.
constexpr off_t kMaxHiveBytes = 64 << 20;

unsigned char Lower(unsigned char c) { return static_cast<unsigned char>(std::tolower(c)); }

void Escape(std::string &out, std::string_view text, bool escapeEquals) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7E || c == '%' || (escapeEquals && c == '=')) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(std::string_view text, std::string &out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int hi = HexDigit(text[i + 1]);
        const int lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

void SerializeNode(const Node &node, const std::string &path, std::string &out, std::size_t &keys,
                   std::size_t &values) {
    if (!path.empty() || !node.values.empty()) {
        out += "key ";
        Escape(out, path, false);
        out += '\n';
        if (!path.empty()) ++keys;
    }
    for (const auto &[name, data] : node.values) {
        out += "value ";
        Escape(out, name, true);
        out += '=';
        Escape(out, data, false);
        out += '\n';
        ++values;
    }
    for (const auto &[_, child] : node.children) {
        SerializeNode(*child, path.empty() ? child->name : path + '\\' + child->name, out, keys, values);
    }
}

std::string ErrnoText(const std::string &what, const std::string &file) {
    return file + ": " + what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Holds the exclusive lock of a hive for its lifetime.  The lock lives on a
// separate file so that renaming a new hive into place does not drop it.
class HiveLock {
public:
    explicit HiveLock(const std::string &file) {
        fd_ = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) return;
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~HiveLock() {
        if (fd_ >= 0) close(fd_); // closing releases the lock
    }
    HiveLock(const HiveLock &) = delete;
    HiveLock &operator=(const HiveLock &) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace

bool CaseLess::operator()(const std::string &a, const std::string &b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Lower(static_cast<unsigned char>(a[i]));
        const unsigned char y = Lower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

Node *Node::Child(std::string_view childName) const {
    const auto it = children.find(std::string(childName));
    return it == children.end() ? nullptr : it->second.get();
}

std::pair<std::string, std::string> *Node::Value(std::string_view valueName) {
    for (auto &value : values) {
        if (EqualNoCase(value.first, valueName)) return &value;
    }
    return nullptr;
}

bool SplitPath(std::string_view path, std::vector<std::string> &names) {
    names.clear();
    if (path.empty()) return true;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (name.empty()) return false;
        names.emplace_back(name);
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

Node *Find(Node &root, std::string_view path) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return nullptr;
    Node *node = &root;
    for (const auto &name : names) {
        node = node->Child(name);
        if (node == nullptr) return nullptr;
    }
    return node;
}

std::string Serialize(const Node &root) {
    std::string out(kMagic);
    out += '\n';
    std::size_t keys = 0;
    std::size_t values = 0;
    SerializeNode(root, "", out, keys, values);
    out += "end " + std::to_string(keys) + ' ' + std::to_string(values) + '\n';
    return out;
}

bool Parse(std::string_view text, Node &root, std::string &error) {
    root = Node{};
    std::size_t lineNumber = 0;
    std::size_t keys = 0;
    std::size_t values = 0;
    Node *current = nullptr;
    bool ended = false;
    auto fail = [&](const std::string &why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        root = Node{};
        return false;
    };
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        if (newline == std::string_view::npos) return fail("last line is cut short");
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline + 1);
        if (lineNumber == 1) {
            if (line != kMagic) return fail("not a registry hive (bad first line)");
            continue;
        }
        if (ended) return fail("text after the closing line");
        if (line.starts_with("key ")) {
            std::string path;
            if (!Unescape(line.substr(4), path)) return fail("bad escape in key path");
            std::vector<std::string> names;
            if (!SplitPath(path, names)) return fail("empty key name in path");
            Node *node = &root;
            bool created = false;
            for (const auto &name : names) {
                Node *child = node->Child(name);
                if (child == nullptr) {
                    auto fresh = std::make_unique<Node>();
                    fresh->name = name;
                    child = fresh.get();
                    node->children.emplace(name, std::move(fresh));
                    created = true;
                }
                node = child;
            }
            if (!names.empty() && !created) return fail("key listed twice");
            if (!names.empty()) ++keys;
            current = node;
        } else if (line.starts_with("value ")) {
            if (current == nullptr) return fail("value outside a key");
            const std::string_view body = line.substr(6);
            const std::size_t equals = body.find('=');
            if (equals == std::string_view::npos) return fail("value without '='");
            std::string name;
            std::string data;
            if (!Unescape(body.substr(0, equals), name) || !Unescape(body.substr(equals + 1), data)) {
                return fail("bad escape in value");
            }
            if (current->Value(name) != nullptr) return fail("value listed twice");
            current->values.emplace_back(std::move(name), std::move(data));
            ++values;
        } else if (line.starts_with("end ")) {
            if (line.substr(4) != std::to_string(keys) + ' ' + std::to_string(values)) {
                return fail("closing line does not match the number of keys and values");
            }
            ended = true;
        } else {
            return fail("unknown line");
        }
    }
    if (lineNumber == 0) return fail("empty file");
    if (!ended) return fail("closing line missing (file cut short)");
    return true;
}

RegStatus Load(const std::string &file, Node &root, std::string &error) {
    root = Node{};
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return RegStatus::Ok;
        error = ErrnoText("cannot open registry hive", file);
        return RegStatus::IoError;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = file + ": registry hive is not a regular file";
        return RegStatus::IoError;
    }
    if (st.st_size > kMaxHiveBytes) {
        close(fd);
        error = file + ": registry hive is damaged (too large)";
        return RegStatus::Damaged;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = ErrnoText("cannot read registry hive", file);
            close(fd);
            return RegStatus::IoError;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    text.resize(got);
    std::string why;
    if (!Parse(text, root, why)) {
        error = file + ": registry hive is damaged: " + why;
        return RegStatus::Damaged;
    }
    return RegStatus::Ok;
}

RegStatus Update(const std::string &file, const std::function<RegStatus(Node &)> &change, std::string &error) {
    const std::string dir = DirectoryOf(file);
    if (!MakeDirectories(dir)) {
        error = ErrnoText("cannot create the folder of registry hive", file);
        return RegStatus::IoError;
    }
    HiveLock lock(file);
    if (!lock.Held()) {
        error = ErrnoText("cannot lock registry hive", file);
        return RegStatus::IoError;
    }
    Node root;
    if (const RegStatus loaded = Load(file, root, error); loaded != RegStatus::Ok) return loaded;
    if (const RegStatus changed = change(root); changed != RegStatus::Ok) return changed;

    const std::string text = Serialize(root);
    const std::string temp = file + ".new";
    struct stat old{};
    const mode_t mode = stat(file.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = ErrnoText("cannot write registry hive", temp);
        return RegStatus::IoError;
    }
    if (!WriteAll(fd, text) || fsync(fd) != 0) {
        error = ErrnoText("cannot write registry hive", temp);
        close(fd);
        unlink(temp.c_str());
        return RegStatus::IoError;
    }
    if (close(fd) != 0 || rename(temp.c_str(), file.c_str()) != 0) {
        error = ErrnoText("cannot replace registry hive", file);
        unlink(temp.c_str());
        return RegStatus::IoError;
    }
    // Make the rename itself durable.
    if (const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return RegStatus::Ok;
}

} // namespace vntr::platform::hive
