// The registry store: keys and values, the text form of a hive, damaged
// files, and what other processes see (persistence, concurrent writers, a
// writer killed in the middle of its work).
#include <vntr/platform/registry.hpp>
#include <vntr/platform/registry_store.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

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
    std::string again;
    ASSERT_TRUE(hive::Serialize(root, again));
    EXPECT_EQ(again, text);
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

TEST_F(RegistryTest, RandomDamageIsRefusedByLineOrReadsBackTheSame) {
    // The bounded counterpart of the hive fuzz target: bytes changed, cut or
    // repeated in a hive's text either fail with the line they spoil, or
    // parse into a tree that is written, parsed again and found equal.
    RegKey key;
    ASSERT_EQ(RegKey::CreateFile(file, "SOFTWARE\\Vantre\\QBL SDK\\VT48", key), RegStatus::Ok);
    ASSERT_EQ(key.SetValues(std::vector<RegValueWrite>{{"", "Description", "Veltrane(TM)48 Vocoder"},
                                                       {"", "Odd=%", std::string("\x01\xff\n", 3)},
                                                       {"Sub\\Opus 8k", "Peer Codec", "libopus"}}),
              RegStatus::Ok);
    const std::string valid = ReadFile();
    std::mt19937 random(24);
    const char kAlphabet[] = "key value end=%\\\n0123456789ABCDEFabcdef \x7f\x80";
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 4) {
            case 0:
                text[at] = kAlphabet[random() % (sizeof kAlphabet - 1)];
                break;
            case 1:
                text.erase(at, 1 + random() % 8);
                break;
            case 2:
                text.insert(at, text.substr(random() % text.size(), 1 + random() % 40));
                break;
            default:
                text.resize(at);
                break;
            }
        }
        hive::Node first;
        std::string error;
        if (!hive::Parse(text, first, error)) {
            ASSERT_EQ(error.rfind("line ", 0), 0u) << error;
            continue;
        }
        ++parsed;
        std::string written;
        ASSERT_TRUE(hive::Serialize(first, written));
        hive::Node second;
        ASSERT_TRUE(hive::Parse(written, second, error)) << error << "\n" << written;
        ASSERT_TRUE(hive::Equal(first, second)) << text;
        std::string again;
        ASSERT_TRUE(hive::Serialize(second, again));
        ASSERT_EQ(again, written);
    }
    EXPECT_GT(parsed, 0);
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

// "key " followed by a path of `depth` names of `nameLength` characters.
std::string DeepKeyLine(std::size_t depth, std::size_t nameLength = 1) {
    std::string line = "key ";
    line.reserve(4 + depth * (nameLength + 1));
    for (std::size_t i = 0; i < depth; ++i) {
        if (i != 0) line += '\\';
        line.append(nameLength, static_cast<char>('a' + i % 26));
    }
    return line + '\n';
}

TEST_F(RegistryTest, KeysDeeperThanTheLimitAreDamageNamedByTheirLine) {
    // A key hundreds of thousands of levels deep, or merely too deep to write
    // back within the size limit, is refused where it stands.
    for (const std::size_t depth : {std::size_t{300000}, std::size_t{12000}, hive::kMaxKeyDepth + 1}) {
        SCOPED_TRACE(depth);
        const std::string text = "VNTR-REGISTRY-HIVE 1\nkey A\n" + DeepKeyLine(depth) + "end 2 0\n";
        WriteFile(text);
        RegKey key;
        EXPECT_EQ(RegKey::OpenFile(file, "A", key), RegStatus::Damaged);
        EXPECT_EQ(RegKey::CreateFile(file, "B", key), RegStatus::Damaged);
        EXPECT_EQ(DiagnoseHiveFile(file),
                  file + ": registry hive is damaged: line 3: key nested deeper than 512 levels");
        EXPECT_EQ(ReadFile(), text);
    }
    // The deepest key allowed reads, writes and reads back the same.
    WriteFile("VNTR-REGISTRY-HIVE 1\n" + DeepKeyLine(hive::kMaxKeyDepth) + "value v=1\nend 1 1\n");
    RegKey root;
    ASSERT_EQ(RegKey::OpenFile(file, "", root), RegStatus::Ok);
    EXPECT_EQ(root.SetValue("top", "x"), RegStatus::Ok);
    hive::Node parsed;
    std::string error;
    ASSERT_EQ(hive::Load(file, parsed, error), RegStatus::Ok) << error;
    std::string path = DeepKeyLine(hive::kMaxKeyDepth).substr(4);
    path.pop_back();
    const hive::Node *deepest = hive::Find(parsed, path);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->values, (std::vector<std::pair<std::string, std::string>>{{"v", "1"}}));
    // A key below it is never made.
    RegKey key;
    EXPECT_EQ(RegKey::CreateFile(file, path + "\\deeper", key), RegStatus::InvalidArgument);
    EXPECT_EQ(root.SetValues(std::vector<RegValueWrite>{{path + "\\deeper", "v", "1"}}), RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey::OpenFile(file, path, key), RegStatus::Ok);
    RegKey deeper;
    EXPECT_EQ(key.CreateSubKey("deeper", deeper), RegStatus::InvalidArgument);
}

TEST_F(RegistryTest, TreesOfAnyDepthAreBuiltComparedWrittenAndFreedWithoutRecursion) {
    // Deep enough to overflow the stack of a recursive walk many times over.
    constexpr std::size_t kDepth = 300'000;
    auto chain = [] {
        hive::Node root;
        hive::Node *node = &root;
        for (std::size_t i = 0; i < kDepth; ++i) {
            auto child = std::make_unique<hive::Node>();
            child->name = "k";
            hive::Node *next = child.get();
            node->children.emplace("k", std::move(child));
            node = next;
        }
        node->values.emplace_back("leaf", "1");
        return root;
    };
    hive::Node a = chain();
    hive::Node b = chain();
    EXPECT_TRUE(hive::Equal(a, b));
    std::string path = "k";
    for (std::size_t i = 1; i < kDepth; ++i) path += "\\k";
    hive::Find(b, path)->values[0].second = "2";
    EXPECT_FALSE(hive::Equal(a, b));
    // Its text would be terabytes: the writer gives up at the limit.
    std::string text = "x";
    EXPECT_FALSE(hive::Serialize(a, text, 1 << 20));
    EXPECT_TRUE(text.empty());
    a = hive::Node{}; // freeing by assignment and by destruction
}

TEST_F(RegistryTest, AHiveTooLargeToReadBackIsNeverWritten) {
    // 512 levels of 600-character names: one key line is 300 kB, but the
    // text of all the keys above it is 80 MB, over what the reader takes.
    RegKey root;
    ASSERT_EQ(RegKey::CreateFile(file, "Kept", root), RegStatus::Ok);
    ASSERT_EQ(root.SetValue("v", "1"), RegStatus::Ok);
    const std::string before = ReadFile();
    std::string path = DeepKeyLine(hive::kMaxKeyDepth, 600).substr(4);
    path.pop_back();
    RegKey key;
    EXPECT_EQ(RegKey::CreateFile(file, path, key), RegStatus::IoError);
    EXPECT_EQ(ReadFile(), before);
    EXPECT_EQ(DiagnoseHiveFile(file), "");
    // The key that made it, and the tree that held it, are gone.
    EXPECT_EQ(RegKey::OpenFile(file, path.substr(0, 600), key), RegStatus::NotFound);
    std::string data;
    EXPECT_EQ(root.QueryValue("v", data), RegStatus::Ok);
    EXPECT_EQ(root.SetValue("w", "2"), RegStatus::Ok);
    EXPECT_EQ(RegKey::OpenFile(file, path.substr(0, 600), key), RegStatus::NotFound);
}

TEST_F(RegistryTest, KeysOpenedFromOneKeyShareOneReadingOfTheHive) {
    RegKey product;
    ASSERT_EQ(RegKey::CreateFile(file, "SOFTWARE\\P", product), RegStatus::Ok);
    std::vector<RegValueWrite> writes;
    for (int i = 0; i < 200; ++i) writes.push_back({"K" + std::to_string(i), "Selected", "YES"});
    ASSERT_EQ(product.SetValues(writes), RegStatus::Ok);

    HiveCache cache;
    RegKey shared;
    ASSERT_EQ(cache.OpenFile(file, "SOFTWARE\\P", shared), RegStatus::Ok);
    auto walk = [&] {
        int selected = 0;
        std::string name, data;
        for (uint32_t i = 0; shared.EnumKey(i, name) == RegStatus::Ok; ++i) {
            RegKey sub;
            if (shared.OpenSubKey(name, sub) == RegStatus::Ok && sub.QueryValue("Selected", data) == RegStatus::Ok &&
                data == "YES") {
                ++selected;
            }
        }
        return selected;
    };
    EXPECT_EQ(walk(), 200);
    RegKey other;
    ASSERT_EQ(cache.OpenFile(file, "SOFTWARE", other), RegStatus::Ok);
    const std::size_t reads = cache.Reads(file);
    EXPECT_LE(reads, 2u); // a file written less than a second ago is read once more to be sure of it
    // Once the file is old enough, nothing reads it again until it changes.
    timespec old[2] = {{time(nullptr) - 10, 0}, {time(nullptr) - 10, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    EXPECT_EQ(walk(), 200);
    EXPECT_EQ(walk(), 200);
    EXPECT_LE(cache.Reads(file), reads + 1);
    const std::size_t settled = cache.Reads(file);
    EXPECT_EQ(walk(), 200);
    EXPECT_EQ(cache.Reads(file), settled);

    // Another process's change is seen at once.
    EXPECT_EQ(InChild([&] {
                  RegKey key;
                  return RegKey::OpenFile(file, "SOFTWARE\\P\\K7", key) == RegStatus::Ok &&
                                 key.SetValue("Selected", "NO") == RegStatus::Ok
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(walk(), 199);
    EXPECT_EQ(cache.Reads(file), settled + 1);
}

TEST_F(RegistryTest, AFileRewrittenInPlaceWithTheSameSizeIsReadAgain) {
    // Same inode, same size, and (within a tick of the file system's clock)
    // the same modification time: only the bytes tell.
    HiveCache cache;
    for (const char *data : {"1", "2", "3", "4"}) {
        WriteFile(std::string("VNTR-REGISTRY-HIVE 1\nkey A\nvalue v=") + data + "\nend 1 1\n");
        RegKey key;
        ASSERT_EQ(cache.OpenFile(file, "A", key), RegStatus::Ok);
        std::string value;
        EXPECT_EQ(key.QueryValue("v", value), RegStatus::Ok);
        EXPECT_EQ(value, data);
    }
    WriteFile("VNTR-REGISTRY-HIVE 1\nkey A\nvalue v=5\nend 9 9\n");
    RegKey key;
    EXPECT_EQ(cache.OpenFile(file, "A", key), RegStatus::Damaged);
}

TEST_F(RegistryTest, OnlyChangesAreWrittenAndManyValuesInOneWrite) {
    RegKey key;
    ASSERT_EQ(RegKey::CreateFile(file, "K", key), RegStatus::Ok);
    ASSERT_EQ(key.SetValue("Selected", "YES"), RegStatus::Ok);
    auto inode = [&] {
        struct stat st {};
        return stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const ino_t first = inode();
    // The same data again writes nothing: the file is the one written before.
    EXPECT_EQ(key.SetValue("Selected", "YES"), RegStatus::Ok);
    EXPECT_EQ(inode(), first);
    RegKey again;
    EXPECT_EQ(RegKey::CreateFile(file, "K", again), RegStatus::Ok);
    EXPECT_EQ(inode(), first);
    // A value differing only in case is a change.
    EXPECT_EQ(key.SetValue("selected", "yes"), RegStatus::Ok);
    EXPECT_NE(inode(), first);
    std::string name, data;
    EXPECT_EQ(key.EnumValue(0, name, data), RegStatus::Ok);
    EXPECT_EQ(name, "Selected");
    EXPECT_EQ(data, "yes");

    // Many values under new subkeys: one new file.
    const ino_t second = inode();
    const std::vector<RegValueWrite> writes = {
        {"", "Own", "1"}, {"A", "x", "1"}, {"A", "y", "2"}, {"B\\C", "z", "3"}, {"A", "x", "4"}};
    EXPECT_EQ(key.SetValues(writes), RegStatus::Ok);
    const ino_t third = inode();
    EXPECT_NE(third, second);
    RegKey sub;
    ASSERT_EQ(RegKey::OpenFile(file, "K\\A", sub), RegStatus::Ok);
    EXPECT_EQ(sub.QueryValue("x", data), RegStatus::Ok);
    EXPECT_EQ(data, "4"); // the last write of a value wins
    ASSERT_EQ(RegKey::OpenFile(file, "K\\B\\C", sub), RegStatus::Ok);
    EXPECT_EQ(sub.QueryValue("z", data), RegStatus::Ok);
    EXPECT_EQ(data, "3");
    EXPECT_EQ(key.SetValues(writes), RegStatus::Ok);
    EXPECT_EQ(inode(), third);
    // A bad path anywhere: nothing is written.
    EXPECT_EQ(key.SetValues(std::vector<RegValueWrite>{{"D", "v", "1"}, {"E\\\\F", "v", "1"}}),
              RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey::OpenFile(file, "K\\D", sub), RegStatus::NotFound);
    EXPECT_EQ(inode(), third);
    // Through a deleted key: nothing either.
    ASSERT_EQ(RegKey::OpenFile(file, "K\\B\\C", sub), RegStatus::Ok);
    RegKey b;
    ASSERT_EQ(RegKey::OpenFile(file, "K\\B", b), RegStatus::Ok);
    ASSERT_EQ(b.DeleteSubKey("C"), RegStatus::Ok);
    EXPECT_EQ(sub.SetValues(std::vector<RegValueWrite>{{"", "v", "1"}}), RegStatus::KeyDeleted);
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
            for (int i = 0;; ++i)
                mine.SetValue("n" + std::to_string(round) + "_" + std::to_string(i), std::string(200, 'x'));
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
