// Walking the flash over bad blocks, and the kernel block's checksum.
#include "engine/CFlashEngine.h"

namespace qdx {

// A block is good when the mark bytes in the spare bytes of its first and second sector are both
// 0xFF; the test reads the sector after the given one first. One buffer serves a whole walk: a
// failed read leaves the marks read before it. *result is the second read's result.
bool CFlashEngine::IsGoodBlock(std::uint32_t sector, std::uint8_t* spare, std::int32_t* result) {
    const int mark = BadBlockMarkByte(m_largePage);
    ReadSpare(sector + 1, spare);
    const std::uint8_t second = spare[mark];
    *result = ReadSpare(sector, spare);
    const std::uint8_t first = spare[mark];
    return first == 0xFF && second == first;
}

std::int32_t CFlashEngine::FindGoodBlockForward(std::uint32_t& sector) {
    const std::uint32_t end = TotalSectors();
    if (sector >= end) {
        return 0;
    }
    std::uint8_t spare[kSpareBytes] = {};
    for (;;) {
        std::int32_t result = 0;
        if (IsGoodBlock(sector, spare, &result)) {
            return result;
        }
        sector += static_cast<std::uint32_t>(m_sectorsPerBlock);
        if (result != 1 || sector >= end) {
            return result;
        }
    }
}

std::int32_t CFlashEngine::FindGoodBlockBackward(std::int32_t& sector) {
    // A walk that started inside a block never meets -m_sectorsPerBlock exactly; it ends as soon
    // as it is below sector 0 instead of reading sectors that do not exist.
    if (sector < 0) {
        return 0;
    }
    std::uint8_t spare[kSpareBytes] = {};
    for (;;) {
        std::int32_t result = 0;
        if (IsGoodBlock(static_cast<std::uint32_t>(sector), spare, &result)) {
            return result;
        }
        sector -= m_sectorsPerBlock;
        if (result != 1) {
            return result;
        }
        if (sector < 0) {
            return 0;
        }
    }
}

std::int32_t CFlashEngine::CheckKernelBlock(std::uint32_t firstSector) {
    std::uint32_t sum = 0;
    std::uint8_t data[kSectorBytes] = {};
    // A sector that could not be read proves nothing: a player that answers no read at all would
    // otherwise pass with a sum of zero over empty buffers and a zero layout.
    bool allRead = true;
    for (std::uint32_t i : {0u, 1u, 2u, 3u, 5u, 6u}) {
        allRead = ReadSector(firstSector + i, data) && allRead;
        for (std::uint8_t byte : data) {
            sum += byte;
        }
    }
    allRead = ReadSector(firstSector + 4, data) && allRead;
    return allRead && GetBigEndian32(data) == sum ? 0 : 1;
}

}  // namespace qdx
