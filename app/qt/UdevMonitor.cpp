#include "app/qt/UdevMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

#include <cstdlib>
#include <cstring>

namespace qdx::app {

namespace {

std::string Text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

UdevVolumeSource::UdevVolumeSource(QObject* parent) : QObject(parent), m_udev(udev_new()) {}

UdevVolumeSource::~UdevVolumeSource() {
    delete m_notifier;
    if (m_monitor != nullptr) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev != nullptr) {
        udev_unref(m_udev);
    }
}

UdevDisk UdevVolumeSource::Describe(udev_device* device) {
    UdevDisk disk;
    disk.node = Text(udev_device_get_devnode(device));
    disk.subsystem = Text(udev_device_get_subsystem(device));
    disk.devtype = Text(udev_device_get_devtype(device));
    disk.idBus = Text(udev_device_get_property_value(device, "ID_BUS"));
    disk.usbParent =
        udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device") != nullptr;
    disk.removable = Text(udev_device_get_sysattr_value(device, "removable")) == "1";
    disk.sizeSectors =
        std::strtoull(Text(udev_device_get_sysattr_value(device, "size")).c_str(), nullptr, 10);
    return disk;
}

std::vector<VolumeInfo> UdevVolumeSource::Scan() {
    std::vector<VolumeInfo> volumes;
    if (m_udev == nullptr) {
        return volumes;
    }
    udev_enumerate* enumerate = udev_enumerate_new(m_udev);
    udev_enumerate_add_match_subsystem(enumerate, "block");
    udev_enumerate_add_match_property(enumerate, "DEVTYPE", "disk");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device = udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry));
        if (device == nullptr) {
            continue;
        }
        const UdevDisk disk = Describe(device);
        if (IsRemovableUsbDisk(disk)) {
            volumes.push_back(VolumeInfo{disk.node, true, disk.sizeSectors > 0});
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    return volumes;
}

void UdevVolumeSource::Watch(Listener listener) {
    m_listener = std::move(listener);
    if (m_udev == nullptr || m_monitor != nullptr) {
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor == nullptr) {
        return;
    }
    udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", "disk");
    if (udev_monitor_enable_receiving(m_monitor) < 0) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
        return;
    }
    m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnMonitorReadable(); });
}

void UdevVolumeSource::OnMonitorReadable() {
    // The monitor's socket is non-blocking: take every event that is waiting.
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const std::string action = Text(udev_device_get_action(device));
        const std::optional<VolumeEvent> event = DecodeUdevAction(action, Describe(device));
        udev_device_unref(device);
        if (event && m_listener) {
            m_listener(*event);
        }
    }
}

}  // namespace qdx::app
