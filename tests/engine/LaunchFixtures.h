// What a launch takes, for tests: the options every download runs with, and an opener that
// hands over a prepared device.
#pragma once

#include "engine/DownloadLaunch.h"
#include "engine/JobSettings.h"

namespace qdx::test {

inline JobOptions DownloadOptions() {
    JobOptions options;
    SwitchOnJobOptions(options);
    return options;
}

inline DeviceOpen OpenWith(DeviceHandle device) {
    return [device] { return device; };
}

}  // namespace qdx::test
