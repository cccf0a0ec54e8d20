#include "app/win32/DriveVolumeSource.h"

#include <dbt.h>

#include "transport/Disks.h"

namespace qdx::app {

std::vector<VolumeInfo> DriveVolumeSource::Scan() {
    std::vector<VolumeInfo> volumes;
    for (const DiskInfo& disk : ListDisks()) {
        volumes.push_back(VolumeInfo{disk.name, disk.removable, disk.hasMedia});
    }
    return volumes;
}

void DriveVolumeSource::OnDeviceChange(WPARAM event, LPARAM data) {
    // Other events carry no record, or one of another kind.
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) {
        return;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr || !m_listener) {
        return;
    }
    // Only a volume record carries a unit mask.
    const bool volume = header->dbch_devicetype == DBT_DEVTYP_VOLUME;
    const DWORD unitMask =
        volume ? reinterpret_cast<const DEV_BROADCAST_VOLUME*>(data)->dbcv_unitmask : 0;
    const std::optional<VolumeEvent> decoded =
        DecodeDeviceChange(static_cast<std::uint32_t>(event), header->dbch_devicetype, unitMask,
                           [](char letter) { return VolumeHasMedia(std::string(1, letter)); });
    if (decoded) {
        m_listener(*decoded);
    }
}

}  // namespace qdx::app
