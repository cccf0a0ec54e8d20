#include "app/DeviceOpener.h"

#include <cstdio>

namespace qdx::app {

ReasonLog StderrReasonLog() {
    return [](const std::string& line) { std::fprintf(stderr, "qdxclient: %s\n", line.c_str()); };
}

std::string PlatformVolumePath(const std::string& volume) {
    if (volume.size() == 1) {
        return std::string("\\\\.\\") + volume + ":";
    }
    return volume;
}

DeviceHandle PlatformDeviceOpener::Open(const std::string& volume) {
    players::PlayerTarget target;
    target.kind = players::PlayerTarget::Kind::Device;
    target.path = PlatformVolumePath(volume);
    std::string why;
    std::unique_ptr<players::PlayerSource> source = players::PlayerSource::Prepare(target, &why);
    DeviceHandle device = source ? source->Open(&why) : nullptr;
    if (!device) {
        m_log("cannot open " + volume + ": " + why);
    }
    return device;
}

DeviceHandle SimDeviceOpener::Open(const std::string& /*volume*/) {
    players::PlayerTarget target;
    target.kind = players::PlayerTarget::Kind::Sim;
    target.path = m_file;
    target.latency = m_latency;
    target.faults = m_faults;
    std::string why;
    m_source = players::PlayerSource::Prepare(target, &why);
    DeviceHandle device = m_source ? m_source->Open(&why) : nullptr;
    if (!device) {
        m_log("cannot load the simulated player: " + why);
        m_source.reset();
    }
    return device;
}

void SimDeviceOpener::Unplug() {
    if (m_source && m_source->SimController()) {
        m_source->SimController()->Unplug();
    }
}

void SimDeviceOpener::JobEnded() {
    if (!m_source) {
        return;
    }
    std::string error;
    if (!m_source->Finish(&error)) {
        m_log(error);
    }
    m_source.reset();
}

}  // namespace qdx::app
