// Which volume is the player: the device slot table and the decisions taken on the initial scan,
// on arrivals and on removals. Plain code; the platform sources only report volumes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qdx::app {

// One entry of the slot table. volume is the platform's identity of the player's volume: a
// drive letter ("E") on Windows, the disk node ("/dev/sdb") on Linux, the player file for a
// simulated player. It is never cleared, so a freed entry remembers its last volume.
struct DeviceSlot {
    std::string volume;
    std::int32_t inUse = 0;  // 0 free, otherwise the entry's index + 1
};

inline constexpr std::size_t kDeviceSlotCount = 10;
using DeviceSlotTable = std::array<DeviceSlot, kDeviceSlotCount>;

// The process-wide table; only entry 0 is ever used, so one player is tracked at a time.
extern DeviceSlotTable g_deviceSlots;

// Frees every entry (the volumes stay).
void FreeDeviceSlots(DeviceSlotTable& slots);

// A volume as the platform lists it.
struct VolumeInfo {
    std::string volume;
    bool removable = false;
    bool hasMedia = false;  // the free-space query succeeds / the disk has a size
};

struct VolumeEvent {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    std::string volume;
    bool hasMedia = false;  // arrivals only
};

// What the window shows after a decision.
enum class SlotChange {
    None,          // nothing changes
    Connected,     // entry 0 claimed: "connected", status and bar enabled, Start enabled
    Disconnected,  // entry 0 freed: "not connected", status, bar and Start disabled
};

// The initial scan: the first removable volume with media, in the order listed, is the player.
// Returns Connected after claiming entry 0, None when there is none (Start is then disabled).
SlotChange ScanForPlayer(DeviceSlotTable& slots, const std::vector<VolumeInfo>& volumes);

// An arrival or removal. An arrival without media, or while entry 0 is in use, changes nothing;
// a removal counts only when its volume is entry 0's (also when entry 0 was already freed).
SlotChange OnVolumeEvent(DeviceSlotTable& slots, const VolumeEvent& event);

// --- Windows volume notifications, decoded without a window.
inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevTypVolume = 2;

// 'A' + the index of the lowest set bit among the low 26; '[' when none of them is set.
char DriveLetterFromUnitMask(std::uint32_t unitMask);

// The volume event of a device-change notification, or nullopt for other events and records.
// hasMedia answers the free-space query for a drive letter; it is asked for arrivals only.
std::optional<VolumeEvent> DecodeDeviceChange(std::uint32_t eventType, std::uint32_t deviceType,
                                              std::uint32_t unitMask,
                                              const std::function<bool(char letter)>& hasMedia);

// --- Linux disks as udev describes them.
struct UdevDisk {
    std::string node;  // /dev/sdb
    std::string subsystem;
    std::string devtype;
    std::string idBus;  // the ID_BUS property
    bool usbParent = false;
    bool removable = false;  // sysfs attribute removable == 1
    std::uint64_t sizeSectors = 0;
};

// A removable USB disk: subsystem block, devtype disk, on USB (by ID_BUS or a usb parent) and
// marked removable. Whether it holds media is its size.
bool IsRemovableUsbDisk(const UdevDisk& disk);

// The volume event of a udev action on a removable USB disk ("add", "remove", or "change", for
// which the size says whether media arrived or left); nullopt for anything else.
std::optional<VolumeEvent> DecodeUdevAction(const std::string& action, const UdevDisk& disk);

// --- Where volumes come from: the platform's tracking, a simulated player, or a test.
class IVolumeSource {
public:
    using Listener = std::function<void(const VolumeEvent&)>;
    virtual ~IVolumeSource() = default;
    // Volumes present now, in the order the initial scan considers them.
    virtual std::vector<VolumeInfo> Scan() = 0;
    // From now on reports arrivals and removals on the GUI thread.
    virtual void Watch(Listener listener) = 0;
};

}  // namespace qdx::app
