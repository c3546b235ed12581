#include <vntr/platform/paths.hpp>
#include <vntr/platform/registry.hpp>
#include <vntr/platform/registry_store.hpp>

#include <algorithm>
#include <iterator>

namespace vntr::platform {
namespace {

std::string JoinPath(const std::string &base, std::string_view sub) {
    if (base.empty()) return std::string(sub);
    if (sub.empty()) return base;
    return base + '\\' + std::string(sub);
}

bool ValidPath(std::string_view path) {
    std::vector<std::string> names;
    return hive::SplitPath(path, names);
}

// Reads the hive and finds the key; NotFound/KeyDeleted when it is gone.
RegStatus LoadKey(const std::string &file, const std::string &path, hive::Node &root, hive::Node *&node,
                  RegStatus missing) {
    std::string error;
    if (const RegStatus status = hive::Load(file, root, error); status != RegStatus::Ok) return status;
    node = hive::Find(root, path);
    return node == nullptr ? missing : RegStatus::Ok;
}

RegStatus CreatePath(hive::Node &root, const std::string &path) {
    std::vector<std::string> names;
    if (!hive::SplitPath(path, names)) return RegStatus::InvalidArgument;
    hive::Node *node = &root;
    for (const auto &name : names) {
        hive::Node *child = node->Child(name);
        if (child == nullptr) {
            auto fresh = std::make_unique<hive::Node>();
            fresh->name = name;
            child = fresh.get();
            node->children.emplace(name, std::move(fresh));
        }
        node = child;
    }
    return RegStatus::Ok;
}

} // namespace

const char *RegStatusText(RegStatus status) {
    switch (status) {
    case RegStatus::Ok: return "success";
    case RegStatus::NotFound: return "no such key or value";
    case RegStatus::AccessDenied: return "access denied (the key still has subkeys)";
    case RegStatus::InvalidHandle: return "the key is not open";
    case RegStatus::InvalidArgument: return "invalid name";
    case RegStatus::MoreData: return "name or data longer than the buffer";
    case RegStatus::NoMoreItems: return "no more items";
    case RegStatus::Damaged: return "the registry hive file is damaged";
    case RegStatus::IoError: return "the registry hive file cannot be read or written";
    case RegStatus::KeyDeleted: return "the key was deleted";
    }
    return "unknown registry error";
}

std::optional<std::string> HiveFile(Hive hive) {
    return hive == Hive::LocalMachine ? MachineHivePath() : UserHivePath();
}

RegStatus RegKey::OpenFile(const std::string &hiveFile, std::string_view path, RegKey &out) {
    out = RegKey{};
    if (!ValidPath(path)) return RegStatus::InvalidArgument;
    hive::Node root;
    hive::Node *node = nullptr;
    if (const RegStatus status = LoadKey(hiveFile, std::string(path), root, node, RegStatus::NotFound);
        status != RegStatus::Ok) {
        return status;
    }
    out.file_ = hiveFile;
    out.path_ = std::string(path);
    out.open_ = true;
    return RegStatus::Ok;
}

RegStatus RegKey::CreateFile(const std::string &hiveFile, std::string_view path, RegKey &out) {
    out = RegKey{};
    if (!ValidPath(path)) return RegStatus::InvalidArgument;
    const std::string fullPath(path);
    // An existing key needs no write (and no write access to the hive).
    hive::Node root;
    hive::Node *node = nullptr;
    RegStatus status = LoadKey(hiveFile, fullPath, root, node, RegStatus::NotFound);
    if (status == RegStatus::NotFound) {
        std::string error;
        status = hive::Update(
            hiveFile, [&](hive::Node &fresh) { return CreatePath(fresh, fullPath); }, error);
    }
    if (status != RegStatus::Ok) return status;
    out.file_ = hiveFile;
    out.path_ = fullPath;
    out.open_ = true;
    return RegStatus::Ok;
}

RegStatus RegKey::Open(Hive hive, std::string_view path, RegKey &out) {
    const auto file = HiveFile(hive);
    if (!file) {
        out = RegKey{};
        return RegStatus::IoError;
    }
    return OpenFile(*file, path, out);
}

RegStatus RegKey::Create(Hive hive, std::string_view path, RegKey &out) {
    const auto file = HiveFile(hive);
    if (!file) {
        out = RegKey{};
        return RegStatus::IoError;
    }
    return CreateFile(*file, path, out);
}

RegStatus RegKey::OpenSubKey(std::string_view subPath, RegKey &out) const {
    if (!open_) return RegStatus::InvalidHandle;
    return OpenFile(file_, JoinPath(path_, subPath), out);
}

RegStatus RegKey::CreateSubKey(std::string_view subPath, RegKey &out) const {
    if (!open_) return RegStatus::InvalidHandle;
    return CreateFile(file_, JoinPath(path_, subPath), out);
}

RegStatus RegKey::EnumKey(uint32_t index, std::string &name, std::size_t bufferChars) const {
    if (!open_) return RegStatus::InvalidHandle;
    hive::Node root;
    hive::Node *node = nullptr;
    if (const RegStatus status = LoadKey(file_, path_, root, node, RegStatus::KeyDeleted); status != RegStatus::Ok) {
        return status;
    }
    if (index >= node->children.size()) return RegStatus::NoMoreItems;
    const auto &child = *std::next(node->children.begin(), index)->second;
    if (child.name.size() >= bufferChars) return RegStatus::MoreData;
    name = child.name;
    return RegStatus::Ok;
}

RegStatus RegKey::EnumValue(uint32_t index, std::string &name, std::string &data) const {
    if (!open_) return RegStatus::InvalidHandle;
    hive::Node root;
    hive::Node *node = nullptr;
    if (const RegStatus status = LoadKey(file_, path_, root, node, RegStatus::KeyDeleted); status != RegStatus::Ok) {
        return status;
    }
    if (index >= node->values.size()) return RegStatus::NoMoreItems;
    name = node->values[index].first;
    data = node->values[index].second;
    return RegStatus::Ok;
}

RegStatus RegKey::QueryValue(std::string_view name, std::string &data, std::size_t bufferBytes) const {
    if (!open_) return RegStatus::InvalidHandle;
    hive::Node root;
    hive::Node *node = nullptr;
    if (const RegStatus status = LoadKey(file_, path_, root, node, RegStatus::KeyDeleted); status != RegStatus::Ok) {
        return status;
    }
    const auto *value = node->Value(name);
    if (value == nullptr) return RegStatus::NotFound;
    if (value->second.size() >= bufferBytes) return RegStatus::MoreData;
    data = value->second;
    return RegStatus::Ok;
}

RegStatus RegKey::SetValue(std::string_view name, std::string_view data) {
    if (!open_) return RegStatus::InvalidHandle;
    std::string error;
    return hive::Update(
        file_,
        [&](hive::Node &root) {
            hive::Node *node = hive::Find(root, path_);
            if (node == nullptr) return RegStatus::KeyDeleted;
            if (auto *value = node->Value(name)) {
                value->second = std::string(data);
            } else {
                node->values.emplace_back(std::string(name), std::string(data));
            }
            return RegStatus::Ok;
        },
        error);
}

RegStatus RegKey::DeleteValue(std::string_view name) {
    if (!open_) return RegStatus::InvalidHandle;
    std::string error;
    return hive::Update(
        file_,
        [&](hive::Node &root) {
            hive::Node *node = hive::Find(root, path_);
            if (node == nullptr) return RegStatus::KeyDeleted;
            const auto it = std::find_if(node->values.begin(), node->values.end(),
                                         [&](const auto &v) { return hive::EqualNoCase(v.first, name); });
            if (it == node->values.end()) return RegStatus::NotFound;
            node->values.erase(it);
            return RegStatus::Ok;
        },
        error);
}

RegStatus RegKey::QueryInfo(RegKeyInfo &info) const {
    if (!open_) return RegStatus::InvalidHandle;
    hive::Node root;
    hive::Node *node = nullptr;
    if (const RegStatus status = LoadKey(file_, path_, root, node, RegStatus::KeyDeleted); status != RegStatus::Ok) {
        return status;
    }
    info = RegKeyInfo{};
    info.subKeys = static_cast<uint32_t>(node->children.size());
    info.values = static_cast<uint32_t>(node->values.size());
    for (const auto &[_, child] : node->children) {
        info.maxSubKeyLength = std::max<uint32_t>(info.maxSubKeyLength, static_cast<uint32_t>(child->name.size()));
    }
    for (const auto &[name, data] : node->values) {
        info.maxValueNameLength = std::max<uint32_t>(info.maxValueNameLength, static_cast<uint32_t>(name.size()));
        info.maxValueDataLength = std::max<uint32_t>(info.maxValueDataLength, static_cast<uint32_t>(data.size() + 1));
    }
    return RegStatus::Ok;
}

RegStatus RegKey::DeleteSubKey(std::string_view subPath) const {
    if (!open_) return RegStatus::InvalidHandle;
    if (subPath.empty()) return RegStatus::InvalidArgument;
    const std::string full = JoinPath(path_, subPath);
    std::vector<std::string> names;
    if (!hive::SplitPath(full, names) || names.empty()) return RegStatus::InvalidArgument;
    std::string error;
    return hive::Update(
        file_,
        [&](hive::Node &root) {
            hive::Node *parent = &root;
            for (std::size_t i = 0; i + 1 < names.size(); ++i) {
                parent = parent->Child(names[i]);
                if (parent == nullptr) return RegStatus::NotFound;
            }
            const auto it = parent->children.find(names.back());
            if (it == parent->children.end()) return RegStatus::NotFound;
            if (!it->second->children.empty()) return RegStatus::AccessDenied;
            parent->children.erase(it);
            return RegStatus::Ok;
        },
        error);
}

RegStatus RegKey::Close() {
    if (!open_) return RegStatus::InvalidHandle;
    *this = RegKey{};
    return RegStatus::Ok;
}

RegStatus RegDeleteKey(Hive hive, std::string_view path) {
    const auto file = HiveFile(hive);
    if (!file) return RegStatus::IoError;
    RegKey root;
    if (const RegStatus status = RegKey::OpenFile(*file, "", root); status != RegStatus::Ok) return status;
    return root.DeleteSubKey(path);
}

std::string DiagnoseHiveFile(const std::string &hiveFile) {
    hive::Node root;
    std::string error;
    if (hive::Load(hiveFile, root, error) == RegStatus::Ok) return {};
    return error;
}

std::string DiagnoseHive(Hive hive) {
    const auto file = HiveFile(hive);
    if (!file) {
        return hive == Hive::LocalMachine ? "cannot locate the machine registry hive (set VNTR_WINDIR)"
                                          : "cannot locate the user registry hive (set HOME or XDG_CONFIG_HOME)";
    }
    return DiagnoseHiveFile(*file);
}

} // namespace vntr::platform
