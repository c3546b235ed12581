// The registration table walker shared by every codec library: writes the
// library's key records into the registry and removes them again.
#include <vntr/codec_api.h>
#include <vntr/platform/paths.hpp>
#include <vntr/platform/registry.hpp>
#include <vntr/registration.hpp>

#include <cctype>
#include <string>
#include <string_view>

namespace vntr::registration {
namespace {

using platform::Hive;
using platform::RegKey;
using platform::RegKeyInfo;
using platform::RegStatus;

constexpr std::string_view kWinDir = "<WinDir>";
// The system root must fit the 1024-character buffer it is read into.
constexpr std::size_t kRootBuffer = 1024;

Hive HiveOf(Root root) {
    return root == Root::LocalMachine ? Hive::LocalMachine : Hive::CurrentUser;
}

bool StartsWithWinDir(std::string_view data) {
    if (data.size() < kWinDir.size()) return false;
    for (std::size_t i = 0; i < kWinDir.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(data[i])) != std::tolower(static_cast<unsigned char>(kWinDir[i]))) {
            return false;
        }
    }
    return true;
}

// Expands a leading "<WinDir>"; false when the system root is unknown.
bool Expand(const char *data, std::string &out) {
    out = data != nullptr ? data : "";
    if (!StartsWithWinDir(out)) return true;
    const auto root = platform::SystemRoot();
    if (!root || root->size() >= kRootBuffer) return false;
    out = *root + out.substr(kWinDir.size());
    return true;
}

// Removes empty keys upward from `path` (whose last part is not a key).
void RemoveEmptyKeysUpward(Hive hive, std::string path) {
    while (true) {
        const std::size_t cut = path.rfind('\\');
        if (cut == std::string::npos || cut == 0) return;
        path.resize(cut);
        RegKey key;
        if (RegKey::Open(hive, path, key) != RegStatus::Ok) return;
        RegKeyInfo info;
        const RegStatus queried = key.QueryInfo(info);
        const RegStatus closed = key.Close();
        if (queried != RegStatus::Ok || closed != RegStatus::Ok) return;
        if (info.subKeys != 0 || info.values != 0) return;
        if (platform::RegDeleteKey(hive, path) != RegStatus::Ok) return;
    }
}

} // namespace

int32_t Register(std::span<const KeyRecord> records) {
    bool failed = false;
    for (const KeyRecord &record : records) {
        RegKey key;
        if (RegKey::Create(HiveOf(record.root), record.subkey, key) != RegStatus::Ok) failed = true;
        // Once anything failed, no further value of any record is written.
        for (const Value &value : record.values) {
            if (failed) break;
            std::string data;
            if (!Expand(value.data, data)) {
                failed = true;
                break;
            }
            if (key.SetValue(value.name, data) != RegStatus::Ok) failed = true;
        }
        if (key.Close() != RegStatus::Ok) failed = true;
    }
    return failed ? CODEC_REG_E_FAIL : CODEC_REG_OK;
}

int32_t Unregister(std::span<const KeyRecord> records) {
    for (const KeyRecord &record : records) {
        const Hive hive = HiveOf(record.root);
        RegKey key;
        if (RegKey::Open(hive, record.subkey, key) == RegStatus::Ok) {
            for (const Value &value : record.values) key.DeleteValue(value.name);
            key.Close();
        }
        const char *last = record.values.empty() ? "" : record.values.back().name;
        RemoveEmptyKeysUpward(hive, std::string(record.subkey) + '\\' + last);
    }
    return CODEC_REG_OK;
}

} // namespace vntr::registration
