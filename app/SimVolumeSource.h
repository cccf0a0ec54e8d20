// A simulated player file shown to the window as a removable volume. It arrives once the window
// has opened, and an operator in training can unplug it and plug it in again.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/DeviceTracking.h"

namespace qdx::app {

class SimVolumeSource : public IVolumeSource {
public:
    // Runs a function later on the GUI thread, once the event loop is running.
    using Defer = std::function<void(std::function<void()>)>;

    SimVolumeSource(std::string playerFile, Defer defer)
        : m_file(std::move(playerFile)), m_defer(std::move(defer)) {}
    std::vector<VolumeInfo> Scan() override { return {}; }
    // Defers the arrival, so it comes after the window has opened.
    void Watch(Listener listener) override;

    // The player pulled out: a removal of its volume. Nothing when it is out already.
    void Unplug();
    // The player plugged in: an arrival, with media when its file is there. Nothing when it is
    // in already.
    void PlugIn();
    bool PluggedIn() const { return m_pluggedIn; }

private:
    std::string m_file;
    Defer m_defer;
    Listener m_listener;
    bool m_pluggedIn = false;
    // The deferred arrival comes to nothing once the source is gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

}  // namespace qdx::app
