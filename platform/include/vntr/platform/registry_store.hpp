// The hive file behind the registry: an in-memory tree, its text form, the
// parsed hive kept per file and the locked, atomic update of the file.  Used
// by registry.cpp; public for tests.
//
// Text form, one item per line:
//   VNTR-REGISTRY-HIVE 1
//   key SOFTWARE\Vantre\QBL SDK\VT48
//   value Description=Veltrane(TM)48 Vocoder
//   end <number of keys> <number of values>
// Bytes outside printable ASCII, '%' and (in value names) '=' are written as
// %XX.  The closing line catches a file cut short.
//
// Nothing here recurses: a tree of any depth is built, written, compared and
// freed with loops, and the reader refuses keys deeper than kMaxKeyDepth.
#pragma once

#include <vntr/platform/registry.hpp>

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vntr::platform::hive {

// Deepest key a hive may hold, in names from the root: a key line naming a
// deeper key is damage, and a deeper key is never created.
constexpr std::size_t kMaxKeyDepth = 512;
// Largest hive file that is read; a tree whose text would be larger is never
// written.
constexpr std::size_t kMaxHiveBytes = 64u << 20;

struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const;
};
bool EqualNoCase(std::string_view a, std::string_view b);

struct Node {
    Node() = default;
    // Frees the subtree with a loop, whatever its depth.
    ~Node();
    Node(Node &&) noexcept = default;
    Node &operator=(Node &&other) noexcept;
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    std::string name;
    std::vector<std::pair<std::string, std::string>> values; // in the order first set
    std::map<std::string, std::unique_ptr<Node>, CaseLess> children;

    Node *Child(std::string_view childName) const;
    std::pair<std::string, std::string> *Value(std::string_view valueName);
    const std::pair<std::string, std::string> *Value(std::string_view valueName) const;
};

// Splits "A\B\C" into its names; false for an empty name inside the path.
bool SplitPath(std::string_view path, std::vector<std::string> &names);
// Follows a path from `root`; nullptr when a key is missing.
Node *Find(const Node &root, std::string_view path);

// The text of a tree; false (and `out` cleared) when it would be longer than
// `limit` bytes.
bool Serialize(const Node &root, std::string &out, std::size_t limit = kMaxHiveBytes);
// Parses a hive text; on failure `error` says which line and why.
bool Parse(std::string_view text, Node &root, std::string &error);
// Same keys (names compared exactly), same values in the same order.
bool Equal(const Node &a, const Node &b);

// Reads a hive file.  A missing file is an empty hive.  Damaged or IoError
// with `error` filled otherwise.
RegStatus Load(const std::string &file, Node &root, std::string &error);

// What identifies the contents of a file without reading it.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileStamp &other) const;
};

// One hive file kept parsed in memory.  The file is read when first used and
// again only when its stamp (device, inode, size, modification and change
// times) differs from the one it was read with.  A file modified less than a
// second before it was read could change again within the same tick of the
// file system's clock and keep its stamp, so until it is older its bytes are
// read again at each use and compared (by hash) with those parsed.
// Thread-safe.
class Store {
public:
    explicit Store(std::string file);
    const std::string &File() const { return file_; }

    // Runs `read` on the tree as the file holds it now; the status of reading
    // the file when that fails.
    RegStatus Read(const std::function<RegStatus(const Node &)> &read);
    // Locked read-modify-write: under the hive's lock, the tree as the file
    // holds it is given to `change`, which sets `changed` when it altered it.
    // Only then, and only when `change` returned Ok, is the file written: to
    // a new file beside it, flushed and renamed over it.  A tree whose text
    // would exceed kMaxHiveBytes is not written (IoError).
    RegStatus Update(const std::function<RegStatus(Node &, bool &changed)> &change, std::string &error);
    // Times the file was read and parsed (for tests and benchmarks).
    std::size_t Reads() const;

private:
    RegStatus Refresh();
    void Forget();

    mutable std::mutex mutex_;
    const std::string file_;
    bool loaded_ = false;
    RegStatus status_ = RegStatus::Ok;
    std::string error_;
    Node root_;
    FileStamp stamp_;
    bool racy_ = false;
    std::size_t hash_ = 0;
    std::size_t reads_ = 0;
};

} // namespace vntr::platform::hive
