// Windows: the thread execution state keeps the system awake, and a shutdown block reason on the
// window makes the system ask the operator before it shuts down or ends the session (the window
// also refuses WM_QUERYENDSESSION while a download runs).
#include <windows.h>

#include "app/SleepInhibitor.h"
#include "app/WindowTexts.h"
#include "app/win32/WideText.h"

namespace qdx::app {

namespace {

class ExecutionStateInhibitor : public ISleepInhibitor {
public:
    explicit ExecutionStateInhibitor(HWND window) : m_window(window) {}
    ~ExecutionStateInhibitor() override { Release(); }
    void Acquire() override {
        if (m_held) {
            return;
        }
        m_held = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
        if (m_window != nullptr) {
            m_blocked =
                ShutdownBlockReasonCreate(m_window, Wide(texts::kShutdownHeldOff).c_str()) != 0;
        }
    }
    void Release() override {
        if (m_held) {
            SetThreadExecutionState(ES_CONTINUOUS);
            m_held = false;
        }
        if (m_blocked) {
            ShutdownBlockReasonDestroy(m_window);
            m_blocked = false;
        }
    }
    bool Held() const override { return m_held; }

private:
    HWND m_window;
    bool m_held = false;
    bool m_blocked = false;
};

}  // namespace

std::unique_ptr<ISleepInhibitor> MakePlatformSleepInhibitor(void* window) {
    return std::make_unique<ExecutionStateInhibitor>(static_cast<HWND>(window));
}

}  // namespace qdx::app
