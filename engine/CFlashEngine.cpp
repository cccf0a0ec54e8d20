#include "engine/CFlashEngine.h"

namespace qdx {

CFlashEngine::CFlashEngine(IMessageBox* messageBox) : m_pMessageBox(messageBox) {}

CFlashEngine::~CFlashEngine() = default;

std::int32_t CFlashEngine::Send(const CommandDescription& command) {
    if (!m_hDevice) {
        return 0;
    }
    return m_hDevice->Send(command) ? 1 : 0;
}

void CFlashEngine::ShowMessage(const std::string& text) {
    if (m_pMessageBox) {
        m_pMessageBox->Show(text);
    }
}

std::int32_t CFlashEngine::ReadId(std::uint32_t chip, std::uint8_t* reply2) {
    return Send(BuildReadId(chip, reply2));
}

std::int32_t CFlashEngine::ReadSector(std::uint32_t sector, std::uint8_t* data512) {
    return Send(BuildReadSector(sector, data512));
}

std::int32_t CFlashEngine::ReadSpare(std::uint32_t sector, std::uint8_t* spare16) {
    return Send(BuildReadSpare(sector, spare16));
}

std::int32_t CFlashEngine::WriteSector(std::uint32_t sector, const std::uint8_t* data512) {
    return Send(BuildWriteSector(sector, data512));
}

std::int32_t CFlashEngine::EraseBlock(std::uint32_t sector) {
    return Send(BuildEraseBlock(sector));
}

std::int32_t CFlashEngine::SetWriteTag(std::uint32_t value) {
    return Send(BuildSetWriteTag(value));
}

std::int32_t CFlashEngine::FormatFlash() {
    if (m_pSink) {
        m_pSink->SetProgress(1);
    }
    return Send(BuildFormat()) ? 1 : 0;
}

ChipGeometry CFlashEngine::Geometry() const {
    return ChipGeometry{m_largePage,  m_blocksK,         m_rowAddrBytes, m_sectorsPerPage,
                        m_blockShift, m_sectorsPerBlock, m_capacityMB};
}

std::int32_t CFlashEngine::InitFlash(DeviceHandle device) {
    m_hDevice = std::move(device);

    // A failed ID read leaves the pre-cleared byte at 0, which no chip answers.
    std::uint8_t chip0[kIdBytes] = {0, 0};
    ReadId(0, chip0);
    const ChipRow* row = FindChip(chip0[0]);
    if (row == nullptr) {
        ShowMessage(texts::kUnknownChip);
        return 0;
    }
    const ChipGeometry& g = row->geometry;
    m_largePage = g.largePage;
    m_blocksK = g.blocksK;
    m_rowAddrBytes = g.rowAddrBytes;
    m_sectorsPerPage = g.sectorsPerPage;
    m_blockShift = g.blockShift;
    m_sectorsPerBlock = g.sectorsPerBlock;
    m_capacityMB = g.capacityMB;
    m_deviceCode = row->deviceCode;

    std::uint8_t chip1[kIdBytes] = {0, 0};
    ReadId(1, chip1);
    m_twoChips = chip1[0] == chip0[0];
    if (m_twoChips) {
        m_blocksK <<= 1;
        m_capacityMB <<= 1;
    } else {
        ReadId(0, chip0);
    }

    m_layout[kSlotFont] = 0;
    for (int slot = kSlotImPm; slot <= 90; ++slot) {
        m_layout[slot] = 0;
    }
    if (m_format) {
        return 1;
    }

    // The kernel block is the second good block of the flash.
    std::uint32_t sector = 0;
    FindGoodBlockForward(sector);
    sector += static_cast<std::uint32_t>(m_sectorsPerBlock);
    FindGoodBlockForward(sector);
    m_kernelSector = sector;
    if (CheckKernelBlock(sector) != 0) {
        ShowMessage(texts::kKernelChecksum);
        return 0;
    }

    std::uint8_t data[kSectorBytes] = {};
    auto entry = [&data](int index) { return data[2 * index] * 256 + data[2 * index + 1]; };
    // A table that could not be read would send the images to whatever the buffer held.
    bool allRead = ReadSector(sector + 1, data);
    for (int i = m_blocksK; i <= m_blocksK + 3; ++i) {
        m_layout[i] = entry(i);
    }
    allRead = ReadSector(sector + 2, data) && allRead;
    m_layout[kSlotFont] = entry(0);
    allRead = ReadSector(sector + 5, data) && allRead;
    for (int j = 0; j < (1280 >> m_blockShift); ++j) {
        m_layout[kSlotImPm + j] = entry(j);
    }
    allRead = ReadSector(sector + 6, data) && allRead;
    for (int j = 0; j < (512 >> m_blockShift); ++j) {
        m_layout[kSlotSecondArea + j] = entry(j);
    }
    if (!allRead) {
        ShowMessage(texts::kKernelRead);
        return 0;
    }
    return 1;
}

}  // namespace qdx
