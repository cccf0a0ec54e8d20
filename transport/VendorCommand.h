// The vendor command set of the player's controller: one 10-byte command block with opcode 0xC2
// and a sub-command number, carried in one pass-through request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qdx {

inline constexpr std::uint8_t kVendorOpcode = 0xC2;
inline constexpr std::size_t kCdbLength = 10;
inline constexpr std::size_t kSectorBytes = 512;
inline constexpr std::size_t kSpareBytes = 16;
inline constexpr std::size_t kIdBytes = 2;

// Sub-command numbers, byte 1 of the command block. Sub-command 4 is not used.
enum class SubCommand : std::uint8_t {
    ReadId = 0,
    ReadSector = 1,
    ReadSpare = 2,
    WriteSector = 3,
    EraseBlock = 5,
    SetWriteTag = 6,
    Format = 7,
};

enum class DataDirection : std::uint8_t { None, FromDevice, ToDevice };

// Everything one pass-through request carries, independent of the platform's record.
struct CommandDescription {
    std::array<std::uint8_t, kCdbLength> cdb{};
    DataDirection direction = DataDirection::None;
    std::uint32_t transferLength = 0;
    void* buffer = nullptr;  // null for commands without a data phase
    std::uint32_t timeoutSeconds = 10;
    std::uint32_t senseInfoOffset = 48;  // 0 for the erase and format commands

    SubCommand Sub() const { return static_cast<SubCommand>(cdb[1]); }
    // Bytes 2..5 of the command block, big-endian.
    std::uint32_t Argument() const;
    // The argument as the sub-command means it: sector number, chip number or tag value; 0 for
    // the format command.
    std::uint32_t Operand() const;
};

inline constexpr std::uint32_t kCommandTimeoutSeconds = 10;
inline constexpr std::uint32_t kFormatTimeoutSeconds = 100;
inline constexpr std::uint32_t kSenseInfoOffset = 48;

void PutBigEndian32(std::uint8_t* out, std::uint32_t value);
std::uint32_t GetBigEndian32(const std::uint8_t* in);
void PutBigEndian16(std::uint8_t* out, std::uint16_t value);
std::uint16_t GetBigEndian16(const std::uint8_t* in);

// One builder per sub-command; each returns the complete request for that command.
CommandDescription BuildReadId(std::uint32_t chip, std::uint8_t* reply2);
CommandDescription BuildReadSector(std::uint32_t sector, std::uint8_t* data512);
CommandDescription BuildReadSpare(std::uint32_t sector, std::uint8_t* spare16);
CommandDescription BuildWriteSector(std::uint32_t sector, const std::uint8_t* data512);
CommandDescription BuildEraseBlock(std::uint32_t sector);
CommandDescription BuildSetWriteTag(std::uint32_t value);
CommandDescription BuildFormat();

}  // namespace qdx
