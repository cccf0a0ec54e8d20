#include "files/JobOptions.h"

namespace qdx {

void SwitchOnJobOptions(JobOptions& options) {
    options.verify = 1;
    options.backup = 1;
    options.format = 1;
}

LaunchSettings ToLaunchSettings(const JobOptions& options, const FirmwarePaths& paths) {
    LaunchSettings settings;
    settings.uitOffset = options.uitOffset;
    settings.verify = options.verify ? 1 : 0;
    settings.backup = options.backup ? 1 : 0;
    settings.format = options.format ? 1 : 0;
    settings.imPmPath = paths.imPmPath;
    settings.uitPath = paths.uitPath;
    settings.fontPath = paths.fontPath;
    return settings;
}

}  // namespace qdx
