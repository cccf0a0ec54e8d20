// Termination requests (SIGTERM, SIGINT, SIGHUP) as a signal on the Qt event loop: the handler
// only writes the signal number into a pipe that a socket notifier watches, so the window decides
// what happens, on its own thread, at a moment of its choosing.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace qdx::app {

class TermSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; the previous ones come back when this object goes.
    explicit TermSignals(QObject* parent = nullptr);
    ~TermSignals() override;

signals:
    void received(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace qdx::app
