// The kernel block: the descriptor the player's firmware keeps in the second good block of the
// flash. Sector numbers are relative to the block's first sector.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qdx {

inline constexpr std::uint32_t kKernelUitTableSector = 1;  // 16-bit block numbers per capacity
inline constexpr std::uint32_t kKernelFontSector = 2;      // bytes 0..1: first block of the font
inline constexpr std::uint32_t kKernelChecksumSector = 4;  // bytes 0..3: the big-endian sum
inline constexpr std::uint32_t kKernelImPmListSector = 5;  // the IM/PM area's block list
inline constexpr std::uint32_t kKernelSecondListSector = 6;
inline constexpr std::uint32_t kKernelSectors = 7;

// The sectors the checksum covers, in the order they are read.
inline constexpr std::array<std::uint32_t, 6> kKernelSummedSectors = {0, 1, 2, 3, 5, 6};

// Adds every byte of one sector, each unsigned, to a running 32-bit sum.
inline std::uint32_t AddToKernelSum(std::uint32_t sum, std::span<const std::uint8_t> sector) {
    for (std::uint8_t byte : sector) {
        sum += byte;
    }
    return sum;
}

// Entry i of a table of 16-bit big-endian block numbers.
inline std::int32_t KernelTableEntry(std::span<const std::uint8_t> sector, int index) {
    return sector[2 * index] * 256 + sector[2 * index + 1];
}

}  // namespace qdx
