// The registry: a persistent hierarchical store of keys and string values in
// two hives, the machine hive and the current user's hive, one file each.
//
// Key paths use backslashes between key names ("SOFTWARE\Vantre\QBL SDK");
// key and value names compare without regard to case and keep the case they
// were created with.  Subkeys enumerate in name order, values in the order
// they were first set.  A key lies at most 512 names below its hive's root.
//
// A hive file is read and parsed once and kept in memory for the key that
// opened it and every key opened from that one (and, through a HiveCache, for
// every key a program opens); it is read again only when the file changed on
// disk.  Every change is a locked read-modify-write of the hive file: the
// writer takes an exclusive lock, brings its tree up to date with the file,
// applies its change and, only when that altered something, writes a new file
// beside it, flushes it to disk and renames it over the old one.  Two writers
// never lose each other's changes and a writer that dies half-way leaves the
// previous file intact.  A hive file that cannot be parsed is never
// overwritten: every operation on it reports `Damaged`, and DiagnoseHive()
// says what is wrong and where.  A hive whose text would be too large to be
// read back is never written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vntr::platform {

namespace hive {
class Store;
}

enum class Hive : uint8_t { LocalMachine, CurrentUser };

// Results, numbered like the desktop system's error codes so that traces read
// the same.
enum class RegStatus : int32_t {
    Ok = 0,
    NotFound = 2,         // key or value does not exist
    AccessDenied = 5,     // e.g. deleting a key that still has subkeys
    InvalidHandle = 6,    // operation on a closed key
    InvalidArgument = 87, // empty or malformed name
    MoreData = 234,       // name or data longer than the caller's buffer
    NoMoreItems = 259,    // enumeration index past the end
    Damaged = 1009,       // hive file cannot be parsed
    IoError = 1016,       // hive file cannot be read, written or locked
    KeyDeleted = 1018,    // the key went away while it was open
};

const char *RegStatusText(RegStatus status);

struct RegKeyInfo {
    uint32_t subKeys = 0;
    uint32_t values = 0;
    uint32_t maxSubKeyLength = 0;
    uint32_t maxValueNameLength = 0;
    uint32_t maxValueDataLength = 0;
};

// The file that holds a hive (see paths.hpp for how it is chosen).
std::optional<std::string> HiveFile(Hive hive);

// One value to write with RegKey::SetValues: `subKey` below the key (empty:
// the key itself), created when missing.
struct RegValueWrite {
    std::string subKey;
    std::string name;
    std::string data;
};

// An open key: a hive and a path in it.  Every operation sees the hive file
// as it is now, so a key sees what other processes wrote since it was opened.
class RegKey {
public:
    RegKey() = default;

    // Opens an existing key (the empty path is the hive's root), reading the
    // hive file for this key and the keys opened from it.
    static RegStatus Open(Hive hive, std::string_view path, RegKey &out);
    // Opens a key, creating it and any missing parents (deeper than 512
    // names: InvalidArgument).
    static RegStatus Create(Hive hive, std::string_view path, RegKey &out);
    // The same on a hive file named directly (tests, tools).
    static RegStatus OpenFile(const std::string &hiveFile, std::string_view path, RegKey &out);
    static RegStatus CreateFile(const std::string &hiveFile, std::string_view path, RegKey &out);

    // Keys below this one share its hive in memory.
    RegStatus OpenSubKey(std::string_view subPath, RegKey &out) const;
    RegStatus CreateSubKey(std::string_view subPath, RegKey &out) const;

    // Name of the subkey at `index` in name order.  A name that does not fit a
    // buffer of `bufferChars` characters including its terminating zero gives
    // MoreData.
    RegStatus EnumKey(uint32_t index, std::string &name, std::size_t bufferChars = SIZE_MAX) const;
    RegStatus EnumValue(uint32_t index, std::string &name, std::string &data) const;
    // Reads a value; data that does not fit `bufferBytes` with its zero gives MoreData.
    RegStatus QueryValue(std::string_view name, std::string &data, std::size_t bufferBytes = SIZE_MAX) const;
    // Sets a value; the hive file is written only when the data differs.
    RegStatus SetValue(std::string_view name, std::string_view data);
    // Sets all these values, creating their subkeys, in one locked, atomic
    // write of the hive file, or none when every value already holds its
    // data.  InvalidArgument (and nothing written) for a bad subkey path.
    RegStatus SetValues(std::span<const RegValueWrite> writes);
    RegStatus DeleteValue(std::string_view name);
    RegStatus QueryInfo(RegKeyInfo &info) const;
    // Deletes the subkey `subPath` below this key, which must have no subkeys itself.
    RegStatus DeleteSubKey(std::string_view subPath) const;

    RegStatus Close();
    bool IsOpen() const { return open_; }
    const std::string &File() const;
    const std::string &Path() const { return path_; }

private:
    friend class HiveCache;
    static RegStatus OpenIn(std::shared_ptr<hive::Store> store, std::string path, RegKey &out);
    static RegStatus CreateIn(std::shared_ptr<hive::Store> store, std::string path, RegKey &out);

    std::shared_ptr<hive::Store> store_;
    std::string path_;
    bool open_ = false;
};

// Shares each hive file among all the keys opened through it, so that a
// program reads each hive once (and again only when its file changes on
// disk) however many keys it opens.  A program keeps one for its whole run;
// thread-safe.
class HiveCache {
public:
    HiveCache();
    ~HiveCache();
    HiveCache(const HiveCache &) = delete;
    HiveCache &operator=(const HiveCache &) = delete;

    RegStatus Open(Hive hive, std::string_view path, RegKey &out);
    RegStatus Create(Hive hive, std::string_view path, RegKey &out);
    RegStatus OpenFile(const std::string &hiveFile, std::string_view path, RegKey &out);
    RegStatus CreateFile(const std::string &hiveFile, std::string_view path, RegKey &out);

    // Times the hive file was read and parsed through this cache.
    std::size_t Reads(const std::string &hiveFile);

private:
    std::shared_ptr<hive::Store> StoreOf(const std::string &hiveFile);

    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<hive::Store>> stores_;
};

// Deletes a key with no subkeys (its values go with it).
RegStatus RegDeleteKey(Hive hive, std::string_view path);

// Explains why a hive file cannot be used ("<file>: line 3: value outside a
// key"), or returns an empty text when it can.
std::string DiagnoseHive(Hive hive);
std::string DiagnoseHiveFile(const std::string &hiveFile);

} // namespace vntr::platform
