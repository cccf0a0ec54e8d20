// The program's only command line: a simulated player for demonstrations and tests.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qdx::app {

struct ClientOptions {
    std::string simulatedPlayer;          // empty: track real players
    std::chrono::microseconds latency{};  // per command of the simulated player
};

// Arguments after the program name. Accepts nothing, or "--simulate PLAYER" with an optional
// "--latency-us N". nullopt with *error set otherwise.
std::optional<ClientOptions> ParseClientArguments(const std::vector<std::string>& args,
                                                  std::string* error);

inline constexpr const char* kClientUsage = "usage: qdxclient [--simulate PLAYER [--latency-us N]]";

}  // namespace qdx::app
