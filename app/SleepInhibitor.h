// Keeps the machine from sleeping while a download writes the player's flash.
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

// logind's inhibitor lock on Linux (app/qt), the thread execution state on Windows (app/win32).
std::unique_ptr<ISleepInhibitor> MakePlatformSleepInhibitor();

}  // namespace qdx::app
