// sim create, sim export and info.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/Commands.h"
#include "engine/CFlashEngine.h"
#include "sim/AtomicFile.h"
#include "sim/PlayerFileLock.h"
#include "sim/SimPlayer.h"

namespace qdx::cli {

namespace {

// Message boxes of a command without a job: printed where the failure is reported.
class StreamMessageBox : public IMessageBox {
public:
    explicit StreamMessageBox(std::ostream& out) : m_out(out) {}
    void Show(const std::string& text) override { m_out << "[message] " << text << '\n'; }

private:
    std::ostream& m_out;
};

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace

int RunSimCreate(const CliCommand& command, std::ostream& out, std::ostream& err) {
    std::string error;
    auto player = sim::SimPlayer::CreateFactory(command.chipCode, command.twoChips,
                                                command.badBlocks, &error);
    if (!player) {
        err << "qdxflash: sim create: " << error << '\n';
        return kExitUsage;
    }
    // A player file holds a flash that may have taken a whole download: never replaced by
    // accident, and never while another program uses it.
    std::error_code statusError;
    const std::string target = sim::FollowLinks(command.playerPath);
    const auto status = std::filesystem::status(std::filesystem::path(target), statusError);
    if (!statusError && std::filesystem::exists(status)) {
        if (!std::filesystem::is_regular_file(status)) {
            err << "qdxflash: sim create: " << command.playerPath
                << " exists and is not a regular file; player files are regular files\n";
            return kExitUsage;
        }
        if (!command.force) {
            err << "qdxflash: sim create: " << command.playerPath
                << " exists; give --force to replace the player it holds\n";
            return kExitUsage;
        }
    }
    sim::PlayerFileLock lock;
    if (lock.Acquire(command.playerPath, &error) == sim::PlayerFileLock::Result::Busy) {
        err << "qdxflash: sim create: " << command.playerPath << " is in use by another program\n";
        return kExitUsage;
    }
    if (!player->Save(command.playerPath, &error)) {
        err << "qdxflash: sim create: " << error << '\n';
        return kExitFailed;
    }
    out << "created " << command.playerPath << ": chip " << Hex(command.chipCode)
        << (command.twoChips ? " x2" : "") << ", " << player->TotalBlocks() << " blocks, "
        << player->FactoryBadBlocks().size() << " bad\n";
    return kExitOk;
}

int RunSimExport(const CliCommand& command, std::ostream& out, std::ostream& err) {
    std::string error;
    auto player = sim::SimPlayer::Load(command.playerPath, &error);
    if (!player) {
        err << "qdxflash: cannot use player file " << command.playerPath << ": " << error << '\n';
        return kExitUsage;
    }
    BlockRange range{0, player->TotalBlocks() - 1};
    if (command.blocks) {
        range = *command.blocks;
        if (range.last >= player->TotalBlocks()) {
            err << "qdxflash: sim export: block " << range.last << " is outside the flash (0-"
                << player->TotalBlocks() - 1 << ")\n";
            return kExitUsage;
        }
    }
    if (sim::SameFile(command.rawPath, command.playerPath)) {
        err << "qdxflash: sim export: " << command.rawPath
            << " is the player file itself; give the raw output a file of its own\n";
        return kExitUsage;
    }
    // A failure (a full disk) leaves no partial file behind.
    sim::AtomicFile raw;
    if (!raw.Open(command.rawPath, sim::AtomicFile::NonRegular::WriteDirectly, &error)) {
        err << "qdxflash: sim export: " << error << '\n';
        return kExitFailed;
    }
    errno = 0;
    if (!player->ExportRaw(raw.Stream(), range.first, range.last)) {
        const int cause = errno;
        raw.Discard();
        err << "qdxflash: sim export: cannot write " << command.rawPath
            << (cause ? std::string(": ") + std::strerror(cause) : std::string()) << '\n';
        return kExitFailed;
    }
    if (!raw.Commit(&error)) {
        err << "qdxflash: sim export: " << error << '\n';
        return kExitFailed;
    }
    out << "exported blocks " << range.first << "-" << range.last << " to " << command.rawPath
        << '\n';
    return kExitOk;
}

int RunInfo(const CliCommand& command, std::ostream& out, std::ostream& err) {
    std::unique_ptr<players::PlayerSource> source;
    if (int status = PrepareTarget(command, source, err)) {
        return status;
    }
    std::string openError;
    DeviceHandle device = source->Open(&openError);
    if (!device) {
        err << "qdxflash: " << texts::kOpenFailed << ' ' << openError << '\n';
        return kExitFailed;
    }
    StreamMessageBox messages(err);
    CFlashEngine engine(&messages);
    engine.m_format = 0;  // identify the chip and read the kernel block
    if (!engine.InitFlash(std::move(device))) {
        err << "qdxflash: info: the player is not usable (see the message above)\n";
        engine.CloseDevice();
        return kExitFailed;
    }
    engine.m_uitOffset = 0;
    engine.PlanBackupAreas();
    const std::vector<std::uint32_t> bad = engine.ListBadBlocks();
    engine.CloseDevice();

    const ChipGeometry geometry = engine.Geometry();
    const auto perBlock = static_cast<std::uint32_t>(engine.m_sectorsPerBlock);
    const auto& layout = engine.m_layout;
    out << "chip:           " << Hex(engine.DeviceCode()) << ", "
        << (engine.TwoChips() ? "two chips" : "one chip") << ", "
        << (geometry.largePage ? "large-page" : "small-page") << '\n';
    out << "geometry:       " << engine.TotalBlocks() << " blocks, " << perBlock
        << " sectors per block, "
        << static_cast<std::uint64_t>(engine.TotalSectors()) * 512 / (1024 * 1024) << " MB\n";
    out << "bad blocks:     ";
    if (bad.empty()) {
        out << "none";
    }
    for (std::size_t i = 0; i < bad.size(); ++i) {
        out << (i ? " " : "") << bad[i];
    }
    out << " (" << bad.size() << ")\n";
    out << "kernel block:   " << engine.KernelBlockSector() / perBlock << '\n';
    out << "download areas (start block, layout slot):\n";
    out << "  UIT           " << layout[engine.m_blocksK] << " (slot " << engine.m_blocksK << ")\n";
    out << "  font          " << layout[kSlotFont] << " (slot " << kSlotFont << ")\n";
    out << "  IM/PM         " << layout[kSlotImPm] << " (slot " << kSlotImPm << ")\n";
    out << "backup plan (start block, layout slot; copies grow downward):\n";
    out << "  UIT backup    " << layout[kSlotUitBackup] << " (slot " << kSlotUitBackup << ")\n";
    out << "  IM/PM backup  " << layout[kSlotImPmBackup] << " (slot " << kSlotImPmBackup << ")\n";
    out << "  reserved      " << layout[kSlotReserved] << " (slot " << kSlotReserved << ")\n";
    out << "  font backup   " << layout[kSlotFontBackup] << " (slot " << kSlotFontBackup << ")\n";
    return kExitOk;
}

}  // namespace qdx::cli
