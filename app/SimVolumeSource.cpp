#include "app/SimVolumeSource.h"

#include <filesystem>

namespace qdx::app {

void SimVolumeSource::Watch(Listener listener) {
    m_listener = std::move(listener);
    m_defer([this, alive = std::weak_ptr<int>(m_alive)] {
        if (alive.lock()) {
            PlugIn();
        }
    });
}

void SimVolumeSource::Unplug() {
    if (!m_pluggedIn) {
        return;
    }
    m_pluggedIn = false;
    if (m_listener) {
        m_listener(VolumeEvent{VolumeEvent::Kind::Removal, m_file, false});
    }
}

void SimVolumeSource::PlugIn() {
    if (m_pluggedIn) {
        return;
    }
    m_pluggedIn = true;
    std::error_code error;
    const bool present = std::filesystem::is_regular_file(m_file, error);
    if (m_listener) {
        m_listener(VolumeEvent{VolumeEvent::Kind::Arrival, m_file, present});
    }
}

}  // namespace qdx::app
