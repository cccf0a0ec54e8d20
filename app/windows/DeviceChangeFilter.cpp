#include "app/windows/DeviceChangeFilter.h"

#include <QCoreApplication>

#include <dbt.h>
#include <windows.h>

namespace qdx::app {

namespace {

bool HasMedia(char letter) {
    const char root[] = {letter, ':', '\0'};
    ULARGE_INTEGER available, total, free;
    return GetDiskFreeSpaceExA(root, &available, &total, &free) != 0;
}

}  // namespace

WindowsVolumeSource::~WindowsVolumeSource() {
    if (m_installed && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

std::vector<VolumeInfo> WindowsVolumeSource::Scan() {
    // A and B are never considered.
    std::vector<VolumeInfo> volumes;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\0'};
        if (GetDriveTypeA(root) == DRIVE_REMOVABLE) {
            volumes.push_back(VolumeInfo{std::string(1, letter), true, HasMedia(letter)});
        }
    }
    return volumes;
}

void WindowsVolumeSource::Watch(Listener listener) {
    m_listener = std::move(listener);
    if (!m_installed) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_installed = true;
    }
}

bool WindowsVolumeSource::nativeEventFilter(const QByteArray& eventType, void* message,
                                            qintptr* /*result*/) {
    if (eventType != "windows_generic_MSG" || !m_listener) {
        return false;
    }
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_DEVICECHANGE || msg->hwnd != static_cast<HWND>(m_window()) ||
        msg->lParam == 0) {
        return false;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
    std::uint32_t unitMask = 0;
    if (header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
        unitMask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header)->dbcv_unitmask;
    }
    const std::optional<VolumeEvent> event = DecodeDeviceChange(
        static_cast<std::uint32_t>(msg->wParam), header->dbch_devicetype, unitMask, HasMedia);
    if (event) {
        m_listener(*event);
    }
    return false;  // the window answers 0 for every event, as default processing does
}

}  // namespace qdx::app
