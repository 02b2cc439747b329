// Snapshots on a real folder: names, uniqueness within a second, newest first, keeping the newest
// and never touching a file that is not one of ours.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "settings/Backup.h"
#include "settings/Snapshots.h"

namespace vornic::settings {
namespace {

MountSettings controller(uint32_t hardware, uint32_t firmware, uint8_t portType) {
    MountSettings s;
    s.featureLevel = 6;
    s.hardwareVersion = hardware;
    s.firmwareVersion = firmware;
    s.portType = portType;
    s.maxSpeed[0] = 630;
    return s;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

class SnapshotStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vornic-snapshots-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        const std::string command = "rm -rf '" + root_ + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string root_;
};

TEST(ControllerFolderName, IsOneSafeNameForEveryIdentity) {
    for (const uint32_t v : {0u, 0x01020304u, 0xFFFFFFFFu, 0x2E2E2E2Eu}) {
        const std::string name = controllerFolderName(controller(v, ~v, static_cast<uint8_t>(v)));
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
        EXPECT_NE(name.front(), '.') << name;
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789._-"),
                  std::string::npos)
            << name;
    }
    EXPECT_NE(controllerFolderName(controller(1, 2, 1)), controllerFolderName(controller(1, 2, 2)))
        << "controllers that differ keep their snapshots apart";
}

TEST_F(SnapshotStoreTest, KeepsTheNewestFiftyAndLeavesForeignFilesAlone) {
    const SnapshotStore store(root_);
    const MountSettings c = controller(0x01000203, 0x03010000, 2);
    const std::string folder = store.folderFor(c);
    const std::time_t start = 1765000000;  // 2025-12-06
    std::string path;
    std::string error;
    ASSERT_TRUE(store.write(c, start, path, error)) << error;

    // Files that are not ours, some named almost like ours, a folder and a link named exactly so.
    const std::vector<std::string> foreign = {"notes.txt", "2020-01-01T00-00-00Z.json.bak",
                                              "2020-01-01T00-00-00Z-1.json",
                                              "2020-01-01T00-00-00Z-02.json", "..json"};
    for (const auto& name : foreign) {
        std::ofstream(folder + "/" + name) << "{}";
    }
    ASSERT_EQ(::mkdir((folder + "/2019-01-01T00-00-00Z.json").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("/etc/passwd", (folder + "/2018-01-01T00-00-00Z.json").c_str()), 0);

    // Two in the same second get names of their own.
    std::string second;
    ASSERT_TRUE(store.write(c, start, second, error)) << error;
    EXPECT_NE(second, path);
    for (int i = 1; i <= 52; ++i) {
        ASSERT_TRUE(store.write(c, start + i, path, error)) << error;
    }

    const auto list = store.list(c);
    ASSERT_EQ(list.size(), kSnapshotsKept);
    EXPECT_EQ(list.front().path, path) << "newest first";
    EXPECT_EQ(list.front().date, "2025-12-06 05:47:32 UTC");
    for (size_t i = 1; i < list.size(); ++i) {
        EXPECT_GT(list[i - 1].name, list[i].name);
    }
    for (const auto& name : foreign) {
        EXPECT_TRUE(exists(folder + "/" + name)) << name;
    }
    EXPECT_TRUE(exists(folder + "/2019-01-01T00-00-00Z.json"));
    EXPECT_TRUE(exists(folder + "/2018-01-01T00-00-00Z.json"));

    // What a snapshot holds reads back as the controller's backup.
    std::string text;
    ASSERT_TRUE(readFileText(list.front().path, text, error)) << error;
    SettingsImage image;
    ASSERT_TRUE(parseBackupText(text, image, error)) << error;
    EXPECT_TRUE(differences(image, c).empty());
    EXPECT_TRUE(checkSameController(image, c, error)) << error;
}

TEST_F(SnapshotStoreTest, AFolderThatCannotBeMadeIsAnErrorNotACrash) {
    const std::string blocker = root_ + "/file";
    std::ofstream(blocker) << "x";
    const SnapshotStore store(blocker);
    std::string path;
    std::string error;
    EXPECT_FALSE(store.write(controller(1, 2, 3), 1765000000, path, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(store.list(controller(1, 2, 3)).empty());
    EXPECT_FALSE(SnapshotStore("").write(controller(1, 2, 3), 1765000000, path, error));
}

}  // namespace
}  // namespace vornic::settings
