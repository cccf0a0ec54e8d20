#include "app/DeviceTracking.h"

namespace qdx::app {

DeviceSlotTable g_deviceSlots;

void FreeDeviceSlots(DeviceSlotTable& slots) {
    for (DeviceSlot& slot : slots) {
        slot.inUse = 0;
    }
}

namespace {

void Claim(DeviceSlot& slot, const std::string& volume) {
    slot.inUse = 1;
    slot.volume = volume;
}

}  // namespace

SlotChange ScanForPlayer(DeviceSlotTable& slots, const std::vector<VolumeInfo>& volumes) {
    for (const VolumeInfo& info : volumes) {
        if (info.removable && info.hasMedia) {
            Claim(slots[0], info.volume);
            return SlotChange::Connected;
        }
    }
    return SlotChange::None;
}

SlotChange OnVolumeEvent(DeviceSlotTable& slots, const VolumeEvent& event) {
    DeviceSlot& slot = slots[0];
    switch (event.kind) {
        case VolumeEvent::Kind::Arrival:
            if (!event.hasMedia || slot.inUse != 0) {
                return SlotChange::None;
            }
            Claim(slot, event.volume);
            return SlotChange::Connected;
        case VolumeEvent::Kind::Removal:
            if (slot.volume != event.volume) {
                return SlotChange::None;
            }
            slot.inUse = 0;
            return SlotChange::Disconnected;
    }
    return SlotChange::None;
}

char DriveLetterFromUnitMask(std::uint32_t unitMask) {
    int index = 0;
    while (index < 26 && (unitMask & 1u) == 0) {
        unitMask >>= 1;
        ++index;
    }
    return static_cast<char>('A' + index);
}

std::optional<VolumeEvent> DecodeDeviceChange(std::uint32_t eventType, std::uint32_t deviceType,
                                              std::uint32_t unitMask,
                                              const std::function<bool(char letter)>& hasMedia) {
    if (deviceType != kDbtDevTypVolume) {
        return std::nullopt;
    }
    const char letter = DriveLetterFromUnitMask(unitMask);
    if (eventType == kDbtDeviceArrival) {
        // '[' names no drive: its free-space query fails like any drive without a medium.
        const bool media = letter <= 'Z' && hasMedia && hasMedia(letter);
        return VolumeEvent{VolumeEvent::Kind::Arrival, std::string(1, letter), media};
    }
    if (eventType == kDbtDeviceRemoveComplete) {
        return VolumeEvent{VolumeEvent::Kind::Removal, std::string(1, letter), false};
    }
    return std::nullopt;
}

bool IsRemovableUsbDisk(const UdevDisk& disk) {
    return disk.subsystem == "block" && disk.devtype == "disk" &&
           (disk.idBus == "usb" || disk.usbParent) && disk.removable && !disk.node.empty();
}

std::optional<VolumeEvent> DecodeUdevAction(const std::string& action, const UdevDisk& disk) {
    if (action == "remove") {
        // A removed disk's attributes are gone; its node is all that identifies it.
        if (disk.subsystem != "block" || disk.devtype != "disk" || disk.node.empty()) {
            return std::nullopt;
        }
        return VolumeEvent{VolumeEvent::Kind::Removal, disk.node, false};
    }
    if (!IsRemovableUsbDisk(disk)) {
        return std::nullopt;
    }
    const bool media = disk.sizeSectors > 0;
    if (action == "add") {
        return VolumeEvent{VolumeEvent::Kind::Arrival, disk.node, media};
    }
    if (action == "change") {
        // A card-reader style medium change: media in is an arrival, media out a removal.
        return VolumeEvent{media ? VolumeEvent::Kind::Arrival : VolumeEvent::Kind::Removal,
                           disk.node, media};
    }
    return std::nullopt;
}

}  // namespace qdx::app
