// Finding a player's mounted volumes in the mount table, and unmounting them through the first
// service that can, or refusing with the mount point named.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "transport/linux/Volumes.h"

namespace qdx {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A desktop with the player's volume auto-mounted under a name with a space, and the same
// partition bound a second time.
const char kMountInfo[] =
    "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
    "25 22 0:21 / /proc rw,nosuid - proc proc rw\n"
    "301 22 8:17 / /media/alice/MY\\040PLAYER rw,nosuid,nodev shared:200 - vfat /dev/sdb1 rw\n"
    "302 22 8:16 / /mnt/whole rw - vfat /dev/sdb rw\n"
    "303 22 8:33 / /media/alice/OTHER rw - vfat /dev/sdc1 rw\n"
    "304 22 8:17 /music /srv/music rw - vfat /dev/sdb1 rw\n";

TEST(FindMounts, ListsEveryMountOfTheDiskAndItsPartitionsOnly) {
    const std::map<std::string, std::string> sdb = {{"8:16", "sdb"}, {"8:17", "sdb1"}};
    EXPECT_THAT(
        FindMounts(kMountInfo, sdb),
        ElementsAre(MountedVolume{"sdb1", "/media/alice/MY PLAYER"},
                    MountedVolume{"sdb", "/mnt/whole"}, MountedVolume{"sdb1", "/srv/music"}));
    EXPECT_THAT(FindMounts(kMountInfo, {{"8:48", "sdd"}}), IsEmpty());
    EXPECT_THAT(FindMounts("garbage\n\n", sdb), IsEmpty());
}

TEST(DiskDeviceNumbers, ReadsTheDiskAndItsPartitionsFromSysfs) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(::testing::TempDir()) / "qdx-volumes-sys";
    fs::remove_all(root);
    const fs::path disk = root / "class" / "block" / "sdb";
    fs::create_directories(disk / "sdb1");
    fs::create_directories(disk / "queue");
    std::ofstream(disk / "dev") << "8:16\n";
    std::ofstream(disk / "sdb1" / "dev") << "8:17\n";
    std::ofstream(disk / "sdb1" / "partition") << "1\n";
    std::ofstream(disk / "queue" / "dev") << "not a partition\n";
    EXPECT_EQ(DiskDeviceNumbers("sdb", root.string()),
              (std::map<std::string, std::string>{{"8:16", "sdb"}, {"8:17", "sdb1"}}));
    EXPECT_THAT(DiskDeviceNumbers("sdz", root.string()), IsEmpty());
    fs::remove_all(root);
}

class FakeService final : public VolumeService {
public:
    FakeService(std::string name, std::map<std::string, Result> results)
        : m_name(std::move(name)), m_results(std::move(results)) {}
    std::string Name() const override { return m_name; }
    Result Unmount(const MountedVolume& volume, std::string* error) override {
        calls.push_back(volume.mountPoint);
        *error = "said no";
        auto found = m_results.find(volume.mountPoint);
        return found == m_results.end() ? Result::Done : found->second;
    }
    Result Reread(const std::string&, std::string*) override { return Result::Done; }
    std::vector<std::string> calls;

private:
    std::string m_name;
    std::map<std::string, Result> m_results;
};

TEST(UnmountVolumes, EachVolumeGoesToTheFirstServiceThatCanAndARefusalNamesTheMountPoint) {
    using Result = VolumeService::Result;
    const std::vector<MountedVolume> volumes = {{"sdb1", "/media/a"}, {"sdb2", "/media/b"}};

    // udisks2 not running: the kernel unmounts both.
    FakeService udisks("udisks2",
                       {{"/media/a", Result::Unavailable}, {"/media/b", Result::Unavailable}});
    FakeService kernel("the kernel", {});
    std::vector<std::string> unmounted;
    std::string why;
    EXPECT_TRUE(UnmountVolumes(volumes, {&udisks, &kernel}, &unmounted, &why));
    EXPECT_THAT(unmounted, ElementsAre("/media/a", "/media/b"));
    EXPECT_THAT(kernel.calls, ElementsAre("/media/a", "/media/b"));

    // udisks2 refuses the second (busy): the kernel is not asked to force it, and the job must
    // not start.
    FakeService busy("udisks2", {{"/media/b", Result::Failed}});
    FakeService kernel2("the kernel", {});
    unmounted.clear();
    EXPECT_FALSE(UnmountVolumes(volumes, {&busy, &kernel2}, &unmounted, &why));
    EXPECT_THAT(unmounted, ElementsAre("/media/a"));
    EXPECT_THAT(kernel2.calls, IsEmpty());
    EXPECT_THAT(why, HasSubstr("/media/b"));
    EXPECT_THAT(why, HasSubstr("/dev/sdb2"));
    EXPECT_THAT(why, HasSubstr("udisks2: said no"));

    // No service can (no udisks2, no root): refused with what to do.
    FakeService none("udisks2", {{"/media/a", Result::Unavailable}});
    FakeService noRoot("the kernel", {{"/media/a", Result::Unavailable}});
    EXPECT_FALSE(UnmountVolumes(volumes, {&none, &noRoot}, nullptr, &why));
    EXPECT_THAT(why, HasSubstr("/media/a"));
    EXPECT_THAT(why, HasSubstr("unmount it first"));
}

}  // namespace
}  // namespace qdx
