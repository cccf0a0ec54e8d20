#include "engine/DownloadLaunch.h"

namespace qdx {

LaunchOutcome LaunchDownload(CFlashEngine& engine, CDownloadThread& thread, DeviceHandle device,
                             const LaunchSettings& settings, const LaunchPorts& ports) {
    // The engine belongs to a running worker until it ends: a launch must not reconfigure it.
    if (thread.IsRunning()) {
        CloseHandle(device);
        return LaunchOutcome::WorkerBusy;
    }
    if (!device) {
        if (ports.messageBox != nullptr) {
            ports.messageBox->Show(texts::kOpenFailed);
        }
        return LaunchOutcome::OpenFailed;
    }

    // With the format option set, identification stops before the kernel block: the job reads
    // it after formatting.
    engine.m_format = settings.format ? 1 : 0;
    if (!engine.InitFlash(device)) {
        if (ports.statusText != nullptr) {
            ports.statusText->SetText(texts::kFailed);
        }
        CloseHandle(device);
        return LaunchOutcome::InitFailed;
    }
    engine.m_hDevice = device;
    engine.m_uitOffset = settings.uitOffset;
    engine.PlanBackupAreas();
    engine.m_verify = settings.verify ? 1 : 0;
    engine.m_backup = settings.backup ? 1 : 0;
    engine.m_contentMask |= kContentImPm;
    engine.m_paths[1] = settings.imPmPath;
    engine.m_contentMask |= kContentUit;
    engine.m_paths[2] = settings.uitPath;
    engine.m_contentMask |= kContentFont;
    engine.m_paths[3] = settings.fontPath;

    thread.SetControls(ports.startButton, ports.statusText, ports.progressBar);
    thread.BindEngine(&engine);
    if (!thread.Start()) {
        CloseHandle(device);
        return LaunchOutcome::ThreadFailed;
    }
    return LaunchOutcome::Started;
}

}  // namespace qdx
