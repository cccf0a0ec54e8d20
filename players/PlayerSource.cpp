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
    switch (source->m_lock.Acquire(target.path, &problem)) {
        case sim::PlayerFileLock::Result::Locked:
            break;
        case sim::PlayerFileLock::Result::Busy:
            *error = "player file " + target.path + " is in use by another program";
            return nullptr;
        case sim::PlayerFileLock::Result::Failed:
            *error = "cannot use player file " + target.path + ": " + problem;
            return nullptr;
    }
    std::unique_ptr<sim::SimPlayer> player = sim::SimPlayer::Load(target.path, &problem);
    if (!player) {
        *error = "cannot use player file " + target.path + ": " + problem;
        return nullptr;
    }
    source->m_player = std::move(player);
    if (!target.tracePath.empty()) {
        if (!source->m_trace.Open(target.tracePath, sim::AtomicFile::NonRegular::WriteDirectly,
                                  &problem)) {
            *error = "cannot write trace file: " + problem;
            return nullptr;
        }
        source->m_tracing = true;
    }
    return source;
}

DeviceHandle PlayerSource::Open(std::string* why) {
    if (Simulated()) {
        m_simDevice = std::make_shared<sim::SimDevice>(m_player, m_target.faults, m_target.latency);
        if (m_tracing) {
            m_simDevice->SetTrace(&m_trace.Stream());
        }
        return m_simDevice;
    }
    // Vendor commands go only to a removable USB disk that holds nothing of the running system.
    if (!CheckPlayerDisk(m_target.path, why)) {
        return nullptr;
    }
    const bool released = ReleasePlayerVolumes(m_target.path, &m_unmounted, why);
    for (const std::string& mountPoint : m_unmounted) {
        m_notes.push_back("unmounted " + mountPoint);
    }
    if (!released) {
        return nullptr;
    }
    return OpenPlatformDevice(m_target.path, why);
}

bool PlayerSource::Finish(std::string* error) {
    if (!Simulated()) {
        std::string why;
        // Without root or udisks2 this fails; that matters only where a volume was mounted.
        if (!RereadPlayerDisk(m_target.path, &why) && !m_unmounted.empty()) {
            m_notes.push_back(why);
        }
        return true;
    }
    // The flash has changed whatever the ending, so the player is saved after failures too.
    std::string problem;
#ifdef _WIN32
    // Windows replaces no file that a handle holds open, the lock's included: the lock goes
    // just before the save instead of just after.
    m_lock.Release();
#endif
    const bool saved = m_player->Save(m_target.path, &problem);
    m_lock.Release();
    if (!saved) {
        *error = "cannot save player file " + m_target.path + ": " + problem;
        return false;
    }
    return true;
}

bool PlayerSource::FinishTrace(std::string* error) {
    if (!m_tracing) {
        return true;
    }
    m_tracing = false;
    std::string problem;
    if (!m_trace.Commit(&problem)) {
        *error = "trace file: " + problem;
        return false;
    }
    return true;
}

}  // namespace qdx::players
