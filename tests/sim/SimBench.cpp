// Figures for the simulated player: the cost of a factory player of the largest flash and the host
// CPU time per vendor command. Prints; asserts nothing.
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

long PeakKiB() {
#if defined(__linux__)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return -1;
#endif
}

}  // namespace

int main() {
    using namespace qdx;
    using namespace qdx::sim;
    std::string error;

    const auto start = Clock::now();
    std::shared_ptr<SimPlayer> player = SimPlayer::CreateFactory(0xD3, true, {3, 700}, &error);
    if (!player) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    SimDevice device(player);
    std::array<std::uint8_t, 512> buffer{};
    device.Send(BuildReadId(0, buffer.data()));
    device.Send(BuildReadId(1, buffer.data()));
    for (std::uint32_t block = 0; block < 3; ++block) {
        device.Send(BuildReadSpare(block * 256, buffer.data()));
        device.Send(BuildReadSpare(block * 256 + 1, buffer.data()));
    }
    for (std::uint32_t i = 0; i < 7; ++i) {
        device.Send(BuildReadSector(256 + i, buffer.data()));
    }
    std::printf("two 0xD3 chips: create, identify, read kernel block: %.0f us, peak %ld KiB\n",
                MicrosecondsSince(start), PeakKiB());

    const std::string path = (std::filesystem::temp_directory_path() / "sim_bench.qdxsim").string();
    if (player->Save(path, &error)) {
        std::printf("its file: %ju bytes\n",
                    static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
        std::filesystem::remove(path);
    }

    // A job's mix: erase, tag, write and read back every sector of 40 blocks, spare walks between.
    // The first pass writes blocks never written before (their memory is touched for the first
    // time); the second rewrites them, as a repeated download does.
    const std::uint32_t blocks = 40;
    for (const char* pass : {"fresh blocks", "rewritten blocks"}) {
        const auto jobStart = Clock::now();
        for (std::uint32_t block = 100; block < 100 + blocks; ++block) {
            const std::uint32_t first = block * 256;
            device.Send(BuildReadSpare(first + 1, buffer.data()));
            device.Send(BuildReadSpare(first, buffer.data()));
            device.Send(BuildEraseBlock(first));
            device.Send(BuildSetWriteTag(0));
            for (std::uint32_t i = 0; i < 256; ++i) {
                buffer[0] = static_cast<std::uint8_t>(i);
                device.Send(BuildWriteSector(first + i, buffer.data()));
            }
            for (std::uint32_t i = 0; i < 256; ++i) {
                device.Send(BuildReadSector(first + i, buffer.data()));
            }
        }
        const double us = MicrosecondsSince(jobStart);
        const double commands = blocks * (4.0 + 512.0);
        std::printf("job mix, %s: %.0f commands in %.0f us, %.3f us per command\n", pass, commands,
                    us, us / commands);
    }
    return 0;
}
