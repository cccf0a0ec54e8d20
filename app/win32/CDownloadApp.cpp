#include "app/win32/CDownloadApp.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>

#include "app/CommandLine.h"
#include "app/SimVolumeSource.h"
#include "app/win32/CDownloadDlg.h"
#include "app/win32/WideText.h"

namespace qdx::app {

int CDownloadApp::Run(HINSTANCE instance, const std::vector<std::string>& args) {
    // A second start ends at once, with no window and no message.
    if (!m_hSingleInstance.Acquire()) {
        return 0;
    }
    return InitInstance(instance, args);
}

int CDownloadApp::InitInstance(HINSTANCE instance, const std::vector<std::string>& args) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    std::string error;
    const std::optional<ClientOptions> options = ParseClientArguments(args, &error);
    if (!options) {
        // A window program has no console to report to.
        std::fprintf(stderr, "qdxclient: %s\n%s\n", error.c_str(), kClientUsage);
        MessageBoxW(nullptr, Wide(error + "\n" + kClientUsage).c_str(), AppName().c_str(),
                    MB_OK | MB_ICONERROR);
        return 2;
    }
    for (const std::string& ignored : options->ignored) {
        std::fprintf(stderr, "qdxclient: ignoring the argument '%s'\n", ignored.c_str());
    }

    MessageLoopPoster poster;
    DownloadDlgServices services;
    if (!options->simulatedPlayer.empty()) {
        services.volumes = std::make_unique<SimVolumeSource>(
            options->simulatedPlayer,
            [&poster](std::function<void()> function) { poster.Post(std::move(function)); });
        services.opener = std::make_unique<SimDeviceOpener>(options->simulatedPlayer,
                                                            options->latency, options->faults);
    }
    CDownloadDlg dialog(instance, std::move(services));
    dialog.DoModal();
    return 0;
}

}  // namespace qdx::app
