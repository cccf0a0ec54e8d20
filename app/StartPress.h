// What a press on "开始下载" does before and at the launch, the same in both windows: the process
// wide launch data, finding the files, the refusal of the placeholder firmware, and the launch
// of one slot's player. The windows differ only in how they show the result.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/DeviceOpener.h"
#include "app/FirmwareFolder.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/DownloadLaunch.h"
#include "engine/JobSettings.h"
#include "transport/Device.h"

namespace qdx::app {

// Process-wide launch data: the last opened handle (a record only: the engine owns the device
// from the launch on), the job options and the image paths.
extern std::weak_ptr<IDevice> g_hDevice;
extern JobOptions g_jobOptions;
extern FirmwarePaths g_firmwarePaths;

// A press that launches nothing: the message the window shows, with or without the warning icon.
struct StartRefusal {
    std::string text;
    bool warningIcon = false;
};

// Finds the UIT and HZK files (in the folder ChooseFirmwareFolder picks), switches on the job
// options, and refuses the placeholder firmware on a real player. nullopt when the launch may go
// ahead; a missing or ambiguous file is also noted on log.
std::optional<StartRefusal> PrepareStart(const FirmwareFolders& folders, bool simulatedPlayer,
                                         const ReasonLog& log);

// Launches the player of a slot's volume on the window's engine and worker, opening it through
// opener and recording the handle in g_hDevice.
LaunchOutcome LaunchSlotPlayer(CFlashEngine& engine, CDownloadThread& thread, IDeviceOpener& opener,
                               const std::string& volume, const LaunchPorts& ports);

}  // namespace qdx::app
