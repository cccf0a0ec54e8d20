// Where a download's player comes from: a simulated player kept in a file, loaded here and saved
// back after the job, or a disk, checked and opened here. Both programs open every player
// through this, so a disk is never opened without its check.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/AtomicFile.h"
#include "sim/FaultPlan.h"
#include "sim/PlayerFileLock.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "transport/Device.h"

namespace qdx::players {

// What names a player.
struct PlayerTarget {
    enum class Kind { Sim, Device };
    Kind kind = Kind::Device;
    std::string path;  // the player file, or the disk (/dev/sdb, E:)

    // Simulated players only.
    sim::FaultPlan faults;
    std::chrono::microseconds latency{};
    std::string tracePath;  // one line per command sent; empty for none
};

class PlayerSource {
public:
    // Takes a simulated player's file for this program alone, loads it and prepares its trace
    // file, or only remembers a disk's path. Null with *error set when the player file is in use
    // by another program, cannot be used, or the trace file cannot be written.
    static std::unique_ptr<PlayerSource> Prepare(const PlayerTarget& target, std::string* error);

    // An open device on the player, or null with the reason (and the fix, where there is one)
    // in *why. A disk is opened only after the disk check has found it to be a player, and
    // once its mounted volumes are unmounted (the job formats the flash beneath them).
    DeviceHandle Open(std::string* why);
    // What people should know besides: the volumes unmounted, a disk that was not read again.
    const std::vector<std::string>& Notes() const { return m_notes; }

    // After the job: a simulated player's flash is saved to its file as the job left it, and
    // the player file is free again; a disk is read again by the system. False with *error set
    // when a save fails.
    bool Finish(std::string* error);
    // Puts the trace file in place. False with *error set when it could not be written whole.
    bool FinishTrace(std::string* error);

    bool Simulated() const { return m_target.kind == PlayerTarget::Kind::Sim; }
    const PlayerTarget& Target() const { return m_target; }
    // The simulated player's controller once opened (command counts); null for a disk.
    std::shared_ptr<sim::SimDevice> SimController() const { return m_simDevice; }

private:
    explicit PlayerSource(PlayerTarget target) : m_target(std::move(target)) {}

    PlayerTarget m_target;
    std::shared_ptr<sim::SimPlayer> m_player;
    std::shared_ptr<sim::SimDevice> m_simDevice;
    sim::PlayerFileLock m_lock;
    std::vector<std::string> m_unmounted;
    std::vector<std::string> m_notes;
    sim::AtomicFile m_trace;
    bool m_tracing = false;
};

}  // namespace qdx::players
