// Linux: logind's inhibitor lock on sleep and shutdown, held through the system bus.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include "app/SleepInhibitor.h"

namespace qdx::app {

namespace {

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
        call << QStringLiteral("shutdown:sleep:idle") << QStringLiteral("qdxclient")
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

}  // namespace

std::unique_ptr<ISleepInhibitor> MakePlatformSleepInhibitor(void* /*window*/) {
    return std::make_unique<LogindInhibitor>();
}

}  // namespace qdx::app
