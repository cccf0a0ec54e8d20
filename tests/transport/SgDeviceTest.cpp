// The SG_IO backend through its system-call seam: what reaches the kernel for each command, how
// its answers become the transport status, and how a disk path finds its sg node. No disk is used.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "transport/VendorCommand.h"
#include "transport/linux/SgDevice.h"

namespace qdx {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class FakeSgSystem final : public SgSystem {
public:
    struct Request {
        int fd;
        sg_io_hdr_t header;
        std::vector<std::uint8_t> cdb;  // copied during the call: cmdp points at the sender's stack
    };

    // The filesystem: nodes that exist, symbolic links, directory listings.
    std::set<std::string> paths;
    std::map<std::string, std::string> links;
    std::map<std::string, std::vector<std::string>> directories;

    std::map<std::string, int> openErrors;
    std::vector<std::pair<std::string, int>> opened;  // path, flags
    std::vector<int> closed;

    std::vector<Request> requests;
    int ioctlError = 0;
    // What the next SG_IO writes back when it succeeds.
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    std::vector<std::uint8_t> sense;
    // Like the kernel, a data-in request gets its whole buffer written, whatever the residue
    // says the device sent: these bytes, repeated.
    std::vector<std::uint8_t> kernelBytes;
    int resid = 0;

    int Open(const std::string& path, int flags) override {
        opened.emplace_back(path, flags);
        auto error = openErrors.find(path);
        return error != openErrors.end() ? -error->second : kFirstFd;
    }

    int SgIo(int fd, sg_io_hdr_t* header) override {
        const auto* cdb = static_cast<const std::uint8_t*>(header->cmdp);
        requests.push_back({fd, *header, std::vector<std::uint8_t>(cdb, cdb + header->cmd_len)});
        if (ioctlError != 0) {
            return ioctlError;
        }
        header->status = status;
        header->host_status = hostStatus;
        header->driver_status = driverStatus;
        header->sb_len_wr = static_cast<unsigned char>(sense.size());
        std::copy(sense.begin(), sense.end(), static_cast<std::uint8_t*>(header->sbp));
        header->resid = resid;
        if (header->dxfer_direction == SG_DXFER_FROM_DEV && !kernelBytes.empty()) {
            auto* data = static_cast<std::uint8_t*>(header->dxferp);
            for (unsigned int i = 0; i < header->dxfer_len; ++i) {
                data[i] = kernelBytes[i % kernelBytes.size()];
            }
        }
        return 0;
    }

    void Close(int fd) override { closed.push_back(fd); }

    std::string RealPath(const std::string& path, int* error) override {
        auto link = links.find(path);
        if (link != links.end()) {
            return link->second;
        }
        if (paths.count(path) != 0) {
            return path;
        }
        *error = ENOENT;
        return {};
    }

    std::vector<std::string> ListDirectory(const std::string& path) override {
        auto directory = directories.find(path);
        return directory != directories.end() ? directory->second : std::vector<std::string>{};
    }

    bool Exists(const std::string& path) override {
        return paths.count(path) != 0 || links.count(path) != 0 || directories.count(path) != 0;
    }

    static constexpr int kFirstFd = 7;
};

class SgDeviceTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeSgSystem> system = std::make_shared<FakeSgSystem>();
    SgDevice device{FakeSgSystem::kFirstFd, system};
};

TEST_F(SgDeviceTest, EachCommandReachesTheKernelWithItsDirectionLengthTimeoutAndBytes) {
    std::uint8_t id[kIdBytes];
    std::uint8_t sector[kSectorBytes];
    std::uint8_t spare[kSpareBytes];
    struct Case {
        const char* name;
        CommandDescription command;
        int direction;
        unsigned int length;
        void* buffer;
        unsigned int timeoutMs;
    };
    const std::vector<Case> cases = {
        {"ReadId", BuildReadId(1, id), SG_DXFER_FROM_DEV, 2, id, 10000},
        {"ReadSector", BuildReadSector(0x01020304, sector), SG_DXFER_FROM_DEV, 512, sector, 10000},
        {"ReadSpare", BuildReadSpare(0x20, spare), SG_DXFER_FROM_DEV, 16, spare, 10000},
        {"WriteSector", BuildWriteSector(0x21, sector), SG_DXFER_TO_DEV, 512, sector, 10000},
        {"EraseBlock", BuildEraseBlock(0x40), SG_DXFER_NONE, 0, nullptr, 10000},
        {"SetWriteTag", BuildSetWriteTag(0x1234), SG_DXFER_NONE, 0, nullptr, 10000},
        {"Format", BuildFormat(), SG_DXFER_NONE, 0, nullptr, 100000},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system->requests.clear();
        ASSERT_TRUE(device.Send(c.command));
        ASSERT_EQ(system->requests.size(), 1u);
        const FakeSgSystem::Request& sent = system->requests[0];
        EXPECT_EQ(sent.fd, FakeSgSystem::kFirstFd);
        EXPECT_EQ(sent.header.interface_id, 'S');
        EXPECT_EQ(sent.header.dxfer_direction, c.direction);
        EXPECT_EQ(sent.header.dxfer_len, c.length);
        EXPECT_EQ(sent.header.dxferp, c.buffer);
        EXPECT_EQ(sent.header.timeout, c.timeoutMs);
        EXPECT_EQ(sent.header.cmd_len, kCdbLength);
        EXPECT_THAT(sent.cdb, ElementsAreArray(c.command.cdb));
        EXPECT_EQ(sent.header.iovec_count, 0);
        EXPECT_EQ(sent.header.mx_sb_len, kSgSenseBytes);
        EXPECT_NE(sent.header.sbp, nullptr);
    }
}

TEST_F(SgDeviceTest, FailedIoctlIsNotDeliveredAndKeepsErrno) {
    system->ioctlError = ENODEV;  // the player was unplugged
    EXPECT_FALSE(device.Send(BuildSetWriteTag(0)));
    TransportStatus status = device.LastStatus();
    EXPECT_FALSE(status.delivered);
    EXPECT_EQ(status.osError, ENODEV);
}

TEST_F(SgDeviceTest, ErrorStatusFromTheDeviceStillCountsAsDeliveredAndIsKept) {
    const std::vector<std::uint8_t> sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24};
    system->status = 0x02;        // check condition
    system->driverStatus = 0x08;  // driver has sense
    system->sense = sense;
    std::uint8_t data[kSectorBytes];
    EXPECT_TRUE(device.Send(BuildReadSector(0xFFFFFF00, data)));
    TransportStatus status = device.LastStatus();
    EXPECT_TRUE(status.delivered);
    EXPECT_EQ(status.scsiStatus, 0x02);
    EXPECT_EQ(status.driverStatus, 0x08);
    EXPECT_EQ(status.sense, sense);

    // The next command's status must not inherit this one's sense bytes.
    system->status = 0;
    system->driverStatus = 0;
    system->sense.clear();
    EXPECT_TRUE(device.Send(BuildReadSector(0, data)));
    status = device.LastStatus();
    EXPECT_EQ(status.scsiStatus, 0);
    EXPECT_THAT(status.sense, IsEmpty());
}

TEST_F(SgDeviceTest, TransportErrorsAreNotDelivered) {
    struct Case {
        unsigned short host;
        unsigned short driver;
    };
    // DID_NO_CONNECT (the player left), DID_ERROR, DID_RESET; a driver timeout with and
    // without sense.
    const std::vector<Case> cases = {{0x01, 0}, {0x07, 0}, {0x08, 0}, {0, 0x06}, {0, 0x0E}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "host " << c.host << " driver " << c.driver);
        system->hostStatus = c.host;
        system->driverStatus = c.driver;
        EXPECT_FALSE(device.Send(BuildSetWriteTag(0)));
        TransportStatus status = device.LastStatus();
        EXPECT_FALSE(status.delivered);
        EXPECT_EQ(status.hostStatus, c.host);
        EXPECT_EQ(status.driverStatus, c.driver);
        EXPECT_THAT(status.Describe(), HasSubstr("transport error"));
    }
}

// Only the bytes the device sent are data: a refused ID read must not show the previous
// answer, which the kernel copies back from its own buffer.
TEST_F(SgDeviceTest, DataInKeepsTheCallersBytesBeyondWhatTheDeviceSent) {
    struct Case {
        const char* name;
        unsigned char status;
        unsigned short host;
        int ioctlError;
        int resid;
        std::size_t deviceBytes;  // of the 16 requested
        std::uint32_t residue;
    };
    const std::vector<Case> cases = {
        {"all sent", 0, 0, 0, 0, 16, 0},
        {"short answer", 0, 0, 0, 6, 10, 6},
        {"refused, nothing sent", 2, 0, 0, 16, 0, 16},
        {"residue beyond the length", 2, 0, 0, 40, 0, 16},
        {"negative residue", 0, 0, 0, -3, 16, 0},
        {"transport error", 0, 0x07, 0, 0, 0, 0},
        {"ioctl failed", 0, 0, EIO, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system->status = c.status;
        system->hostStatus = c.host;
        system->ioctlError = c.ioctlError;
        system->resid = c.resid;
        system->kernelBytes = {0xAB};
        std::uint8_t spare[kSpareBytes];
        std::fill(std::begin(spare), std::end(spare), 0x11);

        device.Send(BuildReadSpare(3, spare));

        for (std::size_t i = 0; i < kSpareBytes; ++i) {
            EXPECT_EQ(spare[i], i < c.deviceBytes ? 0xAB : 0x11) << "byte " << i;
        }
        EXPECT_EQ(device.LastStatus().residue, c.residue);
    }
}

TEST_F(SgDeviceTest, ARefusedSecondIdReadLeavesThePreclearedBytes) {
    std::uint8_t chip0[kIdBytes] = {0, 0};
    system->kernelBytes = {0x73, 0x00};
    ASSERT_TRUE(device.Send(BuildReadId(0, chip0)));
    EXPECT_EQ(chip0[0], 0x73);

    // A one-chip player refuses chip 1: CHECK CONDITION, nothing transferred.
    system->status = 0x02;
    system->resid = kIdBytes;
    system->sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x25};
    std::uint8_t chip1[kIdBytes] = {0, 0};
    EXPECT_TRUE(device.Send(BuildReadId(1, chip1)));
    EXPECT_EQ(chip1[0], 0) << "the buffer shows the previous answer";
    EXPECT_EQ(device.LastStatus().residue, kIdBytes);
    EXPECT_THAT(device.LastStatus().Describe(), HasSubstr("residue 2"));
}

TEST_F(SgDeviceTest, CloseReleasesTheDescriptorOnceAndLaterSendsFail) {
    device.Close();
    device.Close();
    EXPECT_EQ(system->closed, std::vector<int>{FakeSgSystem::kFirstFd});

    EXPECT_FALSE(device.Send(BuildFormat()));
    EXPECT_TRUE(system->requests.empty());
    EXPECT_FALSE(device.LastStatus().delivered);
    EXPECT_NE(device.LastStatus().osError, 0);
}

TEST(SgDeviceLifetimeTest, DestroyingAnOpenDeviceClosesIt) {
    auto system = std::make_shared<FakeSgSystem>();
    { SgDevice device(FakeSgSystem::kFirstFd, system); }
    EXPECT_EQ(system->closed, std::vector<int>{FakeSgSystem::kFirstFd});
}

// A machine with one USB player on sdb (sg2) and an NVMe disk, in sysfs terms.
class SgNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        system->paths = {"/dev/sdb",
                         "/dev/sdb1",
                         "/dev/sg2",
                         "/dev/sg5",
                         "/dev/nvme0n1",
                         "/tmp/file",
                         "/sys/class/block/sdb",
                         "/sys/class/block/sdb1",
                         "/sys/class/block/sdb1/partition",
                         "/sys/class/block/nvme0n1",
                         "/sys/class/scsi_generic"};
        system->links = {
            {"/dev/disk/by-id/usb-player", "/dev/sdb"},
            {"/sys/class/block/sdb1", "/sys/devices/usb1/host6/target6:0:0/6:0:0:0/block/sdb/sdb1"},
        };
        system->directories = {{"/sys/class/block/sdb/device/scsi_generic", {"sg2"}}};
    }

    std::string Find(const std::string& path) {
        why.clear();
        return FindSgNode(path, *system, &why);
    }

    std::shared_ptr<FakeSgSystem> system = std::make_shared<FakeSgSystem>();
    std::string why;
};

TEST_F(SgNodeTest, DiskPathsMapToTheirSgNode) {
    EXPECT_EQ(Find("/dev/sdb"), "/dev/sg2");
    EXPECT_EQ(Find("/dev/sg5"), "/dev/sg5");
    EXPECT_EQ(Find("/dev/disk/by-id/usb-player"), "/dev/sg2");
    EXPECT_EQ(Find("/dev/sdb1"), "/dev/sg2") << "a partition stands for its disk";
    EXPECT_THAT(why, IsEmpty());
}

TEST_F(SgNodeTest, PathsWithoutAnSgNodeAreRefusedWithTheReason) {
    EXPECT_EQ(Find("/dev/sdz"), "");
    EXPECT_THAT(why, HasSubstr("no such device"));

    EXPECT_EQ(Find("/tmp/file"), "");
    EXPECT_THAT(why, HasSubstr("not a disk"));

    EXPECT_EQ(Find("/dev/nvme0n1"), "");
    EXPECT_THAT(why, HasSubstr("not a SCSI disk"));

    system->paths.erase("/sys/class/scsi_generic");
    system->directories.clear();
    EXPECT_EQ(Find("/dev/sdb"), "");
    EXPECT_THAT(why, HasSubstr("modprobe sg"));
}

TEST_F(SgNodeTest, OpenUsesTheSgNodeReadWriteAndSendsOnIt) {
    std::string reason;
    DeviceHandle device = OpenSgDevice("/dev/sdb", &reason, system);
    ASSERT_NE(device, nullptr) << reason;
    ASSERT_EQ(system->opened.size(), 1u);
    EXPECT_EQ(system->opened[0].first, "/dev/sg2");
    EXPECT_EQ(system->opened[0].second & O_ACCMODE, O_RDWR);
    // Exclusively, and without waiting for another program's hold: one program per player.
    EXPECT_EQ(system->opened[0].second & (O_EXCL | O_NONBLOCK), O_EXCL | O_NONBLOCK);

    EXPECT_TRUE(device->Send(BuildFormat()));
    ASSERT_EQ(system->requests.size(), 1u);
    EXPECT_EQ(system->requests[0].fd, FakeSgSystem::kFirstFd);
}

TEST_F(SgNodeTest, OpenFailuresSayWhyAndHowToFixThem) {
    struct Case {
        int error;
        std::vector<std::string> said;
    };
    const std::vector<Case> cases = {
        {EACCES, {"/dev/sdb", "/dev/sg2", "permission denied", "70-qdx-player.rules", "plugdev"}},
        {EPERM, {"permission denied", "plugdev"}},
        {ENOENT, {"no such device"}},
        {EBUSY, {"/dev/sdb", "in use by another program"}},
        {EIO, {std::strerror(EIO)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        system->openErrors["/dev/sg2"] = c.error;
        std::string reason;
        EXPECT_EQ(OpenSgDevice("/dev/sdb", &reason, system), nullptr);
        for (const std::string& text : c.said) {
            EXPECT_THAT(reason, HasSubstr(text));
        }
    }
}

}  // namespace
}  // namespace qdx
