#include "app/SleepInhibitor.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#endif

namespace qdx::app {

namespace {

#ifdef _WIN32

class ExecutionStateInhibitor : public ISleepInhibitor {
public:
    ~ExecutionStateInhibitor() override { Release(); }
    void Acquire() override {
        m_held = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    }
    void Release() override {
        if (m_held) {
            SetThreadExecutionState(ES_CONTINUOUS);
            m_held = false;
        }
    }
    bool Held() const override { return m_held; }

private:
    bool m_held = false;
};

#else

// The lock lasts as long as the file descriptor logind hands back stays open.
class LogindInhibitor : public ISleepInhibitor {
public:
    ~LogindInhibitor() override { Release(); }
    void Acquire() override {
        if (Held()) {
            return;
        }
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) {
            return;
        }
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "Inhibit");
        call << QStringLiteral("sleep:idle") << QStringLiteral("qdxclient")
             << QStringLiteral("download in progress") << QStringLiteral("block");
        // A short time-out: the launch runs on the GUI thread.
        const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, 2000);
        if (reply.isValid()) {
            m_lock = reply.value();
        }
    }
    void Release() override { m_lock = QDBusUnixFileDescriptor(); }  // closes our descriptor
    bool Held() const override { return m_lock.isValid(); }

private:
    QDBusUnixFileDescriptor m_lock;
};

#endif

}  // namespace

std::unique_ptr<ISleepInhibitor> MakePlatformSleepInhibitor() {
#ifdef _WIN32
    return std::make_unique<ExecutionStateInhibitor>();
#else
    return std::make_unique<LogindInhibitor>();
#endif
}

}  // namespace qdx::app
