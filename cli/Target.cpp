#include "cli/Target.h"

#include "cli/Commands.h"
#include "cli/Disks.h"
#include "transport/PlatformDevice.h"

namespace qdx::cli {

int OpenTarget(const CliCommand& command, OpenedTarget& target, std::ostream& err) {
    if (command.target == TargetKind::Device) {
        if (IsPlayerDisk(command.targetPath, &target.openError)) {
            target.device = OpenPlatformDevice(command.targetPath, &target.openError);
        }
        return kExitOk;
    }
    std::string error;
    std::unique_ptr<sim::SimPlayer> player = sim::SimPlayer::Load(command.targetPath, &error);
    if (!player) {
        err << "qdxflash: cannot use player file " << command.targetPath << ": " << error << '\n';
        return kExitUsage;
    }
    sim::FaultPlan faults;
    for (const std::string& faultText : command.faults) {
        if (!sim::ParseFaultSpec(faultText, faults, &error)) {
            err << "qdxflash: --fault " << faultText << ": " << error << '\n';
            return kExitUsage;
        }
    }
    target.player = std::move(player);
    target.simDevice = std::make_shared<sim::SimDevice>(
        target.player, faults, std::chrono::microseconds(command.latencyMicros));
    if (!command.tracePath.empty()) {
        target.trace.open(command.tracePath, std::ios::out | std::ios::trunc);
        if (!target.trace) {
            err << "qdxflash: cannot write trace file " << command.tracePath << '\n';
            return kExitUsage;
        }
        target.simDevice->SetTrace(&target.trace);
    }
    target.device = target.simDevice;
    return kExitOk;
}

}  // namespace qdx::cli
