// The SCSI disk a simulated player shows to a host over USB: the ordinary disk commands over an
// image of logical sectors (where a real player keeps its FAT volume), and the vendor opcode
// passed to the player's controller.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/usb/BulkOnly.h"
#include "transport/Device.h"

namespace qdx::sim::usb {

inline constexpr std::uint32_t kLogicalSectorBytes = 512;

// The disk's logical sectors.
class BlockImage {
public:
    virtual ~BlockImage() = default;
    virtual std::uint64_t Sectors() const = 0;
    // False when the sectors cannot be read or written; the range lies inside the image.
    virtual bool Read(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) = 0;
    virtual bool Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in) = 0;
};

// Zeroed sectors in memory.
class MemoryImage final : public BlockImage {
public:
    explicit MemoryImage(std::uint64_t sectors) : m_bytes(sectors * kLogicalSectorBytes) {}
    std::uint64_t Sectors() const override { return m_bytes.size() / kLogicalSectorBytes; }
    bool Read(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override;
    bool Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in) override;

private:
    std::vector<std::uint8_t> m_bytes;
};

// A file of whole sectors, written in place.
class FileImage final : public BlockImage {
public:
    // Null with *error set when the file cannot be opened read-write or is not whole sectors.
    static std::unique_ptr<FileImage> Open(const std::string& path, std::string* error);
    std::uint64_t Sectors() const override { return m_sectors; }
    bool Read(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override;
    bool Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in) override;

private:
    std::fstream m_file;
    std::uint64_t m_sectors = 0;
};

struct DiskIdentity {
    std::string vendor = "QDX";          // at most 8 characters are shown
    std::string product = "SIM PLAYER";  // at most 16
    std::string revision = "2.01";       // at most 4
};

class ScsiDisk final : public IScsiTarget {
public:
    // controller carries the vendor commands (the simulated player's controller).
    ScsiDisk(BlockImage& image, IDevice& controller, DiskIdentity identity = {});

    ScsiOutcome Execute(const std::uint8_t* cdb, std::size_t cdbLength, DataPhase phase,
                        std::uint8_t* data, std::uint32_t length) override;
    void Reset() override { m_sense = {}; }

    std::uint64_t VendorCommands() const { return m_vendorCommands; }

private:
    ScsiOutcome Vendor(const std::uint8_t* cdb, std::size_t cdbLength, DataPhase phase,
                       std::uint8_t* data, std::uint32_t length);
    ScsiOutcome ReadWrite(const std::uint8_t* cdb, DataPhase phase, std::uint8_t* data,
                          std::uint32_t length, bool write);
    ScsiOutcome Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);
    ScsiOutcome Reply(const std::vector<std::uint8_t>& reply, DataPhase phase, std::uint8_t* data,
                      std::uint32_t length, std::uint32_t allocation);

    BlockImage& m_image;
    IDevice& m_controller;
    DiskIdentity m_identity;
    std::vector<std::uint8_t> m_sense;  // of the last CHECK CONDITION, until REQUEST SENSE
    std::uint64_t m_vendorCommands = 0;
};

}  // namespace qdx::sim::usb
