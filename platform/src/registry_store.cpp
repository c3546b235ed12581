#include <vntr/platform/paths.hpp>
#include <vntr/platform/registry_store.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vntr::platform::hive {
namespace {

constexpr std::string_view kMagic = "VNTR-REGISTRY-HIVE 1";
// A file modified less than this before it was read may change again without
// a new stamp (the file system's clock ticks coarsely).
constexpr std::int64_t kRacyNanoseconds = 1'000'000'000;

// Names fold ASCII letters only, the same whatever the program's locale
// (and without a library call per character: a big hive compares millions).
constexpr unsigned char Lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

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

std::int64_t Nanoseconds(const timespec &t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

timespec Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

FileStamp StampOf(const struct stat &st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    stamp.changed = st.st_ctim;
    return stamp;
}

bool IsRacy(const FileStamp &stamp, const timespec &readAt) {
    return stamp.exists && Nanoseconds(readAt) - Nanoseconds(stamp.modified) < kRacyNanoseconds;
}

// Reads a hive file's bytes.  A missing file reads as nothing (stamp.exists
// false).  The file is opened without blocking and must be a regular file,
// so that a named pipe or a device in its place is refused, not waited on.
RegStatus ReadHiveText(const std::string &file, std::string &text, FileStamp &stamp, std::string &error) {
    text.clear();
    stamp = FileStamp{};
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return RegStatus::Ok;
        error = ErrnoText("cannot open registry hive", file);
        return RegStatus::IoError;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = file + ": registry hive is not a regular file";
        return RegStatus::IoError;
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxHiveBytes) {
        close(fd);
        error = file + ": registry hive is damaged (too large)";
        return RegStatus::Damaged;
    }
    stamp = StampOf(st);
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = ErrnoText("cannot read registry hive", file);
            close(fd);
            text.clear();
            return RegStatus::IoError;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    text.resize(got);
    return RegStatus::Ok;
}

std::size_t HashOf(std::string_view text) {
    return std::hash<std::string_view>{}(text);
}

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

Node::~Node() {
    // Each subtree is taken apart one level at a time: a node is destroyed
    // only once its children have been moved onto the work list.
    std::vector<std::unique_ptr<Node>> pending;
    for (auto &entry : children) pending.push_back(std::move(entry.second));
    children.clear();
    while (!pending.empty()) {
        std::unique_ptr<Node> node = std::move(pending.back());
        pending.pop_back();
        for (auto &entry : node->children) pending.push_back(std::move(entry.second));
        node->children.clear();
    }
}

Node &Node::operator=(Node &&other) noexcept {
    if (this == &other) return *this;
    // The old contents go to a local node, whose destructor frees them
    // without recursion.
    Node taken(std::move(other));
    name.swap(taken.name);
    values.swap(taken.values);
    children.swap(taken.children);
    return *this;
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

const std::pair<std::string, std::string> *Node::Value(std::string_view valueName) const {
    for (const auto &value : values) {
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

Node *Find(const Node &root, std::string_view path) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return nullptr;
    Node *node = const_cast<Node *>(&root);
    for (const auto &name : names) {
        node = node->Child(name);
        if (node == nullptr) return nullptr;
    }
    return node;
}

bool Serialize(const Node &root, std::string &out, std::size_t limit) {
    out.assign(kMagic);
    out += '\n';
    std::size_t keys = 0;
    std::size_t values = 0;
    std::string path;
    // Writes one key's lines; false once the text is over the limit.
    auto put = [&](const Node &node) {
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
            if (out.size() > limit) return false;
        }
        return out.size() <= limit;
    };
    // Depth first, parents before children, children in name order.
    struct Frame {
        const Node *node;
        std::map<std::string, std::unique_ptr<Node>, CaseLess>::const_iterator next;
        std::size_t pathSize; // length of the path before this node's name
    };
    std::vector<Frame> stack;
    bool fits = put(root);
    if (fits) stack.push_back({&root, root.children.begin(), 0});
    while (fits && !stack.empty()) {
        Frame &top = stack.back();
        if (top.next == top.node->children.end()) {
            path.resize(top.pathSize);
            stack.pop_back();
            continue;
        }
        const Node &child = *top.next->second;
        ++top.next;
        const std::size_t before = path.size();
        if (!path.empty()) path += '\\';
        path += child.name;
        fits = put(child);
        stack.push_back({&child, child.children.begin(), before});
    }
    if (fits) {
        out += "end " + std::to_string(keys) + ' ' + std::to_string(values) + '\n';
        fits = out.size() <= limit;
    }
    if (!fits) out.clear();
    return fits;
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
            // Escapes never hide a separator, so the depth is known before
            // the path is taken apart.
            const std::string_view escaped = line.substr(4);
            if (static_cast<std::size_t>(std::count(escaped.begin(), escaped.end(), '\\')) >= kMaxKeyDepth) {
                return fail("key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
            }
            std::string path;
            if (!Unescape(escaped, path)) return fail("bad escape in key path");
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

bool Equal(const Node &a, const Node &b) {
    std::vector<std::pair<const Node *, const Node *>> pending{{&a, &b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (x->name != y->name || x->values != y->values || x->children.size() != y->children.size()) return false;
        auto i = x->children.begin();
        auto j = y->children.begin();
        for (; i != x->children.end(); ++i, ++j) {
            if (i->first != j->first) return false;
            pending.emplace_back(i->second.get(), j->second.get());
        }
    }
    return true;
}

RegStatus Load(const std::string &file, Node &root, std::string &error) {
    root = Node{};
    std::string text;
    FileStamp stamp;
    if (const RegStatus read = ReadHiveText(file, text, stamp, error); read != RegStatus::Ok) return read;
    if (!stamp.exists) return RegStatus::Ok;
    std::string why;
    if (!Parse(text, root, why)) {
        error = file + ": registry hive is damaged: " + why;
        return RegStatus::Damaged;
    }
    return RegStatus::Ok;
}

bool FileStamp::operator==(const FileStamp &other) const {
    if (exists != other.exists) return false;
    if (!exists) return true;
    return device == other.device && inode == other.inode && size == other.size &&
           Nanoseconds(modified) == Nanoseconds(other.modified) && Nanoseconds(changed) == Nanoseconds(other.changed);
}

Store::Store(std::string file) : file_(std::move(file)) {}

std::size_t Store::Reads() const {
    const std::lock_guard<std::mutex> hold(mutex_);
    return reads_;
}

void Store::Forget() {
    loaded_ = false;
    racy_ = false;
    root_ = Node{};
}

RegStatus Store::Refresh() {
    if (loaded_ && !racy_) {
        struct stat st {};
        FileStamp now;
        if (stat(file_.c_str(), &st) == 0) {
            now = StampOf(st);
        } else if (errno != ENOENT) {
            now.exists = true; // cannot tell: read it again
            now.inode = 0;
            now.size = -1;
        }
        if (now == stamp_) return status_;
    }
    const timespec readAt = Now();
    std::string text;
    FileStamp stamp;
    std::string error;
    const RegStatus read = ReadHiveText(file_, text, stamp, error);
    if (read != RegStatus::Ok) {
        // Not cached: the next use tries again.
        Forget();
        status_ = read;
        error_ = error;
        return read;
    }
    const std::size_t hash = HashOf(text);
    if (loaded_ && stamp == stamp_ && hash == hash_) {
        racy_ = IsRacy(stamp, readAt);
        return status_;
    }
    ++reads_;
    Node fresh;
    std::string why;
    if (!stamp.exists) {
        status_ = RegStatus::Ok;
        error_.clear();
    } else if (Parse(text, fresh, why)) {
        status_ = RegStatus::Ok;
        error_.clear();
    } else {
        status_ = RegStatus::Damaged;
        error_ = file_ + ": registry hive is damaged: " + why;
    }
    root_ = std::move(fresh);
    stamp_ = stamp;
    hash_ = hash;
    racy_ = IsRacy(stamp, readAt);
    loaded_ = true;
    return status_;
}

RegStatus Store::Read(const std::function<RegStatus(const Node &)> &read) {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (const RegStatus status = Refresh(); status != RegStatus::Ok) return status;
    return read(root_);
}

RegStatus Store::Update(const std::function<RegStatus(Node &, bool &)> &change, std::string &error) {
    const std::lock_guard<std::mutex> hold(mutex_);
    const std::string dir = DirectoryOf(file_);
    if (!MakeDirectories(dir)) {
        error = ErrnoText("cannot create the folder of registry hive", file_);
        return RegStatus::IoError;
    }
    HiveLock lock(file_);
    if (!lock.Held()) {
        error = ErrnoText("cannot lock registry hive", file_);
        return RegStatus::IoError;
    }
    // Under the lock the file is as the last writer left it.
    if (const RegStatus status = Refresh(); status != RegStatus::Ok) {
        error = error_;
        return status;
    }
    bool changed = false;
    const RegStatus result = change(root_, changed);
    if (result != RegStatus::Ok || !changed) {
        if (changed) Forget();
        return result;
    }
    // From here on the tree differs from the file until the new file is in place.
    std::string text;
    if (!Serialize(root_, text)) {
        Forget();
        error = file_ + ": registry hive would be too large (over " + std::to_string(kMaxHiveBytes) + " bytes)";
        return RegStatus::IoError;
    }
    const std::string temp = file_ + ".new";
    struct stat old {};
    const mode_t mode = stat(file_.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        Forget();
        error = ErrnoText("cannot write registry hive", temp);
        return RegStatus::IoError;
    }
    if (!WriteAll(fd, text) || fsync(fd) != 0) {
        Forget();
        error = ErrnoText("cannot write registry hive", temp);
        close(fd);
        unlink(temp.c_str());
        return RegStatus::IoError;
    }
    if (close(fd) != 0 || rename(temp.c_str(), file_.c_str()) != 0) {
        Forget();
        error = ErrnoText("cannot replace registry hive", file_);
        unlink(temp.c_str());
        return RegStatus::IoError;
    }
    // Make the rename itself durable.
    if (const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    // The tree is what the file now holds.
    struct stat st {};
    if (stat(file_.c_str(), &st) != 0) {
        Forget();
        return RegStatus::Ok;
    }
    stamp_ = StampOf(st);
    hash_ = HashOf(text);
    racy_ = true;
    status_ = RegStatus::Ok;
    error_.clear();
    return RegStatus::Ok;
}

} // namespace vntr::platform::hive
