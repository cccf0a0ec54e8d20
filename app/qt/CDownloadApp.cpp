#include "app/qt/CDownloadApp.h"

#include <QApplication>
#include <QSessionManager>

#include <cstdio>
#include <memory>

#include "app/CommandLine.h"
#include "app/FirmwareFolder.h"
#include "app/SimVolumeSource.h"
#include "app/qt/CDownloadDlg.h"
#include "app/qt/TermSignals.h"

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
    // The arguments are read before the toolkit starts, so that a malformed option is reported
    // even where no display can be opened. Arguments the program does not know are left alone.
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string error;
    const std::optional<ClientOptions> options = ParseClientArguments(args, &error);
    if (!options) {
        std::fprintf(stderr, "qdxclient: %s\n%s\n", error.c_str(), kClientUsage);
        return 2;
    }
    for (const std::string& ignored : options->ignored) {
        std::fprintf(stderr, "qdxclient: ignoring the argument '%s'\n", ignored.c_str());
    }

    QApplication application(argc, argv);  // names the application after the program file
    // Where an installed program's folder cannot take the UIT and HZK files, the operator puts
    // them into the user's data folder, which is there from the first start on.
    CreateUserDataFolder(PlatformFirmwareFolders().userData);

    DownloadDlgServices services;
    if (!options->simulatedPlayer.empty()) {
        services.volumes =
            std::make_unique<SimVolumeSource>(options->simulatedPlayer, PostToEventLoop);
        services.opener = std::make_unique<SimDeviceOpener>(options->simulatedPlayer,
                                                            options->latency, options->faults);
    }
    auto window = std::make_unique<CDownloadDlg>(std::move(services));

    // A termination request ends the program once the running download has ended, so the
    // player's flash is never left half written and a simulated player is saved.
    TermSignals termination;
    QObject::connect(&termination, &TermSignals::received, window.get(),
                     [&window] { window->CloseWhenIdle(); });
#ifndef QT_NO_SESSIONMANAGER
    // Logging out during a download is refused, as closing the window is.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, window.get(),
                     [&window](QSessionManager& manager) {
                         if (window->IsDownloading()) {
                             manager.cancel();
                         }
                     });
#endif
    window->exec();
    window.reset();
    return 0;
}

}  // namespace qdx::app
