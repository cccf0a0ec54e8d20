#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <thread>

#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "tests/sim/SimFixtures.h"

namespace qdx::sim {
namespace {

using namespace qdx::sim::test;

TEST(SimDeviceReadId, SecondChipAnswersOnlyWhenFitted) {
    // The host detects a second chip by chip 1 answering the same code into a pre-cleared byte.
    for (bool twoChips : {false, true}) {
        SCOPED_TRACE(twoChips ? "two chips" : "one chip");
        SimDevice device(Factory(0xDA, twoChips));
        std::array<std::uint8_t, 2> id{};
        ASSERT_TRUE(device.Send(BuildReadId(0, id.data())));
        EXPECT_EQ(id[0], 0xDA);
        EXPECT_EQ(device.LastStatus().scsiStatus, 0);

        id = {};
        ASSERT_TRUE(device.Send(BuildReadId(1, id.data())));
        EXPECT_EQ(id[0], twoChips ? 0xDA : 0x00);
        EXPECT_EQ(device.LastStatus().scsiStatus, twoChips ? 0 : 2);
    }
}

TEST(SimDeviceCommands, WriteEraseAndReadGoThroughToTheFlash) {
    auto player = Factory(0xF1, false);
    SimDevice device(player);
    const std::uint32_t sector = 300 * 256 + 17;
    const Sector data = Filled(0xA5);
    ASSERT_TRUE(device.Send(BuildSetWriteTag(0)));
    ASSERT_TRUE(device.Send(BuildWriteSector(sector, data.data())));
    Sector read{};
    ASSERT_TRUE(device.Send(BuildReadSector(sector, read.data())));
    EXPECT_EQ(read, data);
    std::array<std::uint8_t, kSpareBytes> spare{};
    ASSERT_TRUE(device.Send(BuildReadSpare(sector, spare.data())));
    EXPECT_EQ(spare[0], 0xFF);

    // The erase names its block by any sector inside it.
    ASSERT_TRUE(device.Send(BuildEraseBlock(sector)));
    EXPECT_EQ(Stored(*player, sector), Filled(0xFF));
    EXPECT_EQ(device.LastStatus().scsiStatus, 0);
    EXPECT_EQ(device.CommandCount(), 5u);
    EXPECT_EQ(device.CountOf(3), 1u);
}

TEST(SimDeviceCommands, MalformedOrOutOfRangeCommandsAreDeliveredWithCheckConditionAndNoTransfer) {
    // A host that ignores the status must see its buffer untouched, never stale flash data.
    auto player = Factory(0x73, true);
    const std::uint32_t end = player->TotalSectors();
    player->Program(5, Filled(0x0F).data());

    auto sized = [](CommandDescription command, std::uint32_t length) {
        command.transferLength = length;
        return command;
    };
    auto directed = [](CommandDescription command, DataDirection direction) {
        command.direction = direction;
        return command;
    };
    auto patched = [](CommandDescription command, std::size_t index, std::uint8_t value) {
        command.cdb[index] = value;
        return command;
    };
    Sector buffer;
    struct Case {
        const char* name;
        CommandDescription command;
    };
    const Case cases[] = {
        {"read past the end", BuildReadSector(end, buffer.data())},
        {"read spare far past the end", BuildReadSpare(0xFFFFFFFF, buffer.data())},
        {"write past the end", BuildWriteSector(end, buffer.data())},
        {"erase past the end", BuildEraseBlock(end)},
        {"read chip 2", BuildReadId(2, buffer.data())},
        {"short sector read", sized(BuildReadSector(5, buffer.data()), 256)},
        {"long spare read", sized(BuildReadSpare(5, buffer.data()), 512)},
        {"read with data to the device",
         directed(BuildReadSector(5, buffer.data()), DataDirection::ToDevice)},
        {"write with data from the device",
         directed(BuildWriteSector(5, buffer.data()), DataDirection::FromDevice)},
        {"tag with a data phase",
         sized(directed(BuildSetWriteTag(0), DataDirection::ToDevice), 512)},
        {"unused sub-command 4", patched(BuildReadSector(5, buffer.data()), 1, 4)},
        {"sub-command 9", patched(BuildReadSector(5, buffer.data()), 1, 9)},
        {"other opcode", patched(BuildReadSector(5, buffer.data()), 0, 0x28)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimDevice device(player);
        buffer.fill(0x5A);
        ASSERT_TRUE(device.Send(c.command));
        const TransportStatus status = device.LastStatus();
        EXPECT_TRUE(status.delivered);
        EXPECT_EQ(status.scsiStatus, 2);
        ASSERT_GE(status.sense.size(), 14u);
        EXPECT_EQ(status.sense[0], 0x70);
        EXPECT_EQ(status.sense[2] & 0x0F, 0x05);
        EXPECT_EQ(buffer, Filled(0x5A));
        EXPECT_EQ(Stored(*player, 5), Filled(0x0F));
    }
}

TEST(SimDeviceFaults, FailCommandAndUnplugCountThisDevicesCommandsFromOne) {
    struct Case {
        const char* faultText;
        std::vector<bool> delivered;
    };
    const Case cases[] = {
        {"fail-command=3", {true, true, false, true, true}},
        {"unplug-after=2", {true, true, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faultText);
        auto player = Factory(0x73, false);
        FaultPlan plan;
        std::string error;
        ASSERT_TRUE(ParseFaultSpec(c.faultText, plan, &error)) << error;
        SimDevice device(player, plan);
        const std::uint32_t base = 200 * 32;
        for (std::uint32_t i = 0; i < c.delivered.size(); ++i) {
            const Sector data = Filled(static_cast<std::uint8_t>(i));
            EXPECT_EQ(device.Send(BuildWriteSector(base + i, data.data())), c.delivered[i]) << i;
            EXPECT_EQ(device.LastStatus().delivered, c.delivered[i]);
            EXPECT_EQ(Stored(*player, base + i), c.delivered[i] ? data : Filled(0xFF)) << i;
        }
        EXPECT_EQ(device.CommandCount(), c.delivered.size());
    }
}

TEST(SimDeviceFaults, PulledOutFromAnotherThreadDeliversNothingMore) {
    auto player = Factory(0x73, false);
    SimDevice device(player);
    const std::uint32_t base = 200 * 32;
    const Sector data = Filled(0x11);
    ASSERT_TRUE(device.Send(BuildWriteSector(base, data.data())));
    std::thread([&device] { device.Unplug(); }).join();
    EXPECT_FALSE(device.Send(BuildWriteSector(base + 1, data.data())));
    EXPECT_FALSE(device.LastStatus().delivered);
    EXPECT_EQ(Stored(*player, base), data);
    EXPECT_EQ(Stored(*player, base + 1), Filled(0xFF));
}

TEST(SimDeviceFaults, FailAtSectorHitsOnlyThatSubCommandAndSector) {
    auto player = Factory(0x73, false);
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec("fail=3@0x40", plan, &error)) << error;
    SimDevice device(player, plan);
    const Sector data = Filled(0x00);
    Sector read{};
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(device.Send(BuildWriteSector(64, data.data())));
    }
    EXPECT_TRUE(device.Send(BuildReadSector(64, read.data())));
    EXPECT_TRUE(device.Send(BuildWriteSector(65, data.data())));
    EXPECT_EQ(Stored(*player, 64), Filled(0xFF));
    EXPECT_EQ(Stored(*player, 65), data);
}

TEST(SimDeviceFaults, CorruptReadFlipsOneBitOnTheWayOutOnly) {
    auto player = Factory(0x76, false);
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec("corrupt-read=1000", plan, &error)) << error;
    SimDevice device(player, plan);
    const Sector data = Filled(0x3C);
    for (std::uint32_t sector : {1000u, 1001u}) {
        ASSERT_TRUE(device.Send(BuildWriteSector(sector, data.data())));
    }
    Sector read{};
    ASSERT_TRUE(device.Send(BuildReadSector(1000, read.data())));
    int flipped = 0;
    for (std::size_t i = 0; i < read.size(); ++i) {
        flipped += __builtin_popcount(read[i] ^ data[i]);
    }
    EXPECT_EQ(flipped, 1);
    EXPECT_EQ(Stored(*player, 1000), data);
    ASSERT_TRUE(device.Send(BuildReadSector(1001, read.data())));
    EXPECT_EQ(read, data);
}

TEST(SimDeviceFaults, WeakSectorAcceptsTheWriteButKeepsNothing) {
    // A write that reports success but stores nothing is what read-back verification exists for.
    auto player = Factory(0x73, false);
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec("weak-sector=2000", plan, &error)) << error;
    SimDevice device(player, plan);
    const Sector data = Filled(0x00);
    EXPECT_TRUE(device.Send(BuildWriteSector(2000, data.data())));
    EXPECT_EQ(device.LastStatus().scsiStatus, 0);
    EXPECT_TRUE(device.Send(BuildWriteSector(2001, data.data())));
    EXPECT_EQ(Stored(*player, 2000), Filled(0xFF));
    EXPECT_EQ(Stored(*player, 2001), data);
}

TEST(SimDeviceFaults, FormatFailsLeavesTheFlashAsItWas) {
    for (bool fails : {true, false}) {
        SCOPED_TRACE(fails ? "format-fails" : "no fault");
        auto player = Factory(0xDC, false);
        FaultPlan plan;
        plan.formatFails = fails;
        SimDevice device(player, plan);
        const std::uint32_t sector = 600 * 256;
        player->Program(sector, Filled(0x00).data());
        EXPECT_EQ(device.Send(BuildFormat()), !fails);
        EXPECT_EQ(Stored(*player, sector), fails ? Filled(0x00) : Filled(0xFF));
    }
}

TEST(SimDeviceTrace, OneLinePerCommandSentDeliveredOrNotAndNothingAfterClose) {
    auto player = Factory(0x73, false);
    FaultPlan plan;
    plan.failCommand = 2;
    SimDevice device(player, plan);
    std::ostringstream trace;
    device.SetTrace(&trace);
    std::array<std::uint8_t, 2> id{};
    Sector buffer{};
    device.Send(BuildReadId(1, id.data()));
    device.Send(BuildReadSector(4660, buffer.data()));
    device.Send(BuildSetWriteTag(0x11234));
    device.Send(BuildEraseBlock(64));
    device.Send(BuildReadSpare(32767, buffer.data()));
    device.Send(BuildFormat());
    device.Close();
    EXPECT_FALSE(device.Send(BuildReadSector(1, buffer.data())));
    EXPECT_FALSE(device.LastStatus().delivered);
    EXPECT_EQ(trace.str(), "0 1\n1 4660\n6 4660\n5 64\n2 32767\n7 0\n");
    EXPECT_EQ(device.CommandCount(), 6u);
    EXPECT_EQ(device.CountOf(1), 1u);
    EXPECT_EQ(device.CountOf(7), 1u);
}

TEST(SimFaultSpec, ParsesEachKindInDecimalOrHex) {
    FaultPlan plan;
    std::string error;
    for (const char* text : {"fail-command=7", "unplug-after=0x10", "fail=3@4660", "fail=0x1@0x20",
                             "corrupt-read=5", "weak-sector=0xFFFFFFFF", "format-fails"}) {
        EXPECT_TRUE(ParseFaultSpec(text, plan, &error)) << text << ": " << error;
    }
    EXPECT_EQ(plan.failCommand, 7u);
    EXPECT_EQ(plan.unplugAfter, 16u);
    ASSERT_EQ(plan.failAt.size(), 2u);
    EXPECT_EQ(plan.failAt[0].sub, 3);
    EXPECT_EQ(plan.failAt[0].sector, 4660u);
    EXPECT_EQ(plan.failAt[1].sub, 1);
    EXPECT_EQ(plan.failAt[1].sector, 32u);
    EXPECT_EQ(plan.corruptRead, std::vector<std::uint32_t>{5});
    EXPECT_EQ(plan.weakSector, std::vector<std::uint32_t>{0xFFFFFFFF});
    EXPECT_TRUE(plan.formatFails);
    EXPECT_FALSE(plan.Empty());
}

TEST(SimFaultSpec, RejectsAnythingElseWithAMessageNamingTheText) {
    for (const char* text :
         {"", "fail-command=0", "fail-command=", "fail-command=-1", "fail-command=1x",
          "fail-command=99999999999999999999999", "unplug-after", "fail=8@1", "fail=3", "fail=3@",
          "fail=@5", "corrupt-read=4294967296", "weak-sector= 5", "weak-sector=0x",
          "format-fails=1", "unknown=3", "FAIL-COMMAND=1"}) {
        FaultPlan plan;
        std::string error;
        EXPECT_FALSE(ParseFaultSpec(text, plan, &error)) << text;
        EXPECT_NE(error.find(std::string("\"") + text + "\""), std::string::npos) << error;
        EXPECT_TRUE(plan.Empty()) << text;
    }
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec("fail-command=3", plan, &error));
    EXPECT_FALSE(ParseFaultSpec("fail-command=4", plan, &error)) << "a second, different number";
}

}  // namespace
}  // namespace qdx::sim
