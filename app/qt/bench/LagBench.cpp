// How live the window stays during a whole download: a 5 ms timer on the GUI thread measures
// how late each of its ticks fires while the simulated player (1 ms per command by default)
// takes the job. Prints the 50th, 99th percentile and the largest lateness.
//
//   qdxclient_lag [--latency-us N] [--uit-kib N] [--font-kib N]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/qt/CDownloadDlg.h"
#include "app/qt/bench/DemoSetup.h"
#include "engine/CFlashEngine.h"

namespace {

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    long latencyUs = 1000;
    long uitKib = 128;
    long fontKib = 256;
    for (int i = 1; i + 1 < argc; i += 2) {
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--latency-us") == 0) {
            latencyUs = value;
        } else if (std::strcmp(argv[i], "--uit-kib") == 0) {
            uitKib = value;
        } else if (std::strcmp(argv[i], "--font-kib") == 0) {
            fontKib = value;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);

    QTemporaryDir dir;
    std::string error;
    const std::string path = dir.path().toStdString();
    if (!dir.isValid() ||
        !qdx::app::demo::WriteDemoSet(path, static_cast<std::size_t>(uitKib) * 1024,
                                      static_cast<std::size_t>(fontKib) * 1024, &error)) {
        std::fprintf(stderr, "qdxclient_lag: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> messages;
    auto services = qdx::app::demo::DemoServices(
        path, std::chrono::microseconds(latencyUs),
        [&messages](QWidget*, const qdx::app::MessageRequest& request) {
            messages.push_back(request.text.toStdString());
        });
    qdx::app::CDownloadDlg window(std::move(services));
    window.show();

    std::vector<double> lateness;
    QElapsedTimer clock;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    qint64 last = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max<double>(0, static_cast<double>(now - last) / 1e6 - 5.0));
        last = now;
    });

    QElapsedTimer total;
    double launchMs = 0;
    QObject::connect(&window, &qdx::app::CDownloadDlg::downloadEnded, &application,
                     &QCoreApplication::quit);
    // Once the simulated player has arrived, press Start and measure until the job ends.
    QTimer::singleShot(50, [&] {
        total.start();
        clock.start();
        last = 0;
        tick.start();
        QElapsedTimer launch;
        launch.start();
        window.OnStartDownload();
        launchMs = static_cast<double>(launch.nsecsElapsed()) / 1e6;
        if (!window.IsDownloading()) {
            std::fprintf(stderr, "qdxclient_lag: the download did not start\n");
            application.exit(1);
        }
    });
    const int status = application.exec();
    tick.stop();
    if (status != 0) {
        return status;
    }
    for (const std::string& message : messages) {
        std::fprintf(stderr, "qdxclient_lag: message box: %s\n", message.c_str());
    }
    const QString ending = window.findChild<QWidget*>("statusLine")->property("text").toString();
    std::printf("download: %.1f s at %ld us per command, UIT %ld KiB, font %ld KiB, ending %s\n",
                static_cast<double>(total.elapsed()) / 1000.0, latencyUs, uitKib, fontKib,
                ending.toStdString().c_str());
    // The launch identifies the chip and plans the backup areas on the GUI thread by design.
    std::printf("launch on the GUI thread: %.1f ms\n", launchMs);
    std::printf("event-loop lag over %zu ticks of 5 ms: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                lateness.size(), Percentile(lateness, 0.50), Percentile(lateness, 0.99),
                lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()));
    return ending == QString::fromUtf8(qdx::texts::kCompleted) ? 0 : 1;
}
