// Opening the player that a device slot names: the platform's pass-through device, or a
// simulated player kept in a file.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "sim/SimPlayer.h"
#include "transport/Device.h"

namespace qdx::app {

class IDeviceOpener {
public:
    virtual ~IDeviceOpener() = default;
    // An open device for the slot's volume, or null when it cannot be opened.
    virtual DeviceHandle Open(const std::string& volume) = 0;
    // Called on the GUI thread once the worker of a started job has ended.
    virtual void JobEnded() {}
};

// The platform path of a slot's volume: "\\.\E:" for a drive letter, the disk node otherwise.
std::string PlatformVolumePath(const std::string& volume);

class PlatformDeviceOpener : public IDeviceOpener {
public:
    DeviceHandle Open(const std::string& volume) override;
};

// A simulated player file: loaded afresh for every launch, saved back after every job.
class SimDeviceOpener : public IDeviceOpener {
public:
    SimDeviceOpener(std::string playerFile, std::chrono::microseconds latency,
                    sim::FaultPlan faults = {})
        : m_file(std::move(playerFile)), m_latency(latency), m_faults(std::move(faults)) {}
    DeviceHandle Open(const std::string& volume) override;
    void JobEnded() override;

private:
    std::string m_file;
    std::chrono::microseconds m_latency;
    sim::FaultPlan m_faults;
    std::shared_ptr<sim::SimPlayer> m_player;
};

}  // namespace qdx::app
