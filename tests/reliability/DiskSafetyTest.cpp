// The wrong disk: only removable USB disks that hold no part of the running system may be taken
// for a player. Checked against a fake sysfs tree with the mount and swap tables as text.
#ifndef _WIN32
#include "transport/linux/DiskSafety.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/engine/ImageFixtures.h"

namespace qdx::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct FakeDisk {
    std::string name;
    bool removable;
    bool usb;
    std::string sg;  // empty: no sg node
    int partitions;
    std::string major;  // of the disk's MAJOR:MINOR; partitions take minors 1, 2, ...
};

// A sysfs tree laid out as the kernel does: devices below their bus, /sys/block and
// /sys/class/block linking into it, /sys/dev/block by number.
class FakeSysfs {
public:
    FakeSysfs() {
        system.sysRoot = (dir.Path() / "sys").string();
        system.devRoot = (dir.Path() / "dev").string();
        fs::create_directories(Sys() / "block");
        fs::create_directories(Sys() / "class" / "block");
        fs::create_directories(Sys() / "class" / "scsi_generic");
        fs::create_directories(Sys() / "dev" / "block");
        fs::create_directories(system.devRoot);
    }
    fs::path Sys() const { return system.sysRoot; }

    void Add(const FakeDisk& d) {
        const fs::path bus = d.usb ? Sys() / "devices/pci0000:00/usb1" / ("1-" + d.name)
                                   : Sys() / "devices/pci0000:00/ata" / d.name;
        fs::create_directories(bus);
        if (d.usb) {
            Write(bus / "idVendor", "1b3c");
            Write(bus / "idProduct", "0c2" + d.name.substr(d.name.size() - 1));
        }
        const fs::path scsi = bus / (d.usb ? "1-x:1.0" : "x") / "host" / "target" / "0:0:0:0";
        const fs::path block = scsi / "block" / d.name;
        fs::create_directories(block);
        Write(scsi / "vendor", d.usb ? "Acme    " : "ATA");
        Write(scsi / "model", "Disk " + d.name);
        Write(block / "removable", d.removable ? "1" : "0");
        Write(block / "size", "31250");
        fs::create_directory_symlink(scsi, block / "device");
        fs::create_directory_symlink(block, Sys() / "block" / d.name);
        fs::create_directory_symlink(block, Sys() / "class" / "block" / d.name);
        fs::create_directory_symlink(block, Sys() / "dev" / "block" / (d.major + ":0"));
        if (!d.sg.empty()) {
            fs::create_directories(scsi / "scsi_generic" / d.sg);
            fs::create_directories(Sys() / "class" / "scsi_generic" / d.sg);
            fs::create_directory_symlink(scsi, Sys() / "class" / "scsi_generic" / d.sg / "device");
            Write(fs::path(system.devRoot) / d.sg, "");
        }
        for (int p = 1; p <= d.partitions; ++p) {
            const std::string part = d.name + std::to_string(p);
            fs::create_directories(block / part);
            Write(block / part / "partition", std::to_string(p));
            fs::create_directory_symlink(block / part, Sys() / "class" / "block" / part);
            fs::create_directory_symlink(
                block / part, Sys() / "dev" / "block" / (d.major + ":" + std::to_string(p)));
        }
    }

    // A device-mapper volume over the given partitions.
    void AddMapper(const std::string& name, const std::string& number,
                   const std::vector<std::string>& slaves) {
        const fs::path block = Sys() / "devices/virtual/block" / name;
        for (const std::string& slave : slaves) {
            fs::create_directories(block / "slaves" / slave);
        }
        fs::create_directory_symlink(block, Sys() / "block" / name);
        fs::create_directory_symlink(block, Sys() / "class" / "block" / name);
        fs::create_directory_symlink(block, Sys() / "dev" / "block" / number);
    }

    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << '\n';
    }

    TempDir dir;
    SystemView system;
};

class DiskSafety : public ::testing::Test {
protected:
    void SetUp() override {
        sys.Add({"sda", false, false, "sg0", 2, "8"});    // the system disk: /, /boot
        sys.Add({"sdb", true, true, "sg1", 1, "12"});     // a player, one partition mounted
        sys.Add({"sdc", false, true, "sg2", 1, "9"});     // a USB hard disk: fixed
        sys.Add({"mmcblk0", true, false, "", 1, "179"});  // a card reader, not on USB
        sys.Add({"sdd", true, true, "sg3", 1, "10"});     // removable USB, but swap on it
        sys.Add({"sde", true, true, "sg4", 1, "11"});     // removable USB, /home through LVM
        sys.Add({"loop0", false, false, "", 0, "7"});
        sys.AddMapper("dm-0", "253:0", {"sde1"});
        sys.system.mountInfo =
            "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
            "23 22 8:1 / /boot rw,relatime shared:2 - vfat /dev/sda1 rw\n"
            "24 22 253:0 / /home rw shared:3 - ext4 /dev/mapper/home rw\n"
            "25 22 0:22 / /proc rw shared:4 - proc proc rw\n"
            "40 22 12:1 / /media/usb\\040stick rw shared:9 - vfat /dev/sdb1 rw\n";
        sys.system.swaps =
            "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
            "/dev/sdd1                               partition\t1000\t0\t-2\n"
            "/swapfile                               file\t\t100\t0\t-3\n";
    }
    FakeSysfs sys;
};

TEST_F(DiskSafety, OnlyRemovableUsbDisksOutsideTheSystemAreCandidates) {
    std::map<std::string, DiskInfo> byName;
    for (const DiskInfo& disk : ScanDisks(sys.system)) {
        byName[disk.name] = disk;
    }
    EXPECT_EQ(byName.count("loop0"), 0u) << "virtual disks are not listed";
    EXPECT_EQ(byName.count("dm-0"), 0u);

    const DiskInfo& player = byName.at("sdb");
    EXPECT_THAT(player.refusal, IsEmpty());
    EXPECT_EQ(player.node, "/dev/sdb");
    EXPECT_EQ(player.usbId, "1b3c:0c2b");
    EXPECT_EQ(player.sgNode, "/dev/sg1");
    EXPECT_TRUE(player.accessible);
    EXPECT_EQ(player.sizeBytes, 31250u * 512);
    EXPECT_EQ(player.model, "Disk sdb");

    struct Refused {
        const char* name;
        std::vector<const char*> says;
    };
    const Refused refused[] = {
        {"sda", {"/dev/sda", "running system", "/,", "/boot"}},
        {"sdc", {"/dev/sdc", "fixed disk"}},
        {"mmcblk0", {"/dev/mmcblk0", "not attached through USB"}},
        {"sdd", {"/dev/sdd", "running system", "swap"}},
        {"sde", {"/dev/sde", "running system", "/home"}},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        for (const char* part : r.says) {
            EXPECT_THAT(byName.at(r.name).refusal, HasSubstr(part));
        }
    }
}

TEST_F(DiskSafety, EveryNameOfADiskLeadsToTheSameDecision) {
    struct Case {
        std::string path;
        bool accepted;
        const char* says;
    };
    const Case cases[] = {
        {"/dev/sdb", true, ""},
        {"/dev/sdb1", true, ""},
        {"/dev/sg1", true, ""},
        {"/dev/sda", false, "/dev/sda holds the running system"},
        {"/dev/sda1", false, "/dev/sda1: /dev/sda holds the running system"},
        {"/dev/sg0", false, "/dev/sda holds the running system"},
        {"/dev/sdc1", false, "/dev/sdc is a fixed disk"},
        {"/dev/sde1", false, "/home"},
        {"/dev/nosuchdisk", false, "no disk of this host"},
        {"/dev/sg9", false, "no disk of this host"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string why;
        EXPECT_EQ(CheckPlayerDisk(c.path, sys.system, &why), c.accepted) << why;
        if (c.accepted) {
            EXPECT_THAT(why, IsEmpty());
        } else {
            EXPECT_THAT(why, HasSubstr(c.says));
        }
    }
}

TEST_F(DiskSafety, ASgNodeThatCannotBeOpenedIsShownAsNoAccess) {
    fs::remove(fs::path(sys.system.devRoot) / "sg1");
    const DiskInfo player = DescribeDisk("sdb", sys.system);
    EXPECT_THAT(player.refusal, IsEmpty()) << "no access is not a refusal: the udev rule fixes it";
    EXPECT_FALSE(player.accessible);
}

TEST_F(DiskSafety, ThisHostsOwnSystemDiskIsNeverAccepted) {
    // Whatever this machine runs on: the disk that holds / must be refused by name.
    const SystemView host = CurrentSystemView();
    for (const DiskInfo& disk : ScanDisks(host)) {
        for (const std::string& use : disk.systemMounts) {
            if (use == "/") {
                std::string why;
                EXPECT_FALSE(CheckPlayerDisk(disk.node, host, &why));
                EXPECT_THAT(why, HasSubstr(disk.node));
            }
        }
    }
}

}  // namespace
}  // namespace qdx::test
#endif
