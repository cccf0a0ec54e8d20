// Where the player keeps its areas: the slots of the LayoutTable, the sizes of the areas the
// kernel block lists, and the blocks the backup copies are counted down from. The player's
// firmware and this tool agree on these numbers.
#pragma once

#include <cstdint>

namespace qdx {

// --- The LayoutTable (m_layout): 95 block numbers.
inline constexpr int kLayoutSlots = 95;
// Slots m_blocksK .. m_blocksK + 3 come from kernel sector 1; slot m_blocksK is the first block
// of the UIT area. m_blocksK is at most 16, so these never pass this slot.
inline constexpr int kSlotCapacityLast = 19;
inline constexpr int kSlotFont = 20;
inline constexpr int kSlotSecondArea = 21;  // 21 .. 20 + (kSecondAreaSectors >> blockShift)
inline constexpr int kSlotImPm = 41;        // 41 .. 40 + (kImPmAreaSectors >> blockShift)
inline constexpr int kSlotImPmLast = 90;
inline constexpr int kSlotUitBackup = 91;
inline constexpr int kSlotFontBackup = 92;
inline constexpr int kSlotReserved = 93;
inline constexpr int kSlotImPmBackup = 94;

// --- Area sizes in 512-byte sectors.
inline constexpr std::int32_t kImPmAreaSectors = 1280;   // 640 KiB
inline constexpr std::int32_t kSecondAreaSectors = 512;  // 256 KiB
inline constexpr std::int32_t kUitBackupAreaSectors = 1280;
inline constexpr std::int32_t kImPmBackupAreaSectors = kImPmAreaSectors;
inline constexpr std::int32_t kReservedAreaSectors = kSecondAreaSectors;

// The UIT offset (m_uitOffset) counts units of this many sectors.
inline constexpr std::int32_t kUitOffsetUnitSectors = 128;

// The player's firmware keeps its areas in the first 1024 blocks of the flash; the backup copies
// are counted in good blocks down from the top one.
inline constexpr std::uint32_t kFirmwareBlocks = 1024;
inline constexpr std::int32_t kBackupTopBlock = 1023;

// Blocks of an area of that many sectors on a chip with 2^blockShift sectors per block.
constexpr std::int32_t AreaBlocks(std::int32_t sectors, std::int32_t blockShift) {
    return sectors >> blockShift;
}

}  // namespace qdx
