// What a job sent, and in which of its phases: controls that note the status in force and a
// device that records every command with it before passing it on.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/Texts.h"
#include "tests/engine/RecordingPorts.h"
#include "transport/Device.h"

namespace qdx::test {

// Status texts in order, and the status in force: the last one other than "verifying", and
// whether a verification runs.
class PhaseControls : public RecordingControls {
public:
    bool SetText(const std::string& text) override {
        {
            std::lock_guard lock(m_mutex);
            if (text == texts::kVerifying) {
                m_verifying = true;
            } else {
                m_stage = text;
                m_verifying = false;
            }
        }
        return RecordingControls::SetText(text);
    }
    std::pair<std::string, bool> Phase() {
        std::lock_guard lock(m_mutex);
        return {m_stage, m_verifying};
    }

private:
    std::mutex m_mutex;
    std::string m_stage;
    bool m_verifying = false;
};

struct TracedCommand {
    SubCommand sub;
    std::uint32_t operand;
    std::string stage;  // empty during the launch
    bool verifying;
};

// Passes every command on and notes the phase it was sent in.
class PhaseRecorder : public IDevice {
public:
    PhaseRecorder(DeviceHandle device, PhaseControls& controls)
        : m_device(std::move(device)), m_controls(controls) {}
    bool Send(const CommandDescription& command) override {
        auto [stage, verifying] = m_controls.Phase();
        trace.push_back({command.Sub(), command.Operand(), stage, verifying});
        return m_device->Send(command);
    }
    TransportStatus LastStatus() const override { return m_device->LastStatus(); }
    void Close() override { m_device->Close(); }

    std::vector<TracedCommand> trace;

private:
    DeviceHandle m_device;
    PhaseControls& m_controls;
};

}  // namespace qdx::test
