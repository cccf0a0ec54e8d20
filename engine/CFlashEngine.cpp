#include "engine/CFlashEngine.h"

namespace qdx {

CFlashEngine::CFlashEngine(IMessageBox* messageBox) : m_pMessageBox(messageBox) {}

CFlashEngine::~CFlashEngine() = default;

std::int32_t CFlashEngine::Send(const CommandDescription& command) {
    // A stop request ends the job before its next command reaches the player.
    if (m_inJob && m_stopRequested.load() && m_pSink != nullptr) {
        m_ending = JobEnding::Interrupted;
        m_pSink->ExitWorker();
        return 0;
    }
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

void CFlashEngine::CloseDevice() {
    CloseHandle(m_hDevice);
    m_hDevice.reset();
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
    for (int slot = kSlotImPm; slot <= kSlotImPmLast; ++slot) {
        m_layout[slot] = 0;
    }
    // With the format option set the kernel block is read only after the format.
    if (m_format) {
        return 1;
    }
    return LoadKernelBlock() ? 1 : 0;
}

}  // namespace qdx
