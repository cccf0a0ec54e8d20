// Keeps the machine from sleeping, shutting down or ending the session while a download writes
// the player's flash: any of them would leave the flash half written.
#pragma once

#include <memory>

namespace qdx::app {

class ISleepInhibitor {
public:
    virtual ~ISleepInhibitor() = default;
    // Best effort: fails quietly where the platform offers no way.
    virtual void Acquire() = 0;
    virtual void Release() = 0;
    virtual bool Held() const = 0;
};

// logind's sleep and shutdown lock on Linux (app/qt); on Windows (app/win32) the thread
// execution state and a shutdown block reason on window, the native window handle that the
// system names when it asks the operator (may be null there, then only sleep is held off).
std::unique_ptr<ISleepInhibitor> MakePlatformSleepInhibitor(void* window = nullptr);

}  // namespace qdx::app
