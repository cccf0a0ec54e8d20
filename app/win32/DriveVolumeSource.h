// Removable drives by their letters: the list at start-up from the transport's disk module, then
// the arrivals and removals the system broadcasts to the window (WM_DEVICECHANGE).
#pragma once

#include <windows.h>

#include "app/DeviceTracking.h"

namespace qdx::app {

class DriveVolumeSource : public IVolumeSource {
public:
    std::vector<VolumeInfo> Scan() override;
    void Watch(Listener listener) override { m_listener = std::move(listener); }
    // A WM_DEVICECHANGE the window received: a volume's arrival or removal goes to the listener.
    void OnDeviceChange(WPARAM event, LPARAM data);

private:
    Listener m_listener;
};

}  // namespace qdx::app
