#include <vntr/platform/paths.hpp>
#include <vntr/platform/registry.hpp>
#include <vntr/platform/registry_store.hpp>

#include <algorithm>
#include <iterator>
#include <utility>

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

// Creates the keys of `path` that are missing; `changed` when one was.
RegStatus CreatePath(hive::Node &root, const std::string &path, hive::Node *&node, bool &changed) {
    std::vector<std::string> names;
    if (!hive::SplitPath(path, names) || names.size() > hive::kMaxKeyDepth) return RegStatus::InvalidArgument;
    node = &root;
    for (const auto &name : names) {
        hive::Node *child = node->Child(name);
        if (child == nullptr) {
            auto fresh = std::make_unique<hive::Node>();
            fresh->name = name;
            child = fresh.get();
            node->children.emplace(name, std::move(fresh));
            changed = true;
        }
        node = child;
    }
    return RegStatus::Ok;
}

// Sets a value of `node`; `changed` unless it already held that data.
void Put(hive::Node &node, std::string_view name, std::string_view data, bool &changed) {
    if (auto *value = node.Value(name)) {
        if (value->second == data) return;
        value->second = std::string(data);
    } else {
        node.values.emplace_back(std::string(name), std::string(data));
    }
    changed = true;
}

} // namespace

const char *RegStatusText(RegStatus status) {
    switch (status) {
    case RegStatus::Ok:
        return "success";
    case RegStatus::NotFound:
        return "no such key or value";
    case RegStatus::AccessDenied:
        return "access denied (the key still has subkeys)";
    case RegStatus::InvalidHandle:
        return "the key is not open";
    case RegStatus::InvalidArgument:
        return "invalid name";
    case RegStatus::MoreData:
        return "name or data longer than the buffer";
    case RegStatus::NoMoreItems:
        return "no more items";
    case RegStatus::Damaged:
        return "the registry hive file is damaged";
    case RegStatus::IoError:
        return "the registry hive file cannot be read or written";
    case RegStatus::KeyDeleted:
        return "the key was deleted";
    }
    return "unknown registry error";
}

std::optional<std::string> HiveFile(Hive hive) {
    return hive == Hive::LocalMachine ? MachineHivePath() : UserHivePath();
}

RegStatus RegKey::OpenIn(std::shared_ptr<hive::Store> store, std::string path, RegKey &out) {
    out = RegKey{};
    if (!ValidPath(path)) return RegStatus::InvalidArgument;
    const RegStatus status = store->Read([&](const hive::Node &root) {
        return hive::Find(root, path) != nullptr ? RegStatus::Ok : RegStatus::NotFound;
    });
    if (status != RegStatus::Ok) return status;
    out.store_ = std::move(store);
    out.path_ = std::move(path);
    out.open_ = true;
    return RegStatus::Ok;
}

RegStatus RegKey::CreateIn(std::shared_ptr<hive::Store> store, std::string path, RegKey &out) {
    out = RegKey{};
    if (!ValidPath(path)) return RegStatus::InvalidArgument;
    // An existing key needs no write (and no write access to the hive).
    RegStatus status = store->Read([&](const hive::Node &root) {
        return hive::Find(root, path) != nullptr ? RegStatus::Ok : RegStatus::NotFound;
    });
    if (status == RegStatus::NotFound) {
        std::string error;
        status = store->Update(
            [&](hive::Node &root, bool &changed) {
                hive::Node *node = nullptr;
                return CreatePath(root, path, node, changed);
            },
            error);
    }
    if (status != RegStatus::Ok) return status;
    out.store_ = std::move(store);
    out.path_ = std::move(path);
    out.open_ = true;
    return RegStatus::Ok;
}

RegStatus RegKey::OpenFile(const std::string &hiveFile, std::string_view path, RegKey &out) {
    return OpenIn(std::make_shared<hive::Store>(hiveFile), std::string(path), out);
}

RegStatus RegKey::CreateFile(const std::string &hiveFile, std::string_view path, RegKey &out) {
    return CreateIn(std::make_shared<hive::Store>(hiveFile), std::string(path), out);
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

const std::string &RegKey::File() const {
    static const std::string none;
    return store_ ? store_->File() : none;
}

RegStatus RegKey::OpenSubKey(std::string_view subPath, RegKey &out) const {
    if (!open_) return RegStatus::InvalidHandle;
    return OpenIn(store_, JoinPath(path_, subPath), out);
}

RegStatus RegKey::CreateSubKey(std::string_view subPath, RegKey &out) const {
    if (!open_) return RegStatus::InvalidHandle;
    return CreateIn(store_, JoinPath(path_, subPath), out);
}

RegStatus RegKey::EnumKey(uint32_t index, std::string &name, std::size_t bufferChars) const {
    if (!open_) return RegStatus::InvalidHandle;
    return store_->Read([&](const hive::Node &root) {
        const hive::Node *node = hive::Find(root, path_);
        if (node == nullptr) return RegStatus::KeyDeleted;
        if (index >= node->children.size()) return RegStatus::NoMoreItems;
        const auto &child = *std::next(node->children.begin(), index)->second;
        if (child.name.size() >= bufferChars) return RegStatus::MoreData;
        name = child.name;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::EnumValue(uint32_t index, std::string &name, std::string &data) const {
    if (!open_) return RegStatus::InvalidHandle;
    return store_->Read([&](const hive::Node &root) {
        const hive::Node *node = hive::Find(root, path_);
        if (node == nullptr) return RegStatus::KeyDeleted;
        if (index >= node->values.size()) return RegStatus::NoMoreItems;
        name = node->values[index].first;
        data = node->values[index].second;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::QueryValue(std::string_view name, std::string &data, std::size_t bufferBytes) const {
    if (!open_) return RegStatus::InvalidHandle;
    return store_->Read([&](const hive::Node &root) {
        const hive::Node *node = hive::Find(root, path_);
        if (node == nullptr) return RegStatus::KeyDeleted;
        const auto *value = std::as_const(*node).Value(name);
        if (value == nullptr) return RegStatus::NotFound;
        if (value->second.size() >= bufferBytes) return RegStatus::MoreData;
        data = value->second;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::SetValue(std::string_view name, std::string_view data) {
    if (!open_) return RegStatus::InvalidHandle;
    std::string error;
    return store_->Update(
        [&](hive::Node &root, bool &changed) {
            hive::Node *node = hive::Find(root, path_);
            if (node == nullptr) return RegStatus::KeyDeleted;
            Put(*node, name, data, changed);
            return RegStatus::Ok;
        },
        error);
}

RegStatus RegKey::SetValues(std::span<const RegValueWrite> writes) {
    if (!open_) return RegStatus::InvalidHandle;
    std::vector<std::string> paths;
    paths.reserve(writes.size());
    for (const auto &write : writes) {
        paths.push_back(JoinPath(path_, write.subKey));
        std::vector<std::string> names;
        if (!hive::SplitPath(paths.back(), names) || names.size() > hive::kMaxKeyDepth) {
            return RegStatus::InvalidArgument;
        }
    }
    std::string error;
    return store_->Update(
        [&](hive::Node &root, bool &changed) {
            if (hive::Find(root, path_) == nullptr) return RegStatus::KeyDeleted;
            for (std::size_t i = 0; i < writes.size(); ++i) {
                // A value written again further on takes only its last data.
                bool overwritten = false;
                for (std::size_t j = i + 1; j < writes.size() && !overwritten; ++j) {
                    overwritten =
                        hive::EqualNoCase(paths[i], paths[j]) && hive::EqualNoCase(writes[i].name, writes[j].name);
                }
                if (overwritten) continue;
                hive::Node *node = nullptr;
                CreatePath(root, paths[i], node, changed);
                Put(*node, writes[i].name, writes[i].data, changed);
            }
            return RegStatus::Ok;
        },
        error);
}

RegStatus RegKey::DeleteValue(std::string_view name) {
    if (!open_) return RegStatus::InvalidHandle;
    std::string error;
    return store_->Update(
        [&](hive::Node &root, bool &changed) {
            hive::Node *node = hive::Find(root, path_);
            if (node == nullptr) return RegStatus::KeyDeleted;
            const auto it = std::find_if(node->values.begin(), node->values.end(),
                                         [&](const auto &v) { return hive::EqualNoCase(v.first, name); });
            if (it == node->values.end()) return RegStatus::NotFound;
            node->values.erase(it);
            changed = true;
            return RegStatus::Ok;
        },
        error);
}

RegStatus RegKey::QueryInfo(RegKeyInfo &info) const {
    if (!open_) return RegStatus::InvalidHandle;
    return store_->Read([&](const hive::Node &root) {
        const hive::Node *node = hive::Find(root, path_);
        if (node == nullptr) return RegStatus::KeyDeleted;
        info = RegKeyInfo{};
        info.subKeys = static_cast<uint32_t>(node->children.size());
        info.values = static_cast<uint32_t>(node->values.size());
        for (const auto &[_, child] : node->children) {
            info.maxSubKeyLength = std::max<uint32_t>(info.maxSubKeyLength, static_cast<uint32_t>(child->name.size()));
        }
        for (const auto &[name, data] : node->values) {
            info.maxValueNameLength = std::max<uint32_t>(info.maxValueNameLength, static_cast<uint32_t>(name.size()));
            info.maxValueDataLength =
                std::max<uint32_t>(info.maxValueDataLength, static_cast<uint32_t>(data.size() + 1));
        }
        return RegStatus::Ok;
    });
}

RegStatus RegKey::DeleteSubKey(std::string_view subPath) const {
    if (!open_) return RegStatus::InvalidHandle;
    if (subPath.empty()) return RegStatus::InvalidArgument;
    const std::string full = JoinPath(path_, subPath);
    std::vector<std::string> names;
    if (!hive::SplitPath(full, names) || names.empty()) return RegStatus::InvalidArgument;
    std::string error;
    return store_->Update(
        [&](hive::Node &root, bool &changed) {
            hive::Node *parent = &root;
            for (std::size_t i = 0; i + 1 < names.size(); ++i) {
                parent = parent->Child(names[i]);
                if (parent == nullptr) return RegStatus::NotFound;
            }
            const auto it = parent->children.find(names.back());
            if (it == parent->children.end()) return RegStatus::NotFound;
            if (!it->second->children.empty()) return RegStatus::AccessDenied;
            parent->children.erase(it);
            changed = true;
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

HiveCache::HiveCache() = default;
HiveCache::~HiveCache() = default;

std::shared_ptr<hive::Store> HiveCache::StoreOf(const std::string &hiveFile) {
    const std::lock_guard<std::mutex> hold(mutex_);
    auto &store = stores_[hiveFile];
    if (!store) store = std::make_shared<hive::Store>(hiveFile);
    return store;
}

RegStatus HiveCache::OpenFile(const std::string &hiveFile, std::string_view path, RegKey &out) {
    return RegKey::OpenIn(StoreOf(hiveFile), std::string(path), out);
}

RegStatus HiveCache::CreateFile(const std::string &hiveFile, std::string_view path, RegKey &out) {
    return RegKey::CreateIn(StoreOf(hiveFile), std::string(path), out);
}

RegStatus HiveCache::Open(Hive hive, std::string_view path, RegKey &out) {
    const auto file = HiveFile(hive);
    if (!file) {
        out = RegKey{};
        return RegStatus::IoError;
    }
    return OpenFile(*file, path, out);
}

RegStatus HiveCache::Create(Hive hive, std::string_view path, RegKey &out) {
    const auto file = HiveFile(hive);
    if (!file) {
        out = RegKey{};
        return RegStatus::IoError;
    }
    return CreateFile(*file, path, out);
}

std::size_t HiveCache::Reads(const std::string &hiveFile) {
    return StoreOf(hiveFile)->Reads();
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
