// Finding the codec libraries in the registry, the skip rules and their
// messages, and the user's preferences read at start-up and written at exit.
#include "eval_support.hpp"

#include "core/discovery.hpp"

#include <vntr/platform/registry.hpp>

#include <algorithm>
#include <map>

#include <sys/stat.h>

using namespace vntr::evaluator;
using namespace vntr::test;
using vntr::platform::Hive;
using vntr::platform::RegKey;
using vntr::platform::RegStatus;

namespace {

constexpr const char *kProduct = "SOFTWARE\\Vantre\\QBL SDK";

void AddMachineKey(const std::string &name, const char *codecType = nullptr) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::LocalMachine, std::string(kProduct) + "\\" + name, key), RegStatus::Ok);
    if (codecType != nullptr) {
        ASSERT_EQ(key.SetValue("Codec Type", codecType), RegStatus::Ok);
    }
}

void SetUserValue(const std::string &name, const char *value, const char *data) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, std::string(kProduct) + "\\" + name, key), RegStatus::Ok);
    ASSERT_EQ(key.SetValue(value, data), RegStatus::Ok);
}

std::string UserValue(const std::string &name, const char *value) {
    RegKey key;
    if (RegKey::Open(Hive::CurrentUser, std::string(kProduct) + "\\" + name, key) != RegStatus::Ok) return "<no key>";
    std::string data;
    if (key.QueryValue(value, data) != RegStatus::Ok) return "<none>";
    return data;
}

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() : a("FAKEA"), b("FAKEB") {}
    uint16_t Discover() {
        ev = std::make_unique<Evaluator>(ui, world.Config());
        return ev->DiscoverCodecs();
    }
    EvaluatorWorld world;
    FakeLibrary a;
    FakeLibrary b;
    RecordingFrontend ui;
    std::unique_ptr<Evaluator> ev;
};

TEST_F(DiscoveryTest, MissingMakerKeyMeansNoCodecInstalled) {
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"ERROR IN INITIALIZATION : no codec installed !"});
    EXPECT_EQ(ui.messages[0].title, "Vantre QBL Evaluator: Error");
}

TEST_F(DiscoveryTest, MakerKeyWithoutProductKey) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "SOFTWARE\\Vantre\\Other", key), RegStatus::Ok);
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"ERROR IN INITIALIZATION : missing SDK or Evaluator !"});
}

TEST_F(DiscoveryTest, EmptyProductKeyMeansMissingSdk) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::LocalMachine, kProduct, key), RegStatus::Ok);
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"ERROR IN INITIALIZATION : missing SDK or Evaluator !"});
    // With no codec the process command says so.
    ui.messages.clear();
    ev->ProcessSelectedCodecs();
    EXPECT_EQ(ui.messages.size(), 1u);
}

// A hive file cut off in the middle of a line: its contents, and the line
// the cut falls in.
std::pair<std::vector<uint8_t>, int> CutInTheMiddle(const std::string &file) {
    auto bytes = ReadBytes(file);
    bytes.resize(bytes.size() / 2);
    if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
    return {bytes, 1 + static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'))};
}

TEST_F(DiscoveryTest, DamagedMachineHiveIsNamedAfterTheMessage) {
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    const std::string hive = getenv("VNTR_MACHINE_HIVE");
    const auto [cut, line] = CutInTheMiddle(hive);
    WriteBytes(hive, cut);
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"ERROR IN INITIALIZATION : no codec installed !\n" + hive +
                                                   ": registry hive is damaged: line " + std::to_string(line) +
                                                   ": last line is cut short"});
    // Another damage, another line.
    ui.messages.clear();
    WriteBytes(hive, {'g', 'a', 'r', 'b', 'a', 'g', 'e', '\n'});
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"ERROR IN INITIALIZATION : no codec installed !\n" + hive +
                                                   ": registry hive is damaged: line 1: not a registry hive (bad "
                                                   "first line)"});
}

TEST_F(DiscoveryTest, HealthyOrMissingHivesAddNothingToTheMessages) {
    EXPECT_EQ(Discover(), 0); // no machine hive file at all: nothing installed, nothing damaged
    AddMachineKey("ABSENT");
    ui.messages.clear();
    EXPECT_EQ(Discover(), 0);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"ERROR IN INITIALIZATION : Failed to load library ABSENT",
                                                    "ERROR IN INITIALIZATION : missing SDK or Evaluator !"}));
}

TEST_F(DiscoveryTest, FindsRegisteredLibrariesInEnumerationOrderAllSelected) {
    ASSERT_EQ(b.Register(), 0);
    ASSERT_EQ(a.Register(), 0);
    EXPECT_EQ(Discover(), 2);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ev->Slots()[0].Name(), "FAKEA");
    EXPECT_EQ(ev->Slots()[1].Name(), "FAKEB");
    EXPECT_EQ(ev->Slots()[0].Description(), "Fake codec FAKEA");
    EXPECT_EQ(ev->SelectedCount(), 2);
    EXPECT_EQ(ev->Slots()[0].displaySlot, 0);
    EXPECT_EQ(ev->Slots()[1].displaySlot, 1);
    EXPECT_EQ(ev->Slots()[2].displaySlot, -1);
}

TEST_F(DiscoveryTest, SkipRulesAndTheirMessages) {
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    AddMachineKey("ABSENT");               // no library file
    AddMachineKey("NAME_OF_TWENTY_CHARS"); // 20 characters: skipped silently
    AddMachineKey("OLDLPC", "LPC");        // whole-file interface (no file either)
    b.control->infoStatus = 1;             // GetCodecInfo fails
    EXPECT_EQ(Discover(), 1);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"ERROR IN INITIALIZATION : Failed to load library ABSENT",
                                                    "Can't get information on library FAKEB",
                                                    "ERROR IN INITIALIZATION : Failed to load library OLDLPC"}));
    EXPECT_EQ(ev->Slots()[0].Name(), "FAKEA");
    EXPECT_EQ(ev->Slots()[1].Name(), "");
    EXPECT_FALSE(ev->Slots()[1].library);
}

TEST_F(DiscoveryTest, LibraryWithoutGetCodecInfoIsLeftOut) {
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    a.table->entry[CODEC_ORD_GET_CODEC_INFO - 1] = nullptr;
    EXPECT_EQ(Discover(), 1);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Problem with the library FAKEA"});
    EXPECT_EQ(ev->Slots()[0].Name(), "FAKEB");
}

TEST_F(DiscoveryTest, CodecTypeLpcMarksTheWholeFileInterface) {
    ASSERT_EQ(a.Register(), 0);
    RegKey key;
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, std::string(kProduct) + "\\FAKEA", key), RegStatus::Ok);
    ASSERT_EQ(key.SetValue("Codec Type", "LPC"), RegStatus::Ok);
    EXPECT_EQ(Discover(), 1);
    EXPECT_EQ(ev->Slots()[0].interfaceKind, InterfaceKind::WholeFile);
    EXPECT_EQ(ev->Slots()[0].Description(), "Veltrane(TM) FAKEA Codec (8kHz)");
    ASSERT_EQ(key.SetValue("Codec Type", "lpc"), RegStatus::Ok); // the comparison is exact
    EXPECT_EQ(Discover(), 1);
    EXPECT_EQ(ev->Slots()[0].interfaceKind, InterfaceKind::Standard);
}

TEST_F(DiscoveryTest, AtMostTwentySlotsAreFilled) {
    // 22 keys that all load the same file through a symlink each.
    const std::string root = world.File("root");
    fs::create_directories(root + "/VNTR/QBL");
    for (int i = 0; i < 22; ++i) {
        const std::string name = "FK" + std::to_string(10 + i);
        fs::create_symlink(FakePath("FAKEA"), root + "/VNTR/QBL/" + name + ".so");
        AddMachineKey(name);
    }
    EvaluatorConfig config = world.Config();
    config.systemRoot = root;
    ev = std::make_unique<Evaluator>(ui, config);
    EXPECT_EQ(ev->DiscoverCodecs(), 20);
    EXPECT_EQ(ev->Slots()[19].Name(), "FK29");
    // The two beyond the table are named, once, as a warning.
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Vantre QBL Evaluator");
    EXPECT_EQ(ui.messages[0].text, "More than 20 codec libraries are registered: left out FK30, FK31. Unregister "
                                   "others (vtregsvr -u <library>) to use these.");
}

TEST_F(DiscoveryTest, LibrariesThatFailToLoadDoNotCountAgainstTheTwentySlots) {
    // A key whose library is missing takes no slot: exactly 20 loadable ones
    // after it fill the table and nothing is left out.
    const std::string root = world.File("root");
    fs::create_directories(root + "/VNTR/QBL");
    AddMachineKey("FK09");
    for (int i = 0; i < 20; ++i) {
        const std::string name = "FK" + std::to_string(10 + i);
        fs::create_symlink(FakePath("FAKEA"), root + "/VNTR/QBL/" + name + ".so");
        AddMachineKey(name);
    }
    EvaluatorConfig config = world.Config();
    config.systemRoot = root;
    ev = std::make_unique<Evaluator>(ui, config);
    EXPECT_EQ(ev->DiscoverCodecs(), 20);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"ERROR IN INITIALIZATION : Failed to load library FK09"});
}

TEST_F(DiscoveryTest, NamesThatAreNoFileNameStemAreRefusedLikeMissingLibraries) {
    // Every refused name leads to a loadable library file, inside the codec
    // folder or outside it, so only the name rule keeps it out.
    const std::string root = world.File("root");
    fs::create_directories(root + "/VNTR/QBL");
    const std::vector<std::string> refused{"../../OUTSIDE",          "..",     ".HIDDEN", "A..B", "TAB\tNAME",
                                           std::string("NUL\0X", 5), "DEL\x7F"};
    fs::create_symlink(FakePath("FAKEA"), root + "/VNTR/QBL/FAKEA.so");
    fs::create_symlink(FakePath("FAKEB"), root + "/OUTSIDE.so");
    fs::create_symlink(FakePath("FAKEB"), root + "/VNTR/QBL/...so");
    for (const auto &name : {".HIDDEN", "A..B", "TAB\tNAME", "DEL\x7F"}) {
        fs::create_symlink(FakePath("FAKEB"), root + "/VNTR/QBL/" + name + ".so");
    }
    fs::create_symlink(FakePath("FAKEB"), root + "/VNTR/QBL/NUL"); // the path ends at the zero
    for (const auto &name : refused) AddMachineKey(name);
    AddMachineKey("FAKEA");
    EvaluatorConfig config = world.Config();
    config.systemRoot = root;
    ev = std::make_unique<Evaluator>(ui, config);
    EXPECT_EQ(ev->DiscoverCodecs(), 1);
    EXPECT_EQ(ev->Slots()[0].Name(), "FAKEA");
    std::vector<std::string> expected;
    for (const auto &name : refused) {
        expected.push_back("ERROR IN INITIALIZATION : Failed to load library " + std::string(name.c_str()));
    }
    auto shown = ui.Texts();
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
}

TEST(FileNameStemTest, PlainNamesPassAndEveryWayOutIsRefused) {
    // Blanks are plain characters of a file name ("Opus 8k", "C2 3200").
    for (const char *name :
         {"VT48", "VT4864v6", "a.b", "x-y_z", "~t", "name.", "caf\xC3\xA9", "Opus 8k", "GSM-FR", " lead", "trail "}) {
        EXPECT_TRUE(IsFileNameStem(name)) << name;
    }
    for (const char *name : {"", ".", "..", ".x", "a/b", "a\\b", "/abs", "x..", "..x", "a\nb", "\x1F", "\x7F"}) {
        EXPECT_FALSE(IsFileNameStem(name)) << name;
    }
}

// A registry of four subkeys whose enumeration fails as told at some indices.
struct ScriptedKey {
    std::vector<std::string> names{"A", "B", "C", "D"};
    std::map<uint32_t, RegStatus> failures; // index -> status
    RegStatus failuresPastTheEnd = RegStatus::NoMoreItems;
    std::vector<uint32_t> asked;

    RegStatus operator()(uint32_t index, std::string &name) {
        asked.push_back(index);
        if (const auto it = failures.find(index); it != failures.end()) return it->second;
        if (index >= names.size()) return failuresPastTheEnd;
        name = names[index];
        return RegStatus::Ok;
    }
    std::vector<std::string> Walk(uint32_t subKeys, std::size_t wanted = 99) {
        std::vector<std::string> seen;
        WalkSubKeys(std::ref(*this), subKeys, [&](const std::string &name) {
            seen.push_back(name);
            return seen.size() < wanted;
        });
        return seen;
    }
};

TEST(WalkSubKeysTest, AFailingIndexIsSkippedAndTheWalkGoesOn) {
    for (const RegStatus status :
         {RegStatus::IoError, RegStatus::Damaged, RegStatus::KeyDeleted, RegStatus::MoreData}) {
        SCOPED_TRACE(static_cast<int>(status));
        ScriptedKey key;
        key.failures[1] = status;
        EXPECT_EQ(key.Walk(4), (std::vector<std::string>{"A", "C", "D"}));
        EXPECT_EQ(key.asked, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    }
    // Two failures in a row, the first index among them.
    ScriptedKey key;
    key.failures = {{0, RegStatus::IoError}, {1, RegStatus::MoreData}};
    EXPECT_EQ(key.Walk(4), (std::vector<std::string>{"C", "D"}));
}

TEST(WalkSubKeysTest, ARegistryThatStopsAnsweringEndsTheWalk) {
    // From index 2 on every call fails: the indices the key had are tried,
    // the first failure beyond them ends the walk.
    ScriptedKey key;
    key.failuresPastTheEnd = RegStatus::IoError;
    key.failures = {{2, RegStatus::IoError}, {3, RegStatus::IoError}};
    EXPECT_EQ(key.Walk(4), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(key.asked, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    // Without a count every failure but a long name ends it at once.
    ScriptedKey unknown;
    unknown.failures = {{1, RegStatus::MoreData}, {2, RegStatus::IoError}};
    EXPECT_EQ(unknown.Walk(0), (std::vector<std::string>{"A"}));
    EXPECT_EQ(unknown.asked, (std::vector<uint32_t>{0, 1, 2}));
}

TEST(WalkSubKeysTest, EndsWhenNoMoreAreWanted) {
    ScriptedKey key;
    EXPECT_EQ(key.Walk(4, 2), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(key.asked, (std::vector<uint32_t>{0, 1}));
}

TEST_F(DiscoveryTest, PreferencesAreReadExactly) {
    a.control->infoOptionMask = 0x30001;
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    SetUserValue("FAKEA", "Selected", "YES");
    SetUserValue("FAKEA", "Voice Activity Detection", "ON");
    SetUserValue("FAKEA", "Selected bitrate", "48000"); // only the first four characters count
    SetUserValue("FAKEB", "Selected", "yes");           // not "YES": deselected
    SetUserValue("FAKEB", "Voice Activity Detection", "on");
    SetUserValue("FAKEB", "Selected bitrate", "9600");
    EXPECT_EQ(Discover(), 2);
    const CodecSlot &sa = ev->Slots()[0];
    const CodecSlot &sb = ev->Slots()[1];
    EXPECT_EQ(sa.selected, 1);
    EXPECT_EQ(sa.encoderOptions, 0x10001u);
    EXPECT_EQ(sa.decoderOptions, 0x10001u);
    EXPECT_EQ(sb.selected, 0);
    EXPECT_EQ(sb.encoderOptions, 0x20000u); // "on" is not "ON"; any other bit rate means 6.4 kbps
    EXPECT_EQ(ev->SelectedCount(), 1);
    EXPECT_EQ(sa.displaySlot, 0);
    EXPECT_EQ(sb.displaySlot, -1);
}

TEST_F(DiscoveryTest, CodecWithoutPreferencesStaysSelectedWithNoOptions) {
    ASSERT_EQ(a.Register(), 0);
    RegKey key;
    ASSERT_EQ(RegKey::Open(Hive::CurrentUser, std::string(kProduct) + "\\FAKEA", key), RegStatus::Ok);
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, std::string(kProduct) + "\\FAKEA", key), RegStatus::Ok);
    ASSERT_EQ(key.DeleteValue("Selected"), RegStatus::Ok);
    EXPECT_EQ(Discover(), 1);
    EXPECT_EQ(ev->Slots()[0].selected, 1);
    EXPECT_EQ(ev->Slots()[0].encoderOptions, 0u);
}

TEST_F(DiscoveryTest, SavedPreferencesFollowTheOptionMask) {
    a.control->infoOptionMask = 0x30001;
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    EXPECT_EQ(Discover(), 2);
    ev->Slots()[0].encoderOptions = CODEC_OPT_VAD;
    ev->Slots()[1].encoderOptions = 0x10001; // FAKEB offers no option: nothing is written for them
    ev->Slots()[1].selected = 0;
    ev->SavePreferences();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(UserValue("FAKEA", "Description"), "Fake codec FAKEA");
    EXPECT_EQ(UserValue("FAKEA", "Selected"), "YES");
    EXPECT_EQ(UserValue("FAKEA", "Voice Activity Detection"), "ON");
    EXPECT_EQ(UserValue("FAKEA", "Selected bitrate"), "6400");
    EXPECT_EQ(UserValue("FAKEB", "Selected"), "NO");
    EXPECT_EQ(UserValue("FAKEB", "Voice Activity Detection"), "<none>");
    EXPECT_EQ(UserValue("FAKEB", "Selected bitrate"), "<none>");
    // Read back by the next start.
    EXPECT_EQ(Discover(), 2);
    EXPECT_EQ(ev->Slots()[0].encoderOptions, 0x20001u);
    EXPECT_EQ(ev->Slots()[1].selected, 0);
}

TEST_F(DiscoveryTest, PreferencesThatDidNotChangeAreNotWrittenAgain) {
    a.control->infoOptionMask = 0x30001;
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    EXPECT_EQ(Discover(), 2);
    ev->SavePreferences(); // the first save writes what registration did not
    const std::string hive = getenv("VNTR_USER_HIVE");
    struct stat before {};
    ASSERT_EQ(stat(hive.c_str(), &before), 0);
    // Every change replaces the hive file by a new one: the same file means no write.
    EXPECT_EQ(Discover(), 2);
    ev->SavePreferences();
    struct stat after {};
    ASSERT_EQ(stat(hive.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_TRUE(ui.messages.empty());
    // One changed preference is still written, the others kept.
    ev->Slots()[1].selected = 0;
    ev->SavePreferences();
    ASSERT_EQ(stat(hive.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(UserValue("FAKEB", "Selected"), "NO");
    EXPECT_EQ(UserValue("FAKEA", "Selected"), "YES");
    EXPECT_EQ(UserValue("FAKEA", "Voice Activity Detection"), "OFF");
}

TEST_F(DiscoveryTest, DamagedUserHiveIsNamedAfterTheMessageAndKept) {
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    const std::string hive = getenv("VNTR_USER_HIVE");
    const auto [cut, line] = CutInTheMiddle(hive);
    WriteBytes(hive, cut);
    EXPECT_EQ(Discover(), 2); // the preferences cannot be read: both stay selected
    EXPECT_TRUE(ui.messages.empty());
    ev->SavePreferences();
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"PROBLEM IN REGISTRY : can't save preferences !\n" + hive +
                                                   ": registry hive is damaged: line " + std::to_string(line) +
                                                   ": last line is cut short"});
    EXPECT_EQ(ReadBytes(hive), cut); // never overwritten
}

TEST_F(DiscoveryTest, ShutdownWritesPreferencesAndRemovesTemporaryFiles) {
    ASSERT_EQ(a.Register(), 0);
    ev = std::make_unique<Evaluator>(ui, world.Config());
    WriteBytes(world.TempFolder() + "OLD.~c0", {1});
    WriteBytes(world.TempFolder() + "keep.txt", {1});
    ASSERT_TRUE(ev->Startup()); // leftovers go at start-up
    EXPECT_EQ(world.TempFiles(), std::vector<std::string>{"keep.txt"});
    ev->Slots()[0].selected = 0;
    WriteBytes(world.TempFolder() + "FAKEA.~d0", {1});
    ev->Shutdown();
    EXPECT_EQ(world.TempFiles(), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(UserValue("FAKEA", "Selected"), "NO");
    EXPECT_FALSE(ev->Slots()[0].library);
}

} // namespace
