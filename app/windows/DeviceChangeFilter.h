// Drive letters on Windows: the initial list from the drive-type and free-space queries, then
// WM_DEVICECHANGE volume notifications taken from the main window through Qt's native event
// filter.
#pragma once

#include <QAbstractNativeEventFilter>

#include <functional>

#include "app/DeviceTracking.h"

namespace qdx::app {

class WindowsVolumeSource : public IVolumeSource, public QAbstractNativeEventFilter {
public:
    // window: the native handle of the window whose notifications count (every top-level
    // window gets its own copy).
    explicit WindowsVolumeSource(std::function<void*()> window) : m_window(std::move(window)) {}
    ~WindowsVolumeSource() override;

    std::vector<VolumeInfo> Scan() override;
    void Watch(Listener listener) override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::function<void*()> m_window;
    Listener m_listener;
    bool m_installed = false;
};

}  // namespace qdx::app
