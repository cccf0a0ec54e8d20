#include "app/qt/CDownloadApp.h"

#include <QApplication>

#include <cstdio>
#include <memory>

#include "app/CommandLine.h"
#include "app/qt/CDownloadDlg.h"
#include "app/qt/SimVolumeSource.h"

namespace qdx::app {

int CDownloadApp::Run(int argc, char** argv) {
    // Taken before the toolkit starts: a second start ends at once, with no window and no
    // message.
    if (!m_hSingleInstance.Acquire()) {
        return 0;
    }
    return InitInstance(argc, argv);
}

int CDownloadApp::InitInstance(int argc, char** argv) {
    // The arguments are read before the toolkit starts, so that a wrong one is reported even
    // where no display can be opened.
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string error;
    const std::optional<ClientOptions> options = ParseClientArguments(args, &error);
    if (!options) {
        std::fprintf(stderr, "qdxclient: %s\n%s\n", error.c_str(), kClientUsage);
        return 2;
    }

    QApplication application(argc, argv);  // names the application after the program file
    DownloadDlgServices services;
    if (!options->simulatedPlayer.empty()) {
        services.volumes = std::make_unique<SimVolumeSource>(options->simulatedPlayer);
        services.opener =
            std::make_unique<SimDeviceOpener>(options->simulatedPlayer, options->latency);
    }
    auto window = std::make_unique<CDownloadDlg>(std::move(services));
    window->exec();
    window.reset();
    return 0;
}

}  // namespace qdx::app
