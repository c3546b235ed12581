// Where the system root, the temporary folder and the hives are.
#include <vntr/platform/paths.hpp>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace vntr::platform;

namespace {

TEST(PathsTest, RootFromALibraryOrAProgramPath) {
    EXPECT_EQ(SystemRootFromModulePath("/opt/vntr/VNTR/QBL/VT48.so"), "/opt/vntr");
    EXPECT_EQ(SystemRootFromModulePath("/opt/vntr/bin/vtbench32"), "/opt/vntr");
    EXPECT_EQ(SystemRootFromModulePath("/VNTR/QBL/VT48.so"), "/");
    EXPECT_EQ(SystemRootFromModulePath("/bin/vtregsvr"), "/");
    EXPECT_EQ(SystemRootFromModulePath("/opt/vntr/lib/VT48.so"), std::nullopt);
    EXPECT_EQ(SystemRootFromModulePath("/opt/VNTR/QBLX/VT48.so"), std::nullopt);
}

TEST(PathsTest, EnvironmentOverridesAndDefaults) {
    setenv("VNTR_WINDIR", "/some/root/", 1);
    EXPECT_EQ(SystemRoot(), "/some/root");
    unsetenv("VNTR_MACHINE_HIVE");
    EXPECT_EQ(MachineHivePath(), "/some/root/VNTR/registry/machine.hive");
    setenv("VNTR_MACHINE_HIVE", "/m.hive", 1);
    EXPECT_EQ(MachineHivePath(), "/m.hive");
    unsetenv("VNTR_MACHINE_HIVE");
    unsetenv("VNTR_WINDIR");

    unsetenv("VNTR_USER_HIVE");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserHivePath(), "/cfg/vtbench32/user.hive");
    unsetenv("XDG_CONFIG_HOME");
    const char *home = getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(UserHivePath(), "/home/someone/.config/vtbench32/user.hive");
    setenv("HOME", savedHome.c_str(), 1);
}

TEST(PathsTest, TemporaryFolderIsPrivateAndReused) {
    std::string base = (std::filesystem::temp_directory_path() / "vntr-paths-XXXXXX").string();
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    const char *old = getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TMPDIR", base.c_str(), 1);
    const auto first = UserTempDirectory();
    const auto second = UserTempDirectory();
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->back(), '/');
    struct stat st {};
    ASSERT_EQ(stat(first->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A file in its place is not a folder to use.
    std::filesystem::remove_all(*first);
    std::FILE *f = std::fopen(first->substr(0, first->size() - 1).c_str(), "w");
    std::fclose(f);
    EXPECT_FALSE(UserTempDirectory());
    if (old != nullptr) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    std::filesystem::remove_all(base);
}

TEST(PathsTest, FileNameAndFolderParts) {
    EXPECT_EQ(DirectoryOf("/a/b/c.so"), "/a/b");
    EXPECT_EQ(DirectoryOf("c.so"), ".");
    EXPECT_EQ(DirectoryOf("/c.so"), "/");
    EXPECT_EQ(FileNameOf("/a/b/c.so"), "c.so");
    EXPECT_EQ(FileNameOf("c.so"), "c.so");
}

} // namespace
