// The disk a simulated player shows over USB: the disk commands a host's storage driver sends,
// and the vendor commands carried to the player's controller with their refusals and faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "sim/usb/ScsiDisk.h"
#include "tests/sim/SimFixtures.h"
#include "transport/VendorCommand.h"

namespace qdx::sim::usb {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;
using Kind = ScsiOutcome::Kind;

class ScsiDiskTest : public ::testing::Test {
protected:
    ScsiOutcome Run(const Bytes& cdb, DataPhase phase, Bytes& data) {
        return disk.Execute(cdb.data(), cdb.size(), phase, data.data(),
                            static_cast<std::uint32_t>(data.size()));
    }
    Bytes Sense() {
        Bytes data(18);
        EXPECT_EQ(Run({0x03, 0, 0, 0, 18, 0}, DataPhase::In, data).kind, Kind::Good);
        return data;
    }
    static Bytes Vendor(SubCommand sub, std::uint32_t argument) {
        Bytes cdb(kCdbLength, 0);
        cdb[0] = kVendorOpcode;
        cdb[1] = static_cast<std::uint8_t>(sub);
        PutBigEndian32(cdb.data() + 2, argument);
        return cdb;
    }

    std::shared_ptr<SimPlayer> player = test::Factory(0x73, false);
    SimDevice controller{player};
    MemoryImage image{64};
    ScsiDisk disk{image, controller};
};

TEST_F(ScsiDiskTest, IdentifiesAsARemovableDiskOfTheImagesSize) {
    Bytes inquiry(96, 0xEE);
    ScsiOutcome outcome = Run({0x12, 0, 0, 0, 96, 0}, DataPhase::In, inquiry);
    ASSERT_EQ(outcome.kind, Kind::Good);
    EXPECT_EQ(outcome.dataBytes, 36u) << "a short answer, not the allocation length";
    EXPECT_EQ(inquiry[0], 0x00);
    EXPECT_EQ(inquiry[1], 0x80) << "removable";
    EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 32), "QDX     SIM PLAYER      ");

    Bytes capacity(8);
    ASSERT_EQ(Run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataPhase::In, capacity).kind, Kind::Good);
    EXPECT_THAT(capacity, ElementsAre(0, 0, 0, 63, 0, 0, 2, 0));

    Bytes mode(192);
    outcome = Run({0x1A, 0, 0x3F, 0, 192, 0}, DataPhase::In, mode);
    EXPECT_EQ(outcome.kind, Kind::Good);
    EXPECT_EQ(outcome.dataBytes, 4u);
    EXPECT_EQ(mode[2] & 0x80, 0) << "not write-protected";

    Bytes none;
    EXPECT_EQ(Run({0x00, 0, 0, 0, 0, 0}, DataPhase::None, none).kind, Kind::Good);
}

TEST_F(ScsiDiskTest, LogicalSectorsAreWrittenAndReadBackWithinTheImage) {
    Bytes written(2 * 512);
    for (std::size_t i = 0; i < written.size(); ++i) {
        written[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(Run({0x2A, 0, 0, 0, 0, 62, 0, 0, 2, 0}, DataPhase::Out, written).kind, Kind::Good);
    Bytes read(2 * 512);
    ScsiOutcome outcome = Run({0x28, 0, 0, 0, 0, 62, 0, 0, 2, 0}, DataPhase::In, read);
    EXPECT_EQ(outcome.kind, Kind::Good);
    EXPECT_EQ(outcome.dataBytes, 1024u);
    EXPECT_EQ(read, written);

    // Past the end: refused with LOGICAL BLOCK ADDRESS OUT OF RANGE, and nothing moved.
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 63, 0, 0, 2, 0}, DataPhase::In, read).kind,
              Kind::CheckCondition);
    const Bytes sense = Sense();
    EXPECT_EQ(sense[2], 0x05);
    EXPECT_EQ(sense[12], 0x21);

    // A host that expects the wrong data phase gets a transport failure, not a guess.
    Bytes wrong(512);
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, DataPhase::In, wrong).kind, Kind::NotCarried);
}

TEST_F(ScsiDiskTest, RefusedVendorReadIsACheckConditionWhoseSenseWaitsForRequestSense) {
    // A one-chip player refuses the second chip's ID: nothing is transferred.
    Bytes id = {0xAA, 0xBB};
    ScsiOutcome outcome = Run(Vendor(SubCommand::ReadId, 1u << 24), DataPhase::In, id);
    EXPECT_EQ(outcome.kind, Kind::CheckCondition);
    EXPECT_EQ(outcome.dataBytes, 0u);
    const Bytes sense = Sense();
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2], 0x05);
    EXPECT_EQ(sense[12], 0x25) << "logical unit not supported, as the controller said";
    EXPECT_EQ(Sense()[2], 0x00) << "sense is reported once";

    outcome = Run(Vendor(SubCommand::ReadId, 0), DataPhase::In, id);
    EXPECT_EQ(outcome.kind, Kind::Good);
    EXPECT_EQ(outcome.dataBytes, 2u);
    EXPECT_EQ(id[0], 0x73);
    EXPECT_EQ(disk.VendorCommands(), 2u);
}

TEST_F(ScsiDiskTest, VendorWritesReachTheFlash) {
    const std::uint32_t target = 40 * player->SectorsPerBlock() + 3;
    Bytes none;
    ASSERT_EQ(Run(Vendor(SubCommand::EraseBlock, target), DataPhase::None, none).kind, Kind::Good);
    Bytes sector(kSectorBytes, 0x5A);
    ASSERT_EQ(Run(Vendor(SubCommand::WriteSector, target), DataPhase::Out, sector).kind,
              Kind::Good);
    EXPECT_EQ(test::Stored(*player, target), test::Filled(0x5A));
}

TEST(ScsiDiskFaults, UndeliveredCommandsBecomeTransportFailuresAndUnplugLeavesTheBus) {
    FaultPlan faults;
    faults.failCommand = 1;
    faults.unplugAfter = 2;
    SimDevice controller(test::Factory(0x73, false), faults);
    MemoryImage image(8);
    ScsiDisk disk(image, controller);
    Bytes cdb(kCdbLength, 0);
    cdb[0] = kVendorOpcode;
    cdb[1] = static_cast<std::uint8_t>(SubCommand::ReadId);
    Bytes id(2);
    auto send = [&] { return disk.Execute(cdb.data(), cdb.size(), DataPhase::In, id.data(), 2); };
    EXPECT_EQ(send().kind, Kind::NotCarried);
    EXPECT_EQ(send().kind, Kind::Good);
    EXPECT_EQ(send().kind, Kind::Unplugged);
}

TEST(FileImageTest, OpensWholeSectorFilesOnlyAndWritesInPlace) {
    const std::string path = ::testing::TempDir() + "qdx-file-image.bin";
    std::string error;
    { std::ofstream(path, std::ios::binary) << std::string(1000, 'x'); }
    EXPECT_EQ(FileImage::Open(path, &error), nullptr);
    EXPECT_NE(error.find("512-byte"), std::string::npos) << error;

    { std::ofstream(path, std::ios::binary) << std::string(2048, '\0'); }
    {
        auto image = FileImage::Open(path, &error);
        ASSERT_NE(image, nullptr) << error;
        EXPECT_EQ(image->Sectors(), 4u);
        const Bytes sector(512, 0x42);
        ASSERT_TRUE(image->Write(2, 1, sector.data()));
    }
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(content.size(), 2048u);
    EXPECT_EQ(content[1024], 0x42);
    EXPECT_EQ(content[1023], 0);
    EXPECT_EQ(content[1536], 0);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace qdx::sim::usb
