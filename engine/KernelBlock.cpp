// The kernel block: finding it, checking its sum and loading the LayoutTable from its tables.
#include "engine/facts/KernelBlock.h"
#include "engine/CFlashEngine.h"

namespace qdx {

std::int32_t CFlashEngine::CheckKernelBlock(std::uint32_t firstSector) {
    std::uint32_t sum = 0;
    std::uint8_t data[kSectorBytes] = {};
    // A sector that could not be read proves nothing: a player that answers no read at all would
    // otherwise pass with a sum of zero over empty buffers and a zero layout.
    bool allRead = true;
    for (std::uint32_t i : kKernelSummedSectors) {
        allRead = ReadSector(firstSector + i, data) && allRead;
        sum = AddToKernelSum(sum, data);
    }
    allRead = ReadSector(firstSector + kKernelChecksumSector, data) && allRead;
    return allRead && GetBigEndian32(data) == sum ? 0 : 1;
}

bool CFlashEngine::LoadKernelBlock() {
    // The kernel block is the second good block of the flash.
    std::uint32_t sector = 0;
    FindGoodBlockForward(sector);
    sector += static_cast<std::uint32_t>(m_sectorsPerBlock);
    FindGoodBlockForward(sector);
    m_kernelSector = sector;
    if (CheckKernelBlock(sector) != 0) {
        ShowMessage(texts::kKernelChecksum);
        return false;
    }

    std::uint8_t data[kSectorBytes] = {};
    // A table that could not be read would send the images to whatever the buffer held.
    bool allRead = ReadSector(sector + kKernelUitTableSector, data);
    for (int i = m_blocksK; i <= m_blocksK + 3; ++i) {
        m_layout[i] = KernelTableEntry(data, i);
    }
    allRead = ReadSector(sector + kKernelFontSector, data) && allRead;
    m_layout[kSlotFont] = KernelTableEntry(data, 0);
    allRead = ReadSector(sector + kKernelImPmListSector, data) && allRead;
    for (int j = 0; j < AreaBlocks(kImPmAreaSectors, m_blockShift); ++j) {
        m_layout[kSlotImPm + j] = KernelTableEntry(data, j);
    }
    allRead = ReadSector(sector + kKernelSecondListSector, data) && allRead;
    for (int j = 0; j < AreaBlocks(kSecondAreaSectors, m_blockShift); ++j) {
        m_layout[kSlotSecondArea + j] = KernelTableEntry(data, j);
    }
    if (!allRead) {
        ShowMessage(texts::kKernelRead);
        return false;
    }
    return true;
}

}  // namespace qdx
