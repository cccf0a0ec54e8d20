// Opening the player that info and download work on: a simulated player file or a real disk.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include "cli/CommandLine.h"
#include "sim/SimPlayer.h"
#include "transport/Device.h"

namespace qdx::cli {

struct OpenedTarget {
    std::shared_ptr<sim::SimPlayer> player;  // set for --sim
    std::shared_ptr<sim::SimDevice> simDevice;
    std::ofstream trace;
    DeviceHandle device;    // null when a real disk could not be opened
    std::string openError;  // why not
};

// Loads the simulated player (with its fault plan and trace) or opens the disk. Returns the exit
// status of a usage error (a player file, fault or trace file that cannot be used; the message is
// on err), or 0. A disk that cannot be opened is not a usage error: device stays null.
int OpenTarget(const CliCommand& command, OpenedTarget& target, std::ostream& err);

}  // namespace qdx::cli
