#include "app/CommandLine.h"

#include <charconv>

namespace qdx::app {

std::optional<ClientOptions> ParseClientArguments(const std::vector<std::string>& args,
                                                  std::string* error) {
    ClientOptions options;
    bool latencyGiven = false;
    bool faultGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool known = arg == "--simulate" || arg == "--latency-us" || arg == "--fault";
        if (!known) {
            options.ignored.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) {
            *error = arg + " needs a value";
            return std::nullopt;
        }
        const std::string& value = args[++i];
        if (arg == "--simulate") {
            if (!options.simulatedPlayer.empty()) {
                *error = "--simulate is given twice";
                return std::nullopt;
            }
            if (value.empty()) {
                *error = "--simulate needs a player file";
                return std::nullopt;
            }
            options.simulatedPlayer = value;
        } else if (arg == "--latency-us") {
            unsigned long number = 0;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), number);
            if (latencyGiven || ec != std::errc() || end != value.data() + value.size() ||
                number > 10'000'000) {
                *error = "--latency-us needs one number of microseconds up to 10000000";
                return std::nullopt;
            }
            options.latency = std::chrono::microseconds(number);
            latencyGiven = true;
        } else {
            if (!sim::ParseFaultSpec(value, options.faults, error)) {
                return std::nullopt;
            }
            faultGiven = true;
        }
    }
    if ((latencyGiven || faultGiven) && options.simulatedPlayer.empty()) {
        *error = "--latency-us and --fault apply to a simulated player only";
        return std::nullopt;
    }
    return options;
}

}  // namespace qdx::app
