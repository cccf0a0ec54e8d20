#include "app/CommandLine.h"

#include <charconv>

namespace qdx::app {

std::optional<ClientOptions> ParseClientArguments(const std::vector<std::string>& args,
                                                  std::string* error) {
    ClientOptions options;
    bool latencyGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--simulate" && hasValue && options.simulatedPlayer.empty()) {
            options.simulatedPlayer = args[++i];
            if (options.simulatedPlayer.empty()) {
                *error = "--simulate needs a player file";
                return std::nullopt;
            }
        } else if (arg == "--latency-us" && hasValue && !latencyGiven) {
            const std::string& text = args[++i];
            unsigned long value = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec != std::errc() || end != text.data() + text.size() || value > 10'000'000) {
                *error = "--latency-us needs a number of microseconds up to 10000000";
                return std::nullopt;
            }
            options.latency = std::chrono::microseconds(value);
            latencyGiven = true;
        } else {
            *error = "unexpected argument '" + arg + "'";
            return std::nullopt;
        }
    }
    if (latencyGiven && options.simulatedPlayer.empty()) {
        *error = "--latency-us applies to a simulated player only";
        return std::nullopt;
    }
    return options;
}

}  // namespace qdx::app
