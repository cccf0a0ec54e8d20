// A directory with everything a download needs and no hardware: a UIT and a font image beside a
// factory-fresh simulated player. Used by the benchmark, the screenshot and the window tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "app/SimVolumeSource.h"
#include "app/qt/CDownloadDlg.h"
#include "engine/ImageFile.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

namespace qdx::app::demo {

// An image around a deterministic payload that differs with the seed.
inline std::vector<std::uint8_t> MakeImage(std::size_t payloadBytes, std::uint32_t seed) {
    std::vector<std::uint8_t> payload(payloadBytes);
    for (std::size_t k = 0; k < payloadBytes; ++k) {
        payload[k] = static_cast<std::uint8_t>((k * 131 + seed * 29) ^ (k >> 7));
    }
    std::vector<std::uint8_t> image;
    std::string ignored;  // demonstration images stay far below the size limit
    PackImage(payload, image, &ignored);
    return image;
}

inline bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline constexpr std::uint8_t kDemoChip = 0x73;

// Writes dir/player.uit, dir/font.hzk and dir/player.sim; false with *error set on failure.
inline bool WriteDemoSet(const std::string& dir, std::size_t uitBytes, std::size_t fontBytes,
                         std::string* error) {
    if (!WriteBytes(dir + "/player.uit", MakeImage(uitBytes, 2)) ||
        !WriteBytes(dir + "/font.hzk", MakeImage(fontBytes, 3))) {
        *error = "cannot write the images into " + dir;
        return false;
    }
    const auto player = sim::SimPlayer::CreateFactory(kDemoChip, false, {}, error);
    return player && player->Save(dir + "/player.sim", error);
}

// Demonstrations and measurements keep the machine's sleep settings alone.
class NoSleepInhibitor : public ISleepInhibitor {
public:
    void Acquire() override {}
    void Release() override {}
    bool Held() const override { return false; }
};

// The window's services for the demonstration set in dir: its files, its simulated player
// arriving as a volume and answering at latency per command. Message boxes are the caller's.
inline DownloadDlgServices DemoServices(const std::string& dir, std::chrono::microseconds latency,
                                        MessagePresenter presentMessage) {
    const std::string player = dir + "/player.sim";
    DownloadDlgServices services;
    services.folders = [dir] { return FirmwareFolders{dir, {}}; };
    services.volumes = std::make_unique<SimVolumeSource>(player, PostToEventLoop);
    services.opener = std::make_unique<SimDeviceOpener>(player, latency);
    services.inhibitor = std::make_unique<NoSleepInhibitor>();
    services.presentMessage = std::move(presentMessage);
    return services;
}

}  // namespace qdx::app::demo
