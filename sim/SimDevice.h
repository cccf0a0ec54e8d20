// The simulated player's controller: a device like any other behind the device port.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "sim/FaultPlan.h"
#include "sim/SimPlayer.h"
#include "transport/Device.h"

namespace qdx::sim {

// The controller in front of a SimPlayer: carries out the seven sub-commands, applies the fault
// plan, records a trace and counts commands.
class SimDevice : public IDevice {
public:
    SimDevice(std::shared_ptr<SimPlayer> player, FaultPlan faults = {},
              std::chrono::microseconds latency = {});

    bool Send(const CommandDescription& command) override;
    TransportStatus LastStatus() const override;
    void Close() override;

    // One line "SUB OPERAND" per command sent, delivered or not. Commands sent after Close are
    // refused before they reach the player and are neither traced nor counted.
    void SetTrace(std::ostream* trace) { m_trace = trace; }
    // Commands sent, delivered or not.
    std::uint64_t CommandCount() const { return m_count; }
    std::uint64_t CountOf(std::uint8_t sub) const { return m_countBySub[sub & 7]; }
    bool Closed() const { return m_closed; }
    // The player pulled out, from any thread: no command after this one is delivered, as with
    // the fault plan's unplug-after.
    void Unplug() { m_unplugged.store(true); }

private:
    bool Undelivered(int osError);
    bool Refuse(std::uint8_t asc);
    bool Carry(const CommandDescription& command);
    bool IsPlannedFailure(std::uint8_t sub, std::uint32_t operand) const;
    static bool Listed(const std::vector<std::uint32_t>& sectors, std::uint32_t sector);

    std::shared_ptr<SimPlayer> m_player;
    FaultPlan m_faults;
    std::chrono::microseconds m_latency;
    std::ostream* m_trace = nullptr;
    std::uint64_t m_count = 0;
    std::uint64_t m_countBySub[8] = {};
    TransportStatus m_last;
    bool m_closed = false;
    std::atomic<bool> m_unplugged{false};
};

}  // namespace qdx::sim
