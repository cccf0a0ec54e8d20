// The command line of qdxflash and the fault specifications over arbitrary words: each is taken
// or refused with a message, never a crash.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Words are separated by newlines, as a shell would hand them over.
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    const qdx::cli::ParseResult parsed = qdx::cli::ParseCommandLine(words);
    if (!parsed.command && parsed.error.empty()) {
        std::abort();
    }
    if (parsed.command) {
        qdx::cli::UsageText(parsed.command->helpTopic);
    }
    for (const std::string& word : words) {
        qdx::sim::FaultPlan plan;
        std::string error;
        if (!qdx::sim::ParseFaultSpec(word, plan, &error) && error.empty()) {
            std::abort();
        }
    }
    return 0;
}
