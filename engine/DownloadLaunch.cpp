#include "engine/DownloadLaunch.h"

namespace qdx {

LaunchOutcome LaunchDownload(CFlashEngine& engine, CDownloadThread& thread, const DeviceOpen& open,
                             const JobOptions& options, const FirmwarePaths& paths,
                             const LaunchPorts& ports) {
    // The engine belongs to a running worker until it ends: a launch must not reconfigure it,
    // nor open the player under it.
    if (thread.IsRunning()) {
        return LaunchOutcome::WorkerBusy;
    }
    DeviceHandle device = open();
    if (!device) {
        if (ports.messageBox != nullptr) {
            ports.messageBox->Show(texts::kOpenFailed);
        }
        return LaunchOutcome::OpenFailed;
    }

    // With the format option set, identification stops before the kernel block: the job reads
    // it after formatting. InitFlash records the device in the engine.
    engine.m_format = options.format ? 1 : 0;
    if (!engine.InitFlash(std::move(device))) {
        if (ports.statusText != nullptr) {
            ports.statusText->SetText(texts::kFailed);
        }
        engine.CloseDevice();
        return LaunchOutcome::InitFailed;
    }
    engine.m_uitOffset = options.uitOffset;
    engine.PlanBackupAreas();
    engine.m_verify = options.verify ? 1 : 0;
    engine.m_backup = options.backup ? 1 : 0;
    engine.m_contentMask |= kContentImPm;
    engine.m_paths[1] = paths.imPmPath;
    engine.m_contentMask |= kContentUit;
    engine.m_paths[2] = paths.uitPath;
    engine.m_contentMask |= kContentFont;
    engine.m_paths[3] = paths.fontPath;

    thread.SetControls(ports.startButton, ports.statusText, ports.progressBar);
    thread.BindEngine(&engine);
    if (!thread.Start()) {
        engine.CloseDevice();
        return LaunchOutcome::ThreadFailed;
    }
    return LaunchOutcome::Started;
}

}  // namespace qdx
