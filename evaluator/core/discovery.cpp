// Finding the installed codec libraries in the registry, loading them, and
// the user's per-codec preferences.
#include "discovery.hpp"
#include "evaluator.hpp"
#include "printf.hpp"

#include <vntr/platform/paths.hpp>
#include <vntr/platform/registry.hpp>

#include <cstring>
#include <utility>
#include <vector>

namespace vntr::evaluator {
namespace {

using platform::Hive;
using platform::RegKey;
using platform::RegKeyInfo;
using platform::RegStatus;
using platform::RegValueWrite;

constexpr const char *kMakerKey = "SOFTWARE\\Vantre";
constexpr const char *kProductName = "QBL SDK";
constexpr const char *kScorerValue = "External Scorer"; // the window's external scorer command
constexpr const char *kProductKey = "SOFTWARE\\Vantre\\QBL SDK";
constexpr std::size_t kProductSearchBuffer = 144; // names up to 143 characters
constexpr std::size_t kLibraryNameBuffer = 20;    // names up to 19 characters
constexpr std::size_t kValueBuffer = 256;
constexpr std::size_t kCommandBuffer = 4096;

// The hives as this program sees them: each file read once, and again only
// when it changes on disk, for every evaluator of the process.
platform::HiveCache &Hives() {
    static platform::HiveCache hives;
    return hives;
}

// A registry message, followed, when the hive file behind it cannot be used,
// by a line that names the file and says what is wrong in it and where, so
// that the user knows what to mend.
std::string WithHiveDetail(const std::string &text, Hive hive) {
    const std::string why = platform::DiagnoseHive(hive);
    return why.empty() ? text : text + "\n" + why;
}

} // namespace

void WalkSubKeys(const std::function<RegStatus(uint32_t, std::string &)> &enumerate, uint32_t subKeys,
                 const std::function<bool(const std::string &)> &visit) {
    std::string name;
    for (uint32_t index = 0; index != UINT32_MAX; ++index) {
        const RegStatus s = enumerate(index, name);
        if (s == RegStatus::NoMoreItems) return;
        if (s == RegStatus::Ok) {
            if (!visit(name)) return;
        } else if (s != RegStatus::MoreData && index >= subKeys) {
            return;
        }
    }
}

bool IsFileNameStem(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.find("..") != std::string_view::npos) return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

uint16_t Evaluator::DiscoverCodecs() {
    RegKey maker;
    if (Hives().Open(Hive::LocalMachine, kMakerKey, maker) != RegStatus::Ok) {
        Error(WithHiveDetail("ERROR IN INITIALIZATION : no codec installed !", Hive::LocalMachine));
        return 0;
    }
    bool found = false;
    RegKeyInfo makerInfo;
    WalkSubKeys([&](uint32_t index, std::string &name) { return maker.EnumKey(index, name, kProductSearchBuffer); },
                maker.QueryInfo(makerInfo) == RegStatus::Ok ? makerInfo.subKeys : 0,
                [&](const std::string &name) {
                    found = name == kProductName;
                    return !found;
                });
    if (!found) {
        Error(WithHiveDetail("ERROR IN INITIALIZATION : missing SDK or Evaluator !", Hive::LocalMachine));
        return 0;
    }
    RegKey product;
    if (maker.OpenSubKey(kProductName, product) != RegStatus::Ok) {
        Error(WithHiveDetail("ERROR IN INITIALIZATION : problem with the registry !", Hive::LocalMachine));
        return 0;
    }

    for (auto &slot : slots_) slot.Reset();
    slotCount_ = 0;
    // The libraries registered beyond the last slot, named once the walk ends.
    std::vector<std::string> leftOut;
    auto addLibrary = [&](const std::string &name) {
        if (slotCount_ == kMaxSlots) {
            leftOut.push_back(name);
            return true;
        }
        RegKey key;
        if (product.OpenSubKey(name, key) != RegStatus::Ok) {
            Error(WithHiveDetail(Printf("ERROR IN INITIALIZATION : problem with the registry key : %s", name.c_str()),
                                 Hive::LocalMachine));
            return true;
        }
        // A name that is no plain file-name stem is refused like a library
        // that cannot be loaded.
        std::unique_ptr<platform::DynamicLibrary> library;
        if (IsFileNameStem(name)) {
            library = platform::DynamicLibrary::Load(platform::CodecDirectory(config_.systemRoot) + "/" + name + ".so");
        }
        if (!library) {
            Error(Printf("ERROR IN INITIALIZATION : Failed to load library %s", name.c_str()));
            return true;
        }
        CodecSlot &slot = slots_[slotCount_];
        slot.library = std::move(library);
        std::memcpy(slot.name.data(), name.c_str(), name.size() + 1);
        std::string codecType;
        slot.interfaceKind =
            key.QueryValue("Codec Type", codecType, kValueBuffer) == RegStatus::Ok && codecType == "LPC"
                ? InterfaceKind::WholeFile
                : InterfaceKind::Standard;
        if (key.QueryValue("Peer Codec", slot.peerLibrary, kValueBuffer) != RegStatus::Ok) slot.peerLibrary.clear();
        if (slot.interfaceKind == InterfaceKind::WholeFile) {
            const std::string description = "Veltrane(TM) " + name + " Codec (8kHz)";
            std::memcpy(slot.info.description, description.c_str(), description.size() + 1);
        } else {
            auto getInfo = slot.library->Bind<CodecGetInfoFn>(CODEC_ORD_GET_CODEC_INFO);
            if (getInfo == nullptr) {
                Error("Problem with the library " + name);
                slot.Reset();
                return true;
            }
            if (getInfo(&slot.info) != CODEC_OK) {
                Error("Can't get information on library " + name);
                slot.Reset();
                return true;
            }
        }
        slot.selected = 1;
        ++slotCount_;
        return true;
    };
    RegKeyInfo productInfo;
    WalkSubKeys([&](uint32_t index, std::string &name) { return product.EnumKey(index, name, kLibraryNameBuffer); },
                product.QueryInfo(productInfo) == RegStatus::Ok ? productInfo.subKeys : 0, addLibrary);
    product.Close();
    maker.Close();
    if (!leftOut.empty()) {
        std::string names;
        for (const auto &name : leftOut) names += (names.empty() ? "" : ", ") + name;
        ui_.ShowMessage(kQuestionTitle, MessageIcon::Warning,
                        Printf("More than %zu codec libraries are registered: left out %s. Unregister others "
                               "(vtregsvr -u <library>) to use these.",
                               kMaxSlots, names.c_str()));
    }

    if (slotCount_ == 0) {
        for (auto &slot : slots_) slot.selected = 0;
        Error(WithHiveDetail("ERROR IN INITIALIZATION : missing SDK or Evaluator !", Hive::LocalMachine));
        selectedCount_ = 0;
        return 0;
    }

    selectedCount_ = slotCount_;
    RegKey user;
    if (config_.readPreferences && Hives().Open(Hive::CurrentUser, kProductKey, user) == RegStatus::Ok) {
        // The window's external scorer, a preference of the window alone
        // (a batch run takes its scorer from its command line).  A stored
        // command that no longer parses is dropped, not fatal.
        std::string command;
        std::string ignored;
        if (config_.savePreferences && user.QueryValue(kScorerValue, command, kCommandBuffer) == RegStatus::Ok) {
            SetScorerCommand(command, ignored);
        }
        for (std::size_t i = 0; i < slotCount_; ++i) {
            CodecSlot &slot = slots_[i];
            RegKey prefs;
            if (user.OpenSubKey(slot.Name(), prefs) != RegStatus::Ok) continue;
            std::string value;
            // The comparisons are exact: "yes" deselects.
            if (prefs.QueryValue("Selected", value, kValueBuffer) == RegStatus::Ok && value != "YES") {
                slot.selected = 0;
                --selectedCount_;
            }
            uint32_t options = slot.encoderOptions;
            if (prefs.QueryValue("Voice Activity Detection", value, kValueBuffer) == RegStatus::Ok && value == "ON") {
                options |= CODEC_OPT_VAD;
            }
            if (prefs.QueryValue("Selected bitrate", value, kValueBuffer) == RegStatus::Ok) {
                options |= value.compare(0, 4, "4800") == 0 && value.size() >= 4 ? CODEC_OPT_4800 : CODEC_OPT_6400;
            }
            slot.SetOptions(options);
        }
    }
    AssignRowsInSlotOrder();
    return slotCount_;
}

void Evaluator::AssignRowsInSlotOrder() {
    int16_t row = 0;
    for (std::size_t i = 0; i < kMaxSlots; ++i) {
        slots_[i].displaySlot = i < slotCount_ && slots_[i].selected != 0 ? row++ : -1;
    }
}

void Evaluator::SavePreferences() {
    if (slotCount_ == 0) {
        for (auto &slot : slots_) slot.selected = 0;
        return;
    }
    // Everything goes in one write of the user hive, and only what differs
    // from what it holds.
    RegKey root;
    if (Hives().Open(Hive::CurrentUser, "", root) != RegStatus::Ok) {
        Error(WithHiveDetail("PROBLEM IN REGISTRY : can't save preferences !", Hive::CurrentUser));
        return;
    }
    RegKey product;
    const bool productExists = root.OpenSubKey(kProductKey, product) == RegStatus::Ok;
    std::vector<RegValueWrite> writes;
    std::vector<std::string> changed; // the slots with something to write
    for (std::size_t i = 0; i < slotCount_; ++i) {
        const CodecSlot &slot = slots_[i];
        std::vector<std::pair<const char *, std::string>> values;
        values.emplace_back("Description", slot.Description());
        values.emplace_back("Selected", slot.selected != 0 ? "YES" : "NO");
        if ((slot.info.optionMask & CODEC_OPT_VAD) != 0) {
            values.emplace_back("Voice Activity Detection", (slot.encoderOptions & CODEC_OPT_VAD) != 0 ? "ON" : "OFF");
        }
        if ((slot.info.optionMask & CODEC_OPT_RATES) != 0) {
            values.emplace_back("Selected bitrate", (slot.encoderOptions & CODEC_OPT_4800) != 0 ? "4800" : "6400");
        }
        RegKey prefs;
        bool differs = !productExists || product.OpenSubKey(slot.Name(), prefs) != RegStatus::Ok;
        for (const auto &[name, data] : values) {
            std::string stored;
            differs = differs || prefs.QueryValue(name, stored) != RegStatus::Ok || stored != data;
        }
        if (!differs) continue;
        changed.push_back(slot.Name());
        for (auto &[name, data] : values) {
            writes.push_back(RegValueWrite{std::string(kProductKey) + "\\" + slot.Name(), name, std::move(data)});
        }
    }
    // The external scorer's command beside the codecs' keys; nothing is
    // written while none was ever set.
    std::string storedCommand;
    const bool commandStored = productExists && product.QueryValue(kScorerValue, storedCommand) == RegStatus::Ok;
    if (commandStored ? storedCommand != scorerCommand_ : !scorerCommand_.empty()) {
        writes.push_back(RegValueWrite{kProductKey, kScorerValue, scorerCommand_});
        changed.push_back("the external scorer");
    }
    if (writes.empty() || root.SetValues(writes) == RegStatus::Ok) return;
    // The product key could not be made: nothing of the preferences could be saved.
    if (!productExists) {
        Error(WithHiveDetail("PROBLEM IN REGISTRY : can't save preferences !", Hive::CurrentUser));
        return;
    }
    for (const auto &name : changed) {
        Error(WithHiveDetail(Printf("PROBLEM IN REGISTRY : can't save preferences for %s !", name.c_str()),
                             Hive::CurrentUser));
    }
}

void Evaluator::UnloadCodecs() {
    for (std::size_t i = 0; i < slotCount_; ++i) slots_[i].library.reset();
}

} // namespace vntr::evaluator
