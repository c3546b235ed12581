// The registry: a persistent hierarchical store of keys and string values in
// two hives, the machine hive and the current user's hive, one file each.
//
// Key paths use backslashes between key names ("SOFTWARE\Vantre\QBL SDK");
// key and value names compare without regard to case and keep the case they
// were created with.  Subkeys enumerate in name order, values in the order
// they were first set.
//
// Every change is a locked read-modify-write of the hive file: the writer
// takes an exclusive lock, reads the file afresh, applies its change, writes
// a new file beside it, flushes it to disk and renames it over the old one.
// Two writers never lose each other's changes and a writer that dies half-way
// leaves the previous file intact.  A hive file that cannot be parsed is never
// overwritten: every operation on it reports `Damaged`, and DiagnoseHive()
// says what is wrong and where.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vntr::platform {

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

// An open key: names a hive file and a path in it.  Every operation reads the
// file afresh, so a key sees what other processes wrote since it was opened.
class RegKey {
public:
    RegKey() = default;

    // Opens an existing key (the empty path is the hive's root).
    static RegStatus Open(Hive hive, std::string_view path, RegKey &out);
    // Opens a key, creating it and any missing parents.
    static RegStatus Create(Hive hive, std::string_view path, RegKey &out);
    // The same on a hive file named directly (tests, tools).
    static RegStatus OpenFile(const std::string &hiveFile, std::string_view path, RegKey &out);
    static RegStatus CreateFile(const std::string &hiveFile, std::string_view path, RegKey &out);

    RegStatus OpenSubKey(std::string_view subPath, RegKey &out) const;
    RegStatus CreateSubKey(std::string_view subPath, RegKey &out) const;

    // Name of the subkey at `index` in name order.  A name that does not fit a
    // buffer of `bufferChars` characters including its terminating zero gives
    // MoreData.
    RegStatus EnumKey(uint32_t index, std::string &name, std::size_t bufferChars = SIZE_MAX) const;
    RegStatus EnumValue(uint32_t index, std::string &name, std::string &data) const;
    // Reads a value; data that does not fit `bufferBytes` with its zero gives MoreData.
    RegStatus QueryValue(std::string_view name, std::string &data, std::size_t bufferBytes = SIZE_MAX) const;
    RegStatus SetValue(std::string_view name, std::string_view data);
    RegStatus DeleteValue(std::string_view name);
    RegStatus QueryInfo(RegKeyInfo &info) const;
    // Deletes the subkey `subPath` below this key, which must have no subkeys itself.
    RegStatus DeleteSubKey(std::string_view subPath) const;

    RegStatus Close();
    bool IsOpen() const { return open_; }
    const std::string &File() const { return file_; }
    const std::string &Path() const { return path_; }

private:
    std::string file_;
    std::string path_;
    bool open_ = false;
};

// Deletes a key with no subkeys (its values go with it).
RegStatus RegDeleteKey(Hive hive, std::string_view path);

// Explains why a hive file cannot be used ("<file>: line 3: value outside a
// key"), or returns an empty text when it can.
std::string DiagnoseHive(Hive hive);
std::string DiagnoseHiveFile(const std::string &hiveFile);

} // namespace vntr::platform
