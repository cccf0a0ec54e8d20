// Start blocks of the backup copies, counted in good blocks down from the top firmware block.
#include "engine/CFlashEngine.h"

namespace qdx {

std::int32_t CFlashEngine::PlanBackupAreas() {
    auto step = [this](std::int32_t& sector, int count) {
        for (int i = 0; i < count; ++i) {
            sector -= m_sectorsPerBlock;
            FindGoodBlockBackward(sector);
        }
    };
    // Slots hold block numbers of an unsigned sector number, as the walk left it.
    auto blockOf = [this](std::int32_t sector) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(sector) /
                                         static_cast<std::uint32_t>(m_sectorsPerBlock));
    };

    std::int32_t x = kBackupTopBlock << m_blockShift;
    FindGoodBlockBackward(x);
    step(x, m_blocksK + 1);

    if (m_uitOffset <= 0) {
        m_layout[kSlotUitBackup] = blockOf(x);
    } else {
        std::int32_t y = x;
        step(y, (m_uitOffset * kUitOffsetUnitSectors) >> m_blockShift);
        m_layout[kSlotUitBackup] = blockOf(y);
    }
    step(x, AreaBlocks(kUitBackupAreaSectors, m_blockShift));
    m_layout[kSlotImPmBackup] = blockOf(x);
    step(x, AreaBlocks(kImPmBackupAreaSectors, m_blockShift));
    m_layout[kSlotReserved] = blockOf(x);
    step(x, AreaBlocks(kReservedAreaSectors, m_blockShift));
    m_layout[kSlotFontBackup] = blockOf(x);
    return 1;
}

}  // namespace qdx
