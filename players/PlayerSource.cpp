#include "players/PlayerSource.h"

#include "transport/Disks.h"
#include "transport/PlatformDevice.h"

namespace qdx::players {

std::unique_ptr<PlayerSource> PlayerSource::Prepare(const PlayerTarget& target,
                                                    std::string* error) {
    std::unique_ptr<PlayerSource> source(new PlayerSource(target));
    if (!source->Simulated()) {
        return source;
    }
    std::string problem;
    std::unique_ptr<sim::SimPlayer> player = sim::SimPlayer::Load(target.path, &problem);
    if (!player) {
        *error = "cannot use player file " + target.path + ": " + problem;
        return nullptr;
    }
    source->m_player = std::move(player);
    if (!target.tracePath.empty()) {
        source->m_trace.open(target.tracePath, std::ios::out | std::ios::trunc);
        if (!source->m_trace) {
            *error = "cannot write trace file " + target.tracePath;
            return nullptr;
        }
    }
    return source;
}

DeviceHandle PlayerSource::Open(std::string* why) {
    if (Simulated()) {
        m_simDevice =
            std::make_shared<sim::SimDevice>(m_player, m_target.faults, m_target.latency);
        if (m_trace.is_open()) {
            m_simDevice->SetTrace(&m_trace);
        }
        return m_simDevice;
    }
    // Vendor commands go only to a removable USB disk that holds nothing of the running system.
    if (!CheckPlayerDisk(m_target.path, why)) {
        return nullptr;
    }
    return OpenPlatformDevice(m_target.path, why);
}

bool PlayerSource::Finish(std::string* error) {
    if (!Simulated()) {
        return true;
    }
    if (m_trace.is_open()) {
        m_trace.flush();
    }
    // The flash has changed whatever the ending, so the player is saved after failures too.
    std::string problem;
    if (!m_player->Save(m_target.path, &problem)) {
        *error = "cannot save player file " + m_target.path + ": " + problem;
        return false;
    }
    return true;
}

}  // namespace qdx::players
