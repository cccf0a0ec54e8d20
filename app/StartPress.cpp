#include "app/StartPress.h"

#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"

namespace qdx::app {

std::weak_ptr<IDevice> g_hDevice;
JobOptions g_jobOptions;
FirmwarePaths g_firmwarePaths;

std::optional<StartRefusal> PrepareStart(const FirmwareFolders& folders, bool simulatedPlayer,
                                         const ReasonLog& log) {
    const std::string folder = ChooseFirmwareFolder(folders, ListDirectory);
    const std::optional<std::string> missing =
        FindFirmwareFiles(folder, ListDirectory, g_jobOptions, g_firmwarePaths);
    if (missing) {
        log(MissingFileNote(folders, folder, *missing));
        return StartRefusal{*missing, false};
    }
    // A build without the player's firmware never writes its placeholder into a real player.
    if (!MayWriteBuiltinImage(g_firmwarePaths, simulatedPlayer, BuiltinImageIsPlaceholder())) {
        return StartRefusal{texts::kPlaceholderRefused, true};
    }
    return std::nullopt;
}

LaunchOutcome LaunchSlotPlayer(CFlashEngine& engine, CDownloadThread& thread, IDeviceOpener& opener,
                               const std::string& volume, const LaunchPorts& ports) {
    auto open = [&opener, &volume] {
        DeviceHandle device = opener.Open(volume);
        g_hDevice = device;
        return device;
    };
    return LaunchDownload(engine, thread, open, g_jobOptions, g_firmwarePaths, ports);
}

}  // namespace qdx::app
