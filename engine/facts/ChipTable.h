// The NAND chips the player may carry, keyed by the device code the controller reports.
#pragma once

#include <array>
#include <cstdint>

namespace qdx {

// One row of the chip table; the seven values are copied into the engine together.
struct ChipGeometry {
    std::int32_t largePage;       // 1: 2048-byte pages, spare mark in byte 0; 0: byte 5
    std::int32_t blocksK;         // blocks / 1024
    std::int32_t rowAddrBytes;    // row address cycles
    std::int32_t sectorsPerPage;  // 512-byte sectors per page
    std::int32_t blockShift;      // log2 of sectorsPerBlock
    std::int32_t sectorsPerBlock;
    std::int32_t capacityMB;
};

struct ChipRow {
    std::uint8_t deviceCode;
    ChipGeometry geometry;
};

// Blocks are counted in units of 1024 (blocksK).
inline constexpr std::uint32_t kBlocksPerK = 1024;

// clang-format off
inline constexpr std::array<ChipRow, 8> kChipTable{{
    {0x73, {.largePage = 0, .blocksK = 1, .rowAddrBytes = 2, .sectorsPerPage = 1, .blockShift = 5, .sectorsPerBlock =  32, .capacityMB =   16}},
    {0x75, {.largePage = 0, .blocksK = 2, .rowAddrBytes = 2, .sectorsPerPage = 1, .blockShift = 5, .sectorsPerBlock =  32, .capacityMB =   32}},
    {0x76, {.largePage = 0, .blocksK = 4, .rowAddrBytes = 3, .sectorsPerPage = 1, .blockShift = 5, .sectorsPerBlock =  32, .capacityMB =   64}},
    {0x79, {.largePage = 0, .blocksK = 8, .rowAddrBytes = 3, .sectorsPerPage = 1, .blockShift = 5, .sectorsPerBlock =  32, .capacityMB =  128}},
    {0xF1, {.largePage = 1, .blocksK = 1, .rowAddrBytes = 2, .sectorsPerPage = 4, .blockShift = 8, .sectorsPerBlock = 256, .capacityMB =  128}},
    {0xDA, {.largePage = 1, .blocksK = 2, .rowAddrBytes = 3, .sectorsPerPage = 4, .blockShift = 8, .sectorsPerBlock = 256, .capacityMB =  256}},
    {0xDC, {.largePage = 1, .blocksK = 4, .rowAddrBytes = 3, .sectorsPerPage = 4, .blockShift = 8, .sectorsPerBlock = 256, .capacityMB =  512}},
    {0xD3, {.largePage = 1, .blocksK = 8, .rowAddrBytes = 3, .sectorsPerPage = 4, .blockShift = 8, .sectorsPerBlock = 256, .capacityMB = 1024}},
}};
// clang-format on

// The row for a device code, or null when the chip is not supported.
constexpr const ChipRow* FindChip(std::uint8_t deviceCode) {
    for (const ChipRow& row : kChipTable) {
        if (row.deviceCode == deviceCode) {
            return &row;
        }
    }
    return nullptr;
}

// Byte of the 16 spare bytes that carries the bad-block mark.
constexpr int BadBlockMarkByte(std::int32_t largePage) {
    return largePage ? 0 : 5;
}

// The sector sizes of the two kinds of chip.
inline constexpr std::uint32_t kSmallPageSectorsPerBlock = 32;
inline constexpr std::uint32_t kLargePageSectorsPerBlock = 256;

}  // namespace qdx
