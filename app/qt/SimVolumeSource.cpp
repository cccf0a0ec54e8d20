#include "app/qt/SimVolumeSource.h"

#include <QTimer>

#include <filesystem>

namespace qdx::app {

void SimVolumeSource::Watch(Listener listener) {
    QTimer::singleShot(0, [file = m_file, listener = std::move(listener)] {
        std::error_code error;
        const bool present = std::filesystem::is_regular_file(file, error);
        listener(VolumeEvent{VolumeEvent::Kind::Arrival, file, present});
    });
}

}  // namespace qdx::app
