// Takes the picture of the window for the documentation: connected to a simulated player and in
// the middle of a download.
//
//   qdxclient_screenshot OUTPUT.png
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include "app/qt/CDownloadDlg.h"
#include "app/qt/bench/DemoSetup.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qdxclient_screenshot OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("qdxclient");

    QTemporaryDir dir;
    std::string error;
    const std::string path = dir.path().toStdString();
    if (!dir.isValid() || !qdx::app::demo::WriteDemoSet(path, 128 * 1024, 256 * 1024, &error)) {
        std::fprintf(stderr, "qdxclient_screenshot: %s\n", error.c_str());
        return 1;
    }
    auto services =
        qdx::app::demo::DemoServices(path, std::chrono::microseconds(1000),
                                     [](QWidget*, const qdx::app::MessageRequest& request) {
                                         std::fprintf(stderr, "qdxclient_screenshot: message: %s\n",
                                                      request.text.toStdString().c_str());
                                     });
    qdx::app::CDownloadDlg window(std::move(services));
    window.show();

    auto* status = window.findChild<QLabel*>("statusLine");
    auto* bar = window.findChild<QProgressBar*>("progressBar");
    bool saved = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Mid-download: the UIT image going out, the bar well on its way.
        if (!saved && bar->value() >= 35 && status->text().contains("UIT")) {
            saved = window.grab().save(output, "PNG");
            if (!saved) {
                std::fprintf(stderr, "qdxclient_screenshot: cannot write %s\n", argv[1]);
                application.exit(1);
            }
        }
    });
    QObject::connect(&window, &qdx::app::CDownloadDlg::downloadEnded, &application,
                     &QCoreApplication::quit);
    QTimer::singleShot(50, [&] {
        poll.start();
        window.OnStartDownload();
    });
    const int result = application.exec();
    return saved ? result : 1;
}
