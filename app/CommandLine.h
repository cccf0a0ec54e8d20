// The program's only command line: a simulated player for demonstrations, training and tests.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"

namespace qdx::app {

struct ClientOptions {
    std::string simulatedPlayer;          // empty: track real players
    std::chrono::microseconds latency{};  // per command of the simulated player
    sim::FaultPlan faults;                // injected into every job on the simulated player
    std::vector<std::string> ignored;     // arguments the program does not know, left alone
};

// Arguments after the program name: "--simulate PLAYER" with an optional "--latency-us N" and any
// number of "--fault SPEC" (as qdxflash takes them). Arguments the program does not know are
// ignored and listed in ignored, so a launcher's extra argument never keeps the window from
// opening. nullopt with *error set when a known option is malformed, given twice, or applies to
// a simulated player and none is given.
std::optional<ClientOptions> ParseClientArguments(const std::vector<std::string>& args,
                                                  std::string* error);

inline constexpr const char* kClientUsage =
    "usage: qdxclient [--simulate PLAYER [--latency-us N] [--fault SPEC]...]";

}  // namespace qdx::app
