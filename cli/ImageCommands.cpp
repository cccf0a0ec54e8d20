// check, pack and list.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/Commands.h"
#include "engine/ImageFile.h"
#include "engine/facts/ChipTable.h"
#include "sim/AtomicFile.h"
#include "transport/Disks.h"

namespace qdx::cli {

namespace {

// Reads at most limit bytes; false when the file cannot be opened or read.
bool ReadFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes) {
    // Only regular files: opening a FIFO would wait for a writer forever.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.resize(limit);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
    if (in.bad()) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

}  // namespace

int RunCheck(const CliCommand& command, std::ostream& out, std::ostream& err) {
    bool allValid = true;
    for (const std::string& path : command.files) {
        const ImageData image = ReadImageFile(path);
        if (image.fault == ImageFault::Unreadable) {
            err << "qdxflash: check: cannot read " << path << ": " << image.reason << '\n';
            out << path << "\n  verdict:   invalid: cannot be read: " << image.reason << '\n';
            allValid = false;
            continue;
        }
        const ImageCheck check = DescribeImage(image);
        allValid = allValid && check.valid;
        out << path << '\n';
        out << "  key:       " << (check.keyOk ? "ok" : "wrong") << '\n';
        out << "  checksum:  stored " << Hex16(check.storedChecksum) << ", computed "
            << Hex16(check.computedChecksum) << (check.checksumOk ? " (match)" : " (MISMATCH)")
            << '\n';
        out << "  payload:   " << check.payloadBytes << " bytes, " << check.payloadSectors
            << " sectors" << (check.wholeSectors ? "" : " (last one padded with zeros)") << '\n';
        out << "  segments:  " << check.segmentsSmallPage << " on small-page chips ("
            << kSmallPageSectorsPerBlock << " sectors per block), " << check.segmentsLargePage
            << " on large-page chips (" << kLargePageSectorsPerBlock << ")\n";
        out << "  verdict:   " << check.verdict << '\n';
    }
    return allValid ? kExitOk : kExitFailed;
}

int RunPack(const CliCommand& command, std::ostream& out, std::ostream& err) {
    std::vector<std::uint8_t> payload;
    if (!ReadFile(command.payloadPath, kImageMaxPayloadBytes + 1, payload)) {
        err << "qdxflash: pack: cannot read " << command.payloadPath << '\n';
        return kExitFailed;
    }
    std::vector<std::uint8_t> image;
    std::string error;
    if (!PackImage(payload, image, &error)) {
        err << "qdxflash: pack: " << command.payloadPath << ": " << error << '\n';
        return kExitFailed;
    }
    if (sim::SameFile(command.outputPath, command.payloadPath)) {
        err << "qdxflash: pack: " << command.outputPath
            << " is the payload itself; give the image a file of its own\n";
        return kExitUsage;
    }
    sim::AtomicFile file;
    if (!file.Open(command.outputPath, sim::AtomicFile::NonRegular::WriteDirectly, &error)) {
        err << "qdxflash: pack: " << error << '\n';
        return kExitFailed;
    }
    file.Stream().write(reinterpret_cast<const char*>(image.data()),
                        static_cast<std::streamsize>(image.size()));
    if (!file.Commit(&error)) {
        err << "qdxflash: pack: " << error << '\n';
        return kExitFailed;
    }
    out << "packed " << command.outputPath << ": " << image.size() << " bytes, checksum "
        << Hex16(static_cast<std::uint16_t>(image[14] << 8 | image[15])) << '\n';
    return kExitOk;
}

namespace {

std::string SizeText(std::uint64_t bytes) {
    char size[32];
    if (bytes >= 1000000000ull) {
        std::snprintf(size, sizeof size, "%.1f GB", static_cast<double>(bytes) / 1e9);
    } else {
        std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / 1e6);
    }
    return size;
}

}  // namespace

int RunList(const CliCommand&, std::ostream& out, std::ostream&) {
    std::vector<DiskInfo> disks = ListDisks();
    std::vector<const DiskInfo*> players;
    std::vector<const DiskInfo*> refused;
    for (const DiskInfo& disk : disks) {
        (disk.refusal.empty() ? players : refused).push_back(&disk);
    }
    if (players.empty()) {
        out << "no player candidates (players show up as removable USB disks)\n";
    } else {
        out << "candidate players:\n";
    }
    for (const DiskInfo* disk : players) {
        std::string name = disk->vendor + (disk->vendor.empty() ? "" : " ") + disk->model;
        out << "  " << disk->node << "  " << SizeText(disk->sizeBytes) << "  usb "
            << (disk->usbId.empty() ? "?" : disk->usbId) << "  "
            << (disk->removable ? "removable" : "not removable");
        if (!disk->sgNode.empty()) {
            out << "  " << disk->sgNode;
        }
        out << "  " << (disk->accessible ? "may open" : "no access (udev rule and plugdev needed)")
            << "  " << (name.empty() ? "-" : name) << '\n';
    }
    if (!refused.empty()) {
        out << "not players:\n";
    }
    for (const DiskInfo* disk : refused) {
        out << "  " << disk->node << "  " << SizeText(disk->sizeBytes) << "  " << disk->refusal
            << '\n';
    }
    return kExitOk;
}

}  // namespace qdx::cli
