// A simulated player file shown to the window as a removable volume that arrives after start-up.
#pragma once

#include <string>

#include "app/DeviceTracking.h"

namespace qdx::app {

class SimVolumeSource : public IVolumeSource {
public:
    explicit SimVolumeSource(std::string playerFile) : m_file(std::move(playerFile)) {}
    std::vector<VolumeInfo> Scan() override { return {}; }
    // Posts the arrival to the event loop, so it comes after the window has opened.
    void Watch(Listener listener) override;

private:
    std::string m_file;
};

}  // namespace qdx::app
