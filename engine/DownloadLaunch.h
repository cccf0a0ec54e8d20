// The launch of one download: from an opened player to a running worker. Plain code shared by
// the desktop program and the command-line tool.
#pragma once

#include <cstdint>
#include <string>

#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/Ports.h"
#include "transport/Device.h"

namespace qdx {

namespace texts {
inline constexpr const char* kOpenFailed = "磁盘设备创建或打开失败！";
}

// What the launch copies into the engine.
struct LaunchSettings {
    std::int8_t uitOffset = 0;
    std::uint8_t verify = 1;
    std::uint8_t backup = 1;
    std::uint8_t format = 1;
    std::string imPmPath = kBuiltinImagePath;
    std::string uitPath;
    std::string fontPath;
};

enum class LaunchOutcome {
    Started,       // the worker runs the job
    WorkerBusy,    // the previous worker is still alive; nothing was touched
    OpenFailed,    // the player could not be opened; message shown
    InitFailed,    // the chip was not identified; message shown, status "failed", handle closed
    ThreadFailed,  // the worker could not be created; handle closed
};

struct LaunchPorts {
    IButtonControl* startButton = nullptr;
    ITextControl* statusText = nullptr;
    IProgressControl* progressBar = nullptr;
    IMessageBox* messageBox = nullptr;
};

// Launches a download on an opened device (null when the open failed): identifies the chip with
// the format option set, plans the backup areas, copies options and paths, binds the worker to
// the engine and starts it. The caller has disabled the Start button.
LaunchOutcome LaunchDownload(CFlashEngine& engine, CDownloadThread& thread, DeviceHandle device,
                             const LaunchSettings& settings, const LaunchPorts& ports);

}  // namespace qdx
