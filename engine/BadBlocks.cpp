// Walking the flash over bad blocks.
#include <algorithm>

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

std::vector<std::uint32_t> CFlashEngine::ListBadBlocks() {
    std::vector<std::uint32_t> bad;
    const std::uint32_t total = TotalBlocks();
    const auto perBlock = static_cast<std::uint32_t>(m_sectorsPerBlock);
    for (std::uint32_t block = 0; block < total;) {
        std::uint32_t sector = block * perBlock;
        FindGoodBlockForward(sector);
        const std::uint32_t good = std::min(sector / perBlock, total);
        for (; block < good; ++block) {
            bad.push_back(block);
        }
        block = good + 1;
    }
    return bad;
}

}  // namespace qdx
