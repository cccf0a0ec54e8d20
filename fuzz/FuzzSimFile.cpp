// The simulated player's file loader over arbitrary files: it refuses or loads, and a loaded
// player saves and loads back to the same flash.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/SimPlayer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/qdx-fuzz-simfile-" + std::to_string(::getpid());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string error;
    std::unique_ptr<qdx::sim::SimPlayer> player = qdx::sim::SimPlayer::Load(path, &error);
    if (!player) {
        if (error.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    const std::string again = path + ".again";
    if (!player->Save(again, &error)) {
        std::abort();
    }
    std::unique_ptr<qdx::sim::SimPlayer> reloaded = qdx::sim::SimPlayer::Load(again, &error);
    if (!reloaded || reloaded->FactoryBadBlocks() != player->FactoryBadBlocks()) {
        std::abort();
    }
    std::remove(again.c_str());
    return 0;
}
