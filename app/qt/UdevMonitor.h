// Removable USB disks from libudev: the list at start-up, then arrivals, removals and medium
// changes from a udev monitor on the Qt event loop.
#pragma once

#include <QObject>

#include <memory>

#include "app/DeviceTracking.h"

struct udev;
struct udev_device;
struct udev_monitor;
class QSocketNotifier;

namespace qdx::app {

class UdevVolumeSource : public QObject, public IVolumeSource {
    Q_OBJECT
public:
    explicit UdevVolumeSource(QObject* parent = nullptr);
    ~UdevVolumeSource() override;

    std::vector<VolumeInfo> Scan() override;
    void Watch(Listener listener) override;

private:
    void OnMonitorReadable();
    static UdevDisk Describe(udev_device* device);

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    Listener m_listener;
};

}  // namespace qdx::app
