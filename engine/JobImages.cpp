// What a job checks before it touches the flash, and where its copies may go. Every image is
// read and judged once, before the format, so that a missing or damaged file never costs the
// player what it held; the copies' blocks are kept apart so that no copy overwrites another.
#include <algorithm>

#include "engine/CFlashEngine.h"

namespace qdx {

namespace {

struct ImageRole {
    std::uint8_t bit;
    int pathSlot;
};

constexpr ImageRole kRoles[] = {{kContentImPm, 1}, {kContentUit, 2}, {kContentFont, 3}};

}  // namespace

std::int32_t CFlashEngine::FailImage(const char* message, const std::string& path,
                                     const std::string& reason) {
    m_ending = JobEnding::WriteFailed;
    if (m_pMessageBox) {
        m_pMessageBox->ShowForFile(message, path, reason);
    }
    if (m_pSink) {
        m_pSink->SetStatus(texts::kFailed);
        m_pSink->SetProgress(0);
        m_pSink->ExitWorker();
    }
    return 0;
}

bool CFlashEngine::PrepareJobImages() {
    m_jobImages.fill(nullptr);
    const auto perBlock = static_cast<std::uint32_t>(m_sectorsPerBlock);
    const std::int32_t uitSectors = m_uitOffset * kUitOffsetUnitSectors;
    const std::int32_t uitBlockOffset = uitSectors / m_sectorsPerBlock;
    const std::int32_t uitSectorOffset = uitSectors % m_sectorsPerBlock;
    const std::int32_t skipped = m_uitOffset > 0 ? uitSectors >> m_blockShift : 0;
    const std::int32_t verifyUnits = m_verify ? 2 : 0;

    // The writer's count starts at 0 after the format's own report of 1 and ends here.
    std::int64_t total = 0;
    // Bounds of where the copies lie, in blocks: the highest block the primary copies take is at
    // least primaryTop (the kernel block is block 1 or above, and the IM/PM and second areas
    // have fixed sizes); the lowest block a backup copy takes is at most backupBottom.
    std::int64_t primaryTop = 1 + AreaBlocks(kImPmAreaSectors, m_blockShift) +
                              AreaBlocks(kSecondAreaSectors, m_blockShift);
    std::int64_t backupBottom = kBackupTopBlock;
    std::string bottomPath;

    for (const ImageRole& role : kRoles) {
        if (!(m_contentMask & role.bit)) {
            continue;
        }
        const std::string& path = m_paths[role.pathSlot];
        std::shared_ptr<const ImageData> image = ReadImage(path);
        if (!image) {
            return false;
        }
        if (!image->Valid()) {
            FailImage(ImageFaultMessage(image->fault), path, image->reason);
            return false;
        }
        const std::uint32_t sectorOffset =
            role.bit == kContentUit ? static_cast<std::uint32_t>(uitSectorOffset) : 0;
        const std::int64_t segments = SegmentsNeeded(image->PayloadBytes(), sectorOffset, perBlock);
        if (segments > kMaxSegments) {
            FailImage(texts::kFileSize, path,
                      "a copy needs " + std::to_string(segments) + " blocks of " +
                          std::to_string(perBlock) + " sectors on this chip; at most " +
                          std::to_string(kMaxSegments));
            return false;
        }
        total += 4 * segments + verifyUnits;

        std::int32_t backupStart = 0;
        std::int64_t backupRoom = 0;  // 0: no lower bound
        if (role.bit == kContentImPm) {
            backupStart = m_layout[kSlotImPmBackup];
            backupRoom = AreaBlocks(kImPmBackupAreaSectors, m_blockShift);
        } else if (role.bit == kContentUit) {
            primaryTop += uitBlockOffset + segments;
            backupStart = m_layout[kSlotUitBackup];
            backupRoom = std::max(AreaBlocks(kUitBackupAreaSectors, m_blockShift) - skipped, 1);
        } else {
            primaryTop += segments;
            backupStart = m_layout[kSlotFontBackup];
        }
        if (m_backup) {
            if (backupRoom > 0 && segments > backupRoom) {
                FailImage(texts::kBackupArea, path,
                          "its backup copy needs " + std::to_string(segments) +
                              " blocks; its backup area holds " + std::to_string(backupRoom));
                return false;
            }
            if (backupStart - segments + 1 < 0) {
                FailImage(texts::kFlashRange, path,
                          "its backup copy would run below block 0 (it needs " +
                              std::to_string(segments) + " blocks from block " +
                              std::to_string(backupStart) + " down)");
                return false;
            }
            if (backupStart - segments + 1 < backupBottom) {
                backupBottom = backupStart - segments + 1;
                bottomPath = path;
            }
            total += 2 * segments + verifyUnits;
        }
        m_jobImages[role.pathSlot] = std::move(image);
    }

    // Counted down from the top over bad blocks, the backups can reach into the primary areas
    // when too many blocks are bad; the primary copies written later would overwrite them.
    if (m_backup && !bottomPath.empty() && backupBottom <= primaryTop) {
        FailImage(texts::kBackupArea, bottomPath,
                  "the backup copies would reach down to block " + std::to_string(backupBottom) +
                      ", into the areas the primary copies take (up to block " +
                      std::to_string(primaryTop) +
                      " at least): too many bad blocks at the top of the first " +
                      std::to_string(kFirmwareBlocks) + " blocks");
        return false;
    }
    m_progressTotal.store(static_cast<std::int32_t>(std::max<std::int64_t>(total, 1)));
    return true;
}

bool CFlashEngine::CheckAreasApart() {
    if (!m_backup) {
        return true;
    }
    // The primary areas as the kernel block places them, and the lowest block the planned
    // backup copies reach.
    std::int64_t primaryTop = 0;
    for (int j = 0; j < AreaBlocks(kImPmAreaSectors, m_blockShift); ++j) {
        primaryTop = std::max<std::int64_t>(primaryTop, m_layout[kSlotImPm + j]);
    }
    for (int j = 0; j < AreaBlocks(kSecondAreaSectors, m_blockShift); ++j) {
        primaryTop = std::max<std::int64_t>(primaryTop, m_layout[kSlotSecondArea + j]);
    }
    const auto perBlock = static_cast<std::uint32_t>(m_sectorsPerBlock);
    const std::int32_t uitSectors = m_uitOffset * kUitOffsetUnitSectors;
    std::int64_t backupBottom = kBackupTopBlock;
    std::string bottomPath;
    for (const ImageRole& role : kRoles) {
        const std::shared_ptr<const ImageData>& image = m_jobImages[role.pathSlot];
        if (!(m_contentMask & role.bit) || !image) {
            continue;
        }
        const std::uint32_t sectorOffset =
            role.bit == kContentUit ? static_cast<std::uint32_t>(uitSectors % m_sectorsPerBlock)
                                    : 0;
        const std::int64_t segments = SegmentsNeeded(image->PayloadBytes(), sectorOffset, perBlock);
        int backupSlot = kSlotImPmBackup;
        if (role.bit == kContentUit) {
            primaryTop = std::max<std::int64_t>(
                primaryTop, m_layout[m_blocksK] + uitSectors / m_sectorsPerBlock + segments - 1);
            backupSlot = kSlotUitBackup;
        } else if (role.bit == kContentFont) {
            primaryTop = std::max<std::int64_t>(primaryTop, m_layout[kSlotFont] + segments - 1);
            backupSlot = kSlotFontBackup;
        }
        if (m_layout[backupSlot] - segments + 1 < backupBottom) {
            backupBottom = m_layout[backupSlot] - segments + 1;
            bottomPath = m_paths[role.pathSlot];
        }
    }
    if (!bottomPath.empty() && backupBottom <= primaryTop) {
        FailImage(
            texts::kBackupArea, bottomPath,
            "the kernel block places the primary areas up to block " + std::to_string(primaryTop) +
                ", where the backup copies reach down to block " + std::to_string(backupBottom));
        return false;
    }
    return true;
}

bool CFlashEngine::ClaimBlock(std::uint32_t sector, int copy) {
    if (!m_inJob) {
        return true;
    }
    const std::uint32_t block = sector >> m_blockShift;
    if (block >= m_claims.size()) {
        return true;  // outside the flash: the range check refuses it
    }
    if (m_claims[block] != 0 && m_claims[block] != copy) {
        // A backup copy is involved whenever copies meet on a sound layout.
        const bool backup = (copy & 1) != 0 || (m_claims[block] & 1) != 0;
        FailWrite(backup ? texts::kBackupArea : texts::kFlashRange);
        return false;
    }
    m_claims[block] = copy;
    return true;
}

}  // namespace qdx
