// The registry store: keys and values, the text form of a hive, damaged
// files, and what other processes see (persistence, concurrent writers, a
// writer killed in the middle of its work).
#include <vntr/platform/registry.hpp>
#include <vntr/platform/registry_store.hpp>

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace vntr::platform;
namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vntr-reg-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        file = dir + "/sub/dir/test.hive";
    }
    void TearDown() override { fs::remove_all(dir); }
    void WriteFile(const std::string &text) {
        fs::create_directories(fs::path(file).parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }
    std::string ReadFile() {
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::string dir;
    std::string file;
};

TEST_F(RegistryTest, CreateSetQueryEnumerateAndDelete) {
    RegKey key;
    ASSERT_EQ(RegKey::CreateFile(file, "SOFTWARE\\Vantre\\QBL SDK\\VT48", key), RegStatus::Ok);
    EXPECT_EQ(key.SetValue("Description", "Veltrane(TM)48 Vocoder"), RegStatus::Ok);
    EXPECT_EQ(key.SetValue("Selected", "YES"), RegStatus::Ok);
    EXPECT_EQ(key.SetValue("Empty", ""), RegStatus::Ok);
    std::string data;
    EXPECT_EQ(key.QueryValue("description", data), RegStatus::Ok); // names ignore case
    EXPECT_EQ(data, "Veltrane(TM)48 Vocoder");
    EXPECT_EQ(key.QueryValue("Empty", data), RegStatus::Ok);
    EXPECT_EQ(data, "");
    EXPECT_EQ(key.QueryValue("Missing", data), RegStatus::NotFound);
    EXPECT_EQ(key.QueryValue("Selected", data, 3), RegStatus::MoreData); // "YES" and its zero need 4
    EXPECT_EQ(key.QueryValue("Selected", data, 4), RegStatus::Ok);

    // Overwriting keeps the value's place; values enumerate in the order first set.
    EXPECT_EQ(key.SetValue("DESCRIPTION", "other"), RegStatus::Ok);
    std::string name;
    EXPECT_EQ(key.EnumValue(0, name, data), RegStatus::Ok);
    EXPECT_EQ(name, "Description");
    EXPECT_EQ(data, "other");
    EXPECT_EQ(key.EnumValue(3, name, data), RegStatus::NoMoreItems);

    RegKeyInfo info;
    EXPECT_EQ(key.QueryInfo(info), RegStatus::Ok);
    EXPECT_EQ(info.values, 3u);
    EXPECT_EQ(info.subKeys, 0u);
    EXPECT_EQ(info.maxValueNameLength, 11u);

    EXPECT_EQ(key.DeleteValue("Selected"), RegStatus::Ok);
    EXPECT_EQ(key.DeleteValue("Selected"), RegStatus::NotFound);

    RegKey product;
    ASSERT_EQ(RegKey::OpenFile(file, "software\\VANTRE\\qbl sdk", product), RegStatus::Ok);
    EXPECT_EQ(product.EnumKey(0, name), RegStatus::Ok);
    EXPECT_EQ(name, "VT48");
    EXPECT_EQ(product.EnumKey(1, name), RegStatus::NoMoreItems);
    // A key with a subkey cannot be deleted; an empty one can, with its values.
    RegKey root;
    ASSERT_EQ(RegKey::OpenFile(file, "", root), RegStatus::Ok);
    EXPECT_EQ(root.DeleteSubKey("SOFTWARE\\Vantre"), RegStatus::AccessDenied);
    EXPECT_EQ(product.DeleteSubKey("VT48"), RegStatus::Ok);
    EXPECT_EQ(key.SetValue("x", "y"), RegStatus::KeyDeleted);
    EXPECT_EQ(RegKey::OpenFile(file, "SOFTWARE\\Vantre\\QBL SDK\\VT48", key), RegStatus::NotFound);
    EXPECT_EQ(product.DeleteSubKey("VT48"), RegStatus::NotFound);
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderAndLongNamesNeedABiggerBuffer) {
    RegKey key;
    for (const char *name : {"VT48", "VT120", "vt15", "NAME_OF_TWENTY_CHARS", "A"}) {
        ASSERT_EQ(RegKey::CreateFile(file, std::string("P\\") + name, key), RegStatus::Ok);
    }
    RegKey parent;
    ASSERT_EQ(RegKey::OpenFile(file, "P", parent), RegStatus::Ok);
    std::vector<std::string> names;
    std::string name;
    for (uint32_t i = 0;; ++i) {
        const RegStatus s = parent.EnumKey(i, name, 20);
        if (s == RegStatus::NoMoreItems) break;
        names.push_back(s == RegStatus::Ok ? name : "<too long>");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "<too long>", "VT120", "vt15", "VT48"}));
}

TEST_F(RegistryTest, BadPathsAndClosedKeys) {
    RegKey key;
    EXPECT_EQ(RegKey::CreateFile(file, "A\\\\B", key), RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey::CreateFile(file, "\\A", key), RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey::OpenFile(file, "A", key), RegStatus::NotFound); // nothing was written
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(key.SetValue("a", "b"), RegStatus::InvalidHandle);
    ASSERT_EQ(RegKey::CreateFile(file, "A", key), RegStatus::Ok);
    EXPECT_EQ(key.Close(), RegStatus::Ok);
    EXPECT_EQ(key.Close(), RegStatus::InvalidHandle);
}

TEST_F(RegistryTest, TextFormRoundTripsAwkwardBytes) {
    hive::Node root;
    RegKey key;
    const std::string awkward = std::string("line\nbreak % = \x01\xff end", 21);
    ASSERT_EQ(RegKey::CreateFile(file, "Key with spaces\\k=%", key), RegStatus::Ok);
    ASSERT_EQ(key.SetValue("name=with%equals", awkward), RegStatus::Ok);
    ASSERT_EQ(key.SetValue("", "default value"), RegStatus::Ok);
    std::string error;
    ASSERT_EQ(hive::Load(file, root, error), RegStatus::Ok) << error;
    const std::string text = ReadFile();
    EXPECT_EQ(text.rfind("VNTR-REGISTRY-HIVE 1\n", 0), 0u);
    EXPECT_NE(text.find("end 2 2\n"), std::string::npos);
    std::string data;
    EXPECT_EQ(key.QueryValue("name=with%equals", data), RegStatus::Ok);
    EXPECT_EQ(data, awkward);
    EXPECT_EQ(key.QueryValue("", data), RegStatus::Ok);
    EXPECT_EQ(data, "default value");
    EXPECT_EQ(hive::Serialize(root), text);
}

TEST_F(RegistryTest, DamagedHivesAreRefusedWithTheirLineAndNeverOverwritten) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "empty file"},
        {"not a hive\n", "line 1: not a registry hive"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nvalue x=1\n", "closing line missing"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nvalue x=1\nend 1 1", "line 4: last line is cut short"},
        {"VNTR-REGISTRY-HIVE 1\nvalue x=1\nend 0 1\n", "line 2: value outside a key"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nvalue x=%G1\nend 1 1\n", "line 3: bad escape"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nvalue x=%4\nend 1 1\n", "line 3: bad escape"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nkey a\nend 2 0\n", "line 3: key listed twice"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\\\\B\nend 1 0\n", "line 2: empty key name"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nend 2 0\n", "line 3: closing line does not match"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nend 1 0\nkey B\n", "line 4: text after the closing line"},
        {"VNTR-REGISTRY-HIVE 1\nkey A\nvalue novalue\nend 1 1\n", "line 3: value without '='"},
        {"VNTR-REGISTRY-HIVE 1\nfoo\nend 0 0\n", "line 2: unknown line"},
    };
    for (const auto &[text, why] : cases) {
        SCOPED_TRACE(why);
        WriteFile(text);
        RegKey key;
        EXPECT_EQ(RegKey::OpenFile(file, "A", key), RegStatus::Damaged);
        EXPECT_EQ(RegKey::CreateFile(file, "B", key), RegStatus::Damaged);
        const std::string diagnosis = DiagnoseHiveFile(file);
        EXPECT_NE(diagnosis.find(file), std::string::npos) << diagnosis;
        EXPECT_NE(diagnosis.find("damaged"), std::string::npos) << diagnosis;
        EXPECT_NE(diagnosis.find(why), std::string::npos) << diagnosis;
        EXPECT_EQ(ReadFile(), text);
    }
    WriteFile("VNTR-REGISTRY-HIVE 1\nend 0 0\n");
    EXPECT_EQ(DiagnoseHiveFile(file), "");
}

TEST_F(RegistryTest, UnreadableHiveIsAnIoError) {
    // A folder where the hive file should be.
    fs::create_directories(file);
    RegKey key;
    EXPECT_EQ(RegKey::OpenFile(file, "", key), RegStatus::IoError);
    EXPECT_EQ(RegKey::CreateFile(file, "A", key), RegStatus::IoError);
    EXPECT_NE(DiagnoseHiveFile(file).find("not a regular file"), std::string::npos) << DiagnoseHiveFile(file);
    fs::remove(file);
    if (geteuid() == 0) return; // root reads every file
    WriteFile("VNTR-REGISTRY-HIVE 1\nend 0 0\n");
    fs::permissions(file, fs::perms::none);
    EXPECT_EQ(RegKey::OpenFile(file, "", key), RegStatus::IoError);
    EXPECT_NE(DiagnoseHiveFile(file).find("cannot open"), std::string::npos);
}

TEST_F(RegistryTest, HiveFilesFollowTheEnvironment) {
    setenv("VNTR_MACHINE_HIVE", (dir + "/m.hive").c_str(), 1);
    setenv("VNTR_USER_HIVE", (dir + "/u.hive").c_str(), 1);
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "M", key), RegStatus::Ok);
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, "U", key), RegStatus::Ok);
    EXPECT_EQ(RegKey::Open(Hive::CurrentUser, "M", key), RegStatus::NotFound);
    EXPECT_EQ(RegDeleteKey(Hive::LocalMachine, "M"), RegStatus::Ok);
    EXPECT_EQ(RegKey::OpenFile(dir + "/u.hive", "U", key), RegStatus::Ok);
    unsetenv("VNTR_MACHINE_HIVE");
    unsetenv("VNTR_USER_HIVE");
}

// Runs `body` in a child process and returns its exit status.
template <class Body>
int InChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, ValuesPersistAcrossProcesses) {
    EXPECT_EQ(InChild([&] {
                  RegKey key;
                  return RegKey::CreateFile(file, "SOFTWARE\\X", key) == RegStatus::Ok &&
                                 key.SetValue("Written by", "child") == RegStatus::Ok
                             ? 0
                             : 1;
              }),
              0);
    RegKey key;
    ASSERT_EQ(RegKey::OpenFile(file, "SOFTWARE\\X", key), RegStatus::Ok);
    std::string data;
    EXPECT_EQ(key.QueryValue("Written by", data), RegStatus::Ok);
    EXPECT_EQ(data, "child");
}

TEST_F(RegistryTest, TwoWritersAtOnceLoseNothing) {
    RegKey key;
    ASSERT_EQ(RegKey::CreateFile(file, "Shared", key), RegStatus::Ok);
    constexpr int kWriters = 3;
    constexpr int kValues = 40;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        if (pid == 0) {
            RegKey mine;
            if (RegKey::OpenFile(file, "Shared", mine) != RegStatus::Ok) _exit(1);
            for (int i = 0; i < kValues; ++i) {
                if (mine.SetValue("w" + std::to_string(w) + "_" + std::to_string(i), "v") != RegStatus::Ok) _exit(2);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegKeyInfo info;
    ASSERT_EQ(key.QueryInfo(info), RegStatus::Ok);
    EXPECT_EQ(info.values, static_cast<uint32_t>(kWriters * kValues));
}

TEST_F(RegistryTest, AWriterKilledAtAnyMomentLeavesAWholeHive) {
    RegKey key;
    ASSERT_EQ(RegKey::CreateFile(file, "Counter", key), RegStatus::Ok);
    for (int round = 0; round < 8; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            RegKey mine;
            if (RegKey::OpenFile(file, "Counter", mine) != RegStatus::Ok) _exit(1);
            for (int i = 0;; ++i) mine.SetValue("n" + std::to_string(round) + "_" + std::to_string(i), std::string(200, 'x'));
        }
        usleep(static_cast<useconds_t>(3000 + 2500 * round));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        // The hive parses, and holds a prefix of the values the child set.
        RegKeyInfo info;
        ASSERT_EQ(key.QueryInfo(info), RegStatus::Ok) << DiagnoseHiveFile(file);
        const std::string prefix = "n" + std::to_string(round) + "_";
        int count = 0;
        int highest = -1;
        std::string name, data;
        for (uint32_t i = 0; key.EnumValue(i, name, data) == RegStatus::Ok; ++i) {
            if (name.rfind(prefix, 0) != 0) continue;
            ++count;
            highest = std::max(highest, std::stoi(name.substr(prefix.size())));
            EXPECT_EQ(data.size(), 200u);
        }
        EXPECT_EQ(count, highest + 1) << "values " << prefix << "0.." << highest << " with gaps";
        // And the next writer is not blocked by what the killed one left behind.
        EXPECT_EQ(key.SetValue("after" + std::to_string(round), "ok"), RegStatus::Ok);
    }
}

} // namespace
