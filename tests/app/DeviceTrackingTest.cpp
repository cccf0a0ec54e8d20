// Which volume the window takes for the player, from the initial scan through arrivals and
// removals, and how platform notifications become volume events.
#include <gtest/gtest.h>

#include <ostream>

#include "app/DeviceTracking.h"

namespace qdx::app {
namespace {

using Kind = VolumeEvent::Kind;

VolumeEvent Arrival(const std::string& volume, bool media = true) {
    return {Kind::Arrival, volume, media};
}
VolumeEvent Removal(const std::string& volume) {
    return {Kind::Removal, volume, false};
}

TEST(ScanForPlayer, TakesTheFirstRemovableVolumeWithMedia) {
    DeviceSlotTable slots;
    const std::vector<VolumeInfo> volumes = {
        {"C", false, true},  // fixed disk
        {"E", true, false},  // card reader without a card
        {"F", true, true},   // the player
        {"G", true, true},
    };
    EXPECT_EQ(ScanForPlayer(slots, volumes), SlotChange::Connected);
    EXPECT_EQ(slots[0].inUse, 1);
    EXPECT_EQ(slots[0].volume, "F");
    for (std::size_t i = 1; i < slots.size(); ++i) {
        EXPECT_EQ(slots[i].inUse, 0) << i;
    }
}

TEST(ScanForPlayer, NoPlayerLeavesTheSlotFree) {
    DeviceSlotTable slots;
    EXPECT_EQ(ScanForPlayer(slots, {{"/dev/sdb", true, false}, {"/dev/sda", false, true}}),
              SlotChange::None);
    EXPECT_EQ(slots[0].inUse, 0);
    EXPECT_EQ(ScanForPlayer(slots, {}), SlotChange::None);
}

// One sequence of events per row, with what each event does and what entry 0 holds at the end.
struct Sequence {
    const char* name;
    std::vector<VolumeEvent> events;
    std::vector<SlotChange> changes;
    std::int32_t inUse;
    std::string volume;
};

// Shown in test listings by its name, not as bytes.
void PrintTo(const Sequence& s, std::ostream* out) {
    *out << s.name;
}

class EventSequences : public testing::TestWithParam<Sequence> {};

TEST_P(EventSequences, DecideAsTheWindowShows) {
    const Sequence& s = GetParam();
    DeviceSlotTable slots;
    ASSERT_EQ(s.events.size(), s.changes.size());
    for (std::size_t i = 0; i < s.events.size(); ++i) {
        EXPECT_EQ(OnVolumeEvent(slots, s.events[i]), s.changes[i]) << "event " << i;
    }
    EXPECT_EQ(slots[0].inUse, s.inUse);
    EXPECT_EQ(slots[0].volume, s.volume);
}

using C = SlotChange;
INSTANTIATE_TEST_SUITE_P(
    Slot0, EventSequences,
    testing::Values(
        Sequence{"ArrivalClaims", {Arrival("E")}, {C::Connected}, 1, "E"},
        Sequence{"ArrivalWithoutMediaIgnored", {Arrival("E", false)}, {C::None}, 0, ""},
        Sequence{
            "SecondVolumeIgnored", {Arrival("E"), Arrival("F")}, {C::Connected, C::None}, 1, "E"},
        Sequence{"RemovalOfAnotherVolumeIgnored",
                 {Arrival("/dev/sdb"), Removal("/dev/sdc")},
                 {C::Connected, C::None},
                 1,
                 "/dev/sdb"},
        Sequence{"RemovalOfThePlayerFrees",
                 {Arrival("E"), Removal("E")},
                 {C::Connected, C::Disconnected},
                 0,
                 "E"},
        // A freed entry keeps its volume: removing it again shows "not connected" again.
        Sequence{"FreedSlotRemovalStillCounts",
                 {Arrival("E"), Removal("E"), Removal("E")},
                 {C::Connected, C::Disconnected, C::Disconnected},
                 0,
                 "E"},
        Sequence{"NextArrivalAfterRemovalClaimsAnew",
                 {Arrival("E"), Removal("E"), Arrival("F"), Removal("E")},
                 {C::Connected, C::Disconnected, C::Connected, C::None},
                 1,
                 "F"},
        Sequence{"RemovalBeforeAnyArrivalIgnored", {Removal("E")}, {C::None}, 0, ""}),
    [](const testing::TestParamInfo<Sequence>& info) { return info.param.name; });

TEST(DriveLetterFromUnitMask, LowestOfTheLow26BitsCounts) {
    const std::pair<std::uint32_t, char> cases[] = {
        {0x1, 'A'},      {0x4, 'C'}, {0x10, 'E'},     {0x30, 'E'},  // several: lowest
        {1u << 25, 'Z'}, {0x0, '['}, {1u << 26, '['}, {0xFC000000u, '['}, {(1u << 26) | 0x8, 'D'},
    };
    for (const auto& [mask, letter] : cases) {
        EXPECT_EQ(DriveLetterFromUnitMask(mask), letter) << std::hex << mask;
    }
}

TEST(DecodeDeviceChange, VolumeArrivalsAndRemovalsOnly) {
    std::vector<char> asked;
    auto hasMedia = [&asked](char letter) {
        asked.push_back(letter);
        return letter != 'G';
    };

    auto arrival = DecodeDeviceChange(kDbtDeviceArrival, kDbtDevTypVolume, 0x30, hasMedia);
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->kind, Kind::Arrival);
    EXPECT_EQ(arrival->volume, "E");
    EXPECT_TRUE(arrival->hasMedia);

    auto empty = DecodeDeviceChange(kDbtDeviceArrival, kDbtDevTypVolume, 1u << 6, hasMedia);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->hasMedia);

    // No letter in the mask: the free-space query of '[' fails without asking the system.
    auto none = DecodeDeviceChange(kDbtDeviceArrival, kDbtDevTypVolume, 0, hasMedia);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->hasMedia);

    auto removal = DecodeDeviceChange(kDbtDeviceRemoveComplete, kDbtDevTypVolume, 0x10, hasMedia);
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->kind, Kind::Removal);
    EXPECT_EQ(removal->volume, "E");

    EXPECT_EQ(asked, (std::vector<char>{'E', 'G'}));  // removals ask nothing

    EXPECT_FALSE(DecodeDeviceChange(kDbtDeviceArrival, 5 /* interface */, 0x10, hasMedia));
    EXPECT_FALSE(DecodeDeviceChange(0x8001 /* query remove */, kDbtDevTypVolume, 0x10, hasMedia));
    EXPECT_FALSE(DecodeDeviceChange(0x0007 /* devnodes changed */, kDbtDevTypVolume, 0, hasMedia));
}

UdevDisk UsbStick(std::uint64_t size = 2048) {
    UdevDisk disk;
    disk.node = "/dev/sdb";
    disk.subsystem = "block";
    disk.devtype = "disk";
    disk.idBus = "usb";
    disk.removable = true;
    disk.sizeSectors = size;
    return disk;
}

TEST(UdevDisks, OnlyRemovableUsbDisksArePlayers) {
    EXPECT_TRUE(IsRemovableUsbDisk(UsbStick()));

    UdevDisk byParent = UsbStick();
    byParent.idBus.clear();
    byParent.usbParent = true;
    EXPECT_TRUE(IsRemovableUsbDisk(byParent));

    UdevDisk partition = UsbStick();
    partition.devtype = "partition";
    UdevDisk sata = UsbStick();
    sata.idBus = "ata";
    UdevDisk fixedUsb = UsbStick();
    fixedUsb.removable = false;
    UdevDisk loop = UsbStick();
    loop.subsystem = "block";
    loop.idBus.clear();
    for (const UdevDisk& disk : {partition, sata, fixedUsb, loop}) {
        EXPECT_FALSE(IsRemovableUsbDisk(disk)) << disk.devtype << " " << disk.idBus;
    }
}

TEST(UdevDisks, ActionsBecomeVolumeEvents) {
    auto add = DecodeUdevAction("add", UsbStick());
    ASSERT_TRUE(add);
    EXPECT_EQ(add->kind, Kind::Arrival);
    EXPECT_EQ(add->volume, "/dev/sdb");
    EXPECT_TRUE(add->hasMedia);

    auto addEmpty = DecodeUdevAction("add", UsbStick(0));
    ASSERT_TRUE(addEmpty);
    EXPECT_FALSE(addEmpty->hasMedia);

    auto mediaIn = DecodeUdevAction("change", UsbStick(2048));
    ASSERT_TRUE(mediaIn);
    EXPECT_EQ(mediaIn->kind, Kind::Arrival);
    auto mediaOut = DecodeUdevAction("change", UsbStick(0));
    ASSERT_TRUE(mediaOut);
    EXPECT_EQ(mediaOut->kind, Kind::Removal);

    // A removed disk has lost its attributes; its node still names it.
    UdevDisk gone;
    gone.node = "/dev/sdb";
    gone.subsystem = "block";
    gone.devtype = "disk";
    auto remove = DecodeUdevAction("remove", gone);
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->kind, Kind::Removal);
    EXPECT_EQ(remove->volume, "/dev/sdb");

    UdevDisk sata = UsbStick();
    sata.idBus = "ata";
    EXPECT_FALSE(DecodeUdevAction("add", sata));
    EXPECT_FALSE(DecodeUdevAction("bind", UsbStick()));
    UdevDisk partition = gone;
    partition.devtype = "partition";
    EXPECT_FALSE(DecodeUdevAction("remove", partition));
}

}  // namespace
}  // namespace qdx::app
