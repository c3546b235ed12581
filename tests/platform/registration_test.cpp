// Codec self-registration: the table walker in every library and the
// vtregsvr tool, against private hives.
#include "../evaluator/eval_support.hpp"

#include <vntr/platform/registry.hpp>
#include <vntr/registration.hpp>

using namespace vntr::test;
using vntr::platform::Hive;
using vntr::platform::RegKey;
using vntr::platform::RegKeyInfo;
using vntr::platform::RegStatus;
namespace reg = vntr::registration;

namespace {

constexpr const char *kProduct = "SOFTWARE\\Vantre\\QBL SDK";

std::vector<std::pair<std::string, std::string>> Values(Hive hive, const std::string &path) {
    std::vector<std::pair<std::string, std::string>> values;
    RegKey key;
    if (RegKey::Open(hive, path, key) != RegStatus::Ok) return values;
    std::string name, data;
    for (uint32_t i = 0; key.EnumValue(i, name, data) == RegStatus::Ok; ++i) values.emplace_back(name, data);
    return values;
}

bool Exists(Hive hive, const std::string &path) {
    RegKey key;
    return RegKey::Open(hive, path, key) == RegStatus::Ok;
}

class RegistrationTest : public ::testing::Test {
protected:
    RegistrationTest()
        : machine("VNTR_MACHINE_HIVE", dir / "m.hive"), user("VNTR_USER_HIVE", dir / "u.hive"),
          root("VNTR_WINDIR", "/opt/vntr"), a("FAKEA"), b("FAKEB") {}
    TempDir dir;
    ScopedEnv machine;
    ScopedEnv user;
    ScopedEnv root;
    FakeLibrary a;
    FakeLibrary b;
};

TEST_F(RegistrationTest, WritesBothRecordsWithTheSystemRootExpanded) {
    EXPECT_EQ(a.Register(), 0);
    using V = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Values(Hive::LocalMachine, std::string(kProduct) + "\\FAKEA"),
              (V{{"Fake FAKEA Core Engine", "/opt/vntr/VNTR/QBL/FAKEA.so"}, {"SDK Codec", ""}}));
    EXPECT_EQ(Values(Hive::CurrentUser, std::string(kProduct) + "\\FAKEA"),
              (V{{"Description", "Fake codec FAKEA"}, {"Selected", "YES"}}));
    // Twice: the same values, overwritten in place.
    EXPECT_EQ(a.Register(), 0);
    EXPECT_EQ(Values(Hive::LocalMachine, std::string(kProduct) + "\\FAKEA").size(), 2u);
}

TEST_F(RegistrationTest, UnregisteringOneLeavesTheOthersAndThenTheSharedKeysGo) {
    ASSERT_EQ(a.Register(), 0);
    ASSERT_EQ(b.Register(), 0);
    EXPECT_EQ(a.Unregister(), 0);
    EXPECT_FALSE(Exists(Hive::LocalMachine, std::string(kProduct) + "\\FAKEA"));
    EXPECT_FALSE(Exists(Hive::CurrentUser, std::string(kProduct) + "\\FAKEA"));
    EXPECT_TRUE(Exists(Hive::LocalMachine, std::string(kProduct) + "\\FAKEB"));
    EXPECT_TRUE(Exists(Hive::LocalMachine, kProduct));
    EXPECT_EQ(b.Unregister(), 0);
    EXPECT_FALSE(Exists(Hive::LocalMachine, "SOFTWARE\\Vantre"));
    EXPECT_FALSE(Exists(Hive::CurrentUser, "SOFTWARE\\Vantre"));
    // Again, with nothing left: still success.
    EXPECT_EQ(b.Unregister(), 0);
}

TEST_F(RegistrationTest, UserKeyWithThePreferencesOfTheEvaluatorStays) {
    ASSERT_EQ(a.Register(), 0);
    RegKey key;
    ASSERT_EQ(RegKey::Open(Hive::CurrentUser, std::string(kProduct) + "\\FAKEA", key), RegStatus::Ok);
    ASSERT_EQ(key.SetValue("Voice Activity Detection", "ON"), RegStatus::Ok);
    EXPECT_EQ(a.Unregister(), 0);
    using V = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Values(Hive::CurrentUser, std::string(kProduct) + "\\FAKEA"), (V{{"Voice Activity Detection", "ON"}}));
    EXPECT_FALSE(Exists(Hive::LocalMachine, "SOFTWARE\\Vantre"));
}

TEST_F(RegistrationTest, AFailureStopsEveryFurtherValueButNotTheKeys) {
    static constexpr reg::Value kValues[] = {{"one", "1"}, {"two", "<windir>\\x"}};
    static constexpr reg::KeyRecord kRecords[] = {{reg::Root::LocalMachine, "Bad\\\\Path", kValues},
                                                  {reg::Root::CurrentUser, "Good\\Key", kValues}};
    EXPECT_EQ(reg::Register(kRecords), CODEC_REG_E_FAIL);
    EXPECT_TRUE(Exists(Hive::CurrentUser, "Good\\Key"));
    EXPECT_TRUE(Values(Hive::CurrentUser, "Good\\Key").empty());

    static constexpr reg::KeyRecord kGood[] = {{reg::Root::CurrentUser, "Good\\Key", kValues}};
    EXPECT_EQ(reg::Register(kGood), CODEC_REG_OK);
    using V = std::vector<std::pair<std::string, std::string>>;
    // The marker matches without regard to case; the rest is kept as it is.
    EXPECT_EQ(Values(Hive::CurrentUser, "Good\\Key"), (V{{"one", "1"}, {"two", "/opt/vntr\\x"}}));
}

TEST_F(RegistrationTest, OnlyACompleteLeadingMarkerIsExpanded) {
    static constexpr reg::Value kValues[] = {{"a", "<WinDir"}, {"b", "x<WinDir>"}, {"c", "<WINDIR>"}};
    static constexpr reg::KeyRecord kRecords[] = {{reg::Root::CurrentUser, "K", kValues}};
    EXPECT_EQ(reg::Register(kRecords), CODEC_REG_OK);
    using V = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Values(Hive::CurrentUser, "K"), (V{{"a", "<WinDir"}, {"b", "x<WinDir>"}, {"c", "/opt/vntr"}}));
}

TEST_F(RegistrationTest, UnknownSystemRootFailsTheValueThatNeedsIt) {
    unsetenv("VNTR_WINDIR"); // this test program lies in no system root
    static constexpr reg::Value kValues[] = {{"plain", "p"}, {"engine", "<WinDir>/VNTR/QBL/X.so"}, {"after", "a"}};
    static constexpr reg::KeyRecord kRecords[] = {{reg::Root::CurrentUser, "K", kValues}};
    EXPECT_EQ(reg::Register(kRecords), CODEC_REG_E_FAIL);
    using V = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Values(Hive::CurrentUser, "K"), (V{{"plain", "p"}}));
}

TEST_F(RegistrationTest, DamagedHiveFailsRegistrationAndStaysAsItWas) {
    WriteBytes(dir / "m.hive", {'b', 'a', 'd', '\n'});
    EXPECT_EQ(a.Register(), CODEC_REG_E_FAIL);
    EXPECT_EQ(ReadBytes(dir / "m.hive"), (std::vector<uint8_t>{'b', 'a', 'd', '\n'}));
    EXPECT_EQ(a.Unregister(), CODEC_REG_OK);
}

int RunTool(const std::string &args, std::string *output = nullptr) {
    const std::string command = std::string(VNTR_TEST_VTREGSVR) + " " + args + " 2>&1";
    std::FILE *pipe = popen(command.c_str(), "r");
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    const int status = pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistrationTest, VtregsvrRegistersAndUnregisters) {
    std::string out;
    EXPECT_EQ(RunTool(FakePath("FAKEB"), &out), 0);
    EXPECT_EQ(out, "DllRegisterServer in " + FakePath("FAKEB") + " succeeded.\n");
    EXPECT_TRUE(Exists(Hive::LocalMachine, std::string(kProduct) + "\\FAKEB"));
    EXPECT_EQ(RunTool("-u -s " + FakePath("FAKEB"), &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_FALSE(Exists(Hive::LocalMachine, std::string(kProduct) + "\\FAKEB"));

    EXPECT_EQ(RunTool(dir / "none.so", &out), 1);
    EXPECT_NE(out.find("cannot load"), std::string::npos);
    EXPECT_EQ(RunTool("", &out), 2);
    EXPECT_NE(out.find("usage: vtregsvr"), std::string::npos);

    WriteBytes(dir / "m.hive", {'b', 'a', 'd', '\n'});
    EXPECT_EQ(RunTool(FakePath("FAKEB"), &out), 1);
    EXPECT_NE(out.find("failed (0x80040201)"), std::string::npos) << out;
    EXPECT_NE(out.find("registry hive is damaged"), std::string::npos) << out;
}

TEST_F(RegistrationTest, VtregsvrNamesAHiveWithAKeyTooDeepAndLeavesIt) {
    // One key 300 000 levels deep: refused where it stands, in either hive.
    std::string text = "VNTR-REGISTRY-HIVE 1\nkey ";
    for (int i = 0; i < 300000; ++i) text += i == 0 ? "k" : "\\k";
    text += "\nend 1 0\n";
    const std::vector<uint8_t> deep(text.begin(), text.end());
    for (const char *hive : {"m.hive", "u.hive"}) {
        SCOPED_TRACE(hive);
        fs::remove(dir / "m.hive");
        fs::remove(dir / "u.hive");
        WriteBytes(dir / hive, deep);
        std::string out;
        EXPECT_EQ(RunTool(FakePath("FAKEB"), &out), 1);
        EXPECT_NE(out.find("vtregsvr: " + (dir / hive) +
                           ": registry hive is damaged: line 2: key nested deeper "
                           "than 512 levels\n"),
                  std::string::npos)
            << out;
        EXPECT_EQ(ReadBytes(dir / hive), deep);
    }
}

} // namespace
