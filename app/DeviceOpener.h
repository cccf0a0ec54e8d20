// Opening the player that a device slot names, for the desktop program: the platform's disk
// (checked first) or a simulated player kept in a file. Toolkit-free; both windows use it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "players/PlayerSource.h"
#include "sim/FaultPlan.h"
#include "transport/Device.h"

namespace qdx::app {

// Where the reasons behind an open failure go (the operator sees the open-failure message).
using ReasonLog = std::function<void(const std::string& line)>;
// Standard error, prefixed with the program's name.
ReasonLog StderrReasonLog();

class IDeviceOpener {
public:
    virtual ~IDeviceOpener() = default;
    // An open device for the slot's volume, or null when it cannot be opened.
    virtual DeviceHandle Open(const std::string& volume) = 0;
    // Called on the GUI thread once the worker of a started job has ended.
    virtual void JobEnded() {}
    // True for a simulated player, which may take the placeholder IM/PM image.
    virtual bool Simulated() const { return false; }
    // A simulated player pulled out by the operator: a running job loses it as it would lose a
    // real player. Nothing for a real player, which the operator pulls out by hand.
    virtual void Unplug() {}
};

// The platform path of a slot's volume: "\\.\E:" for a drive letter, the disk node otherwise.
std::string PlatformVolumePath(const std::string& volume);

class PlatformDeviceOpener : public IDeviceOpener {
public:
    explicit PlatformDeviceOpener(ReasonLog log = StderrReasonLog()) : m_log(std::move(log)) {}
    DeviceHandle Open(const std::string& volume) override;

private:
    ReasonLog m_log;
};

// A simulated player file: loaded afresh for every launch, saved back after every job.
class SimDeviceOpener : public IDeviceOpener {
public:
    SimDeviceOpener(std::string playerFile, std::chrono::microseconds latency,
                    sim::FaultPlan faults = {}, ReasonLog log = StderrReasonLog())
        : m_file(std::move(playerFile)),
          m_latency(latency),
          m_faults(std::move(faults)),
          m_log(std::move(log)) {}
    DeviceHandle Open(const std::string& volume) override;
    void JobEnded() override;
    bool Simulated() const override { return true; }
    void Unplug() override;

private:
    std::string m_file;
    std::chrono::microseconds m_latency;
    sim::FaultPlan m_faults;
    ReasonLog m_log;
    std::unique_ptr<players::PlayerSource> m_source;
};

}  // namespace qdx::app
