// Writing one image into the flash in three steps: load and check it, place and write its
// segments block by block, and read everything back.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/CFlashEngine.h"

namespace qdx {

namespace {

// One sector of the image from byte offset `at`; the last payload sector is completed with zeros.
void CopyImageSector(const ImageData& image, std::size_t at, std::uint8_t* sector) {
    std::memset(sector, 0, kSectorBytes);
    if (at < image.bytes.size()) {
        std::memcpy(sector, &image.bytes[at], std::min(kSectorBytes, image.bytes.size() - at));
    }
}

}  // namespace

std::int32_t CFlashEngine::FailWrite(const char* message) {
    m_ending = JobEnding::WriteFailed;
    ShowMessage(message);
    if (m_pSink) {
        m_pSink->SetStatus(texts::kFailed);
        m_pSink->SetProgress(0);
        m_pSink->ExitWorker();
    }
    return 0;
}

void CFlashEngine::SplitSegments(std::int32_t sectorOffset, std::int32_t payloadBytes) {
    m_segCount = 0;
    m_segLen.fill(0);
    m_segStart.fill(0);
    m_segEnd.fill(0);

    const std::int32_t end = sectorOffset + payloadBytes / static_cast<std::int32_t>(kSectorBytes);
    std::int32_t a = sectorOffset;
    std::int32_t c = m_sectorsPerBlock;
    while (m_segCount < kMaxSegments) {
        const int i = m_segCount++;
        if (end < c) {
            m_segLen[i] = end - a;
            m_segStart[i] = a;
            m_segEnd[i] = end - 1;
            return;
        }
        m_segLen[i] = c - a;
        m_segStart[i] = a;
        m_segEnd[i] = c - 1;
        a = c;
        c += m_sectorsPerBlock;
        if (a == end) {
            return;
        }
    }
}

bool CFlashEngine::PreserveBlockRemainder(std::uint32_t first, std::uint32_t end, int mode) {
    const std::uint32_t blockSectors = static_cast<std::uint32_t>(m_sectorsPerBlock);
    const std::uint32_t block = first & ~(blockSectors - 1);
    const std::uint32_t headEnd = mode == 2 ? first : block;  // mode 1 keeps no head
    const std::uint32_t blockEnd = block + blockSectors;
    const std::uint32_t tailStart = std::min(end, blockEnd);

    bool allRead = true;
    auto readRange = [this, &allRead](std::uint32_t from, std::uint32_t to) {
        std::vector<std::uint8_t> kept(static_cast<std::size_t>(to - from) * kSectorBytes, 0);
        for (std::uint32_t s = from; s < to; ++s) {
            allRead = ReadSector(s, &kept[(s - from) * kSectorBytes]) && allRead;
        }
        return kept;
    };
    auto writeRange = [this](std::uint32_t from, std::uint32_t to,
                             const std::vector<std::uint8_t>& kept) {
        for (std::uint32_t s = from; s < to; ++s) {
            WriteSector(s, &kept[(s - from) * kSectorBytes]);
        }
    };

    const std::vector<std::uint8_t> head = readRange(block, headEnd);
    const std::vector<std::uint8_t> tail = readRange(tailStart, blockEnd);
    // Erasing now would replace the sectors that could not be read with whatever the buffer
    // held: the block is left as it is and the write fails instead.
    if (!allRead) {
        return false;
    }
    EraseBlock(block);
    SetWriteTag(0);
    writeRange(block, headEnd, head);
    writeRange(tailStart, blockEnd, tail);
    return true;
}

bool CFlashEngine::LoadForWrite(const std::string& path, std::shared_ptr<const ImageData>& image) {
    // A job reads and checks its images once, before the format; every copy takes those bytes.
    for (std::size_t slot = 0; slot < m_jobImages.size(); ++slot) {
        if (m_jobImages[slot] && m_paths[slot] == path) {
            image = m_jobImages[slot];
            return true;
        }
    }
    image = ReadImage(path);
    if (!image) {
        return false;
    }
    if (!image->Valid()) {
        FailWrite(ImageFaultMessage(image->fault));
        return false;
    }
    return true;
}

std::shared_ptr<const ImageData> CFlashEngine::ReadImage(const std::string& path) {
    for (const auto& [sharedPath, shared] : m_sharedImages) {
        if (sharedPath == path) {
            return shared;
        }
    }
    try {
        return std::make_shared<const ImageData>(
            path == kBuiltinImagePath ? ImageFromBytes(m_builtinImage) : ReadImageFile(path));
    } catch (const std::bad_alloc&) {
        FailWrite(texts::kMemory);
        return nullptr;
    }
}

bool CFlashEngine::InsideFlash(std::uint32_t cur, bool backward) const {
    return !backward ? cur < TotalSectors() : static_cast<std::int32_t>(cur) >= 0;
}

void CFlashEngine::MoveToNextSegment(std::uint32_t& cur, bool backward) {
    if (!backward) {
        FindGoodBlockForward(cur);
        return;
    }
    // Down past the block just filled to the next good block below it.
    std::int32_t down = static_cast<std::int32_t>(cur) - 2 * m_sectorsPerBlock;
    FindGoodBlockBackward(down);
    cur = static_cast<std::uint32_t>(down);
}

bool CFlashEngine::PlaceAndWrite(const ImageData& image, std::uint32_t startSector, bool backward,
                                 int copy) {
    const std::uint32_t blockSectors = static_cast<std::uint32_t>(m_sectorsPerBlock);
    std::uint8_t sector[kSectorBytes];

    SetWriteTag(0);
    std::uint32_t cur = startSector;
    std::size_t offset = kImageHeaderBytes;
    for (int i = 0; i < m_segCount; ++i) {
        if (!InsideFlash(cur, backward)) {
            FailWrite(texts::kFlashRange);
            return false;
        }
        if (!ClaimBlock(cur, copy)) {
            return false;
        }
        const std::uint32_t segLen = static_cast<std::uint32_t>(m_segLen[i]);
        bool prepared = true;
        if (m_segLen[i] == m_sectorsPerBlock) {
            EraseBlock(cur);  // a whole block is never preserved
        } else if (m_segStart[i] > i * m_sectorsPerBlock) {
            prepared = PreserveBlockRemainder(cur, cur + segLen, 2);
        } else {
            prepared = PreserveBlockRemainder(cur & ~(blockSectors - 1), cur + segLen, 1);
        }
        if (!prepared) {
            FailWrite(texts::kBlockRead);
            return false;
        }
        for (std::uint32_t k = 0; k < segLen; ++k) {
            CopyImageSector(image, offset + k * kSectorBytes, sector);
            WriteSector(cur, sector);
            ++cur;
        }
        MoveToNextSegment(cur, backward);
        offset += segLen * kSectorBytes;
        if (m_pSink) {
            m_progress += backward ? 2 : 4;
            m_pSink->SetProgress(m_progress);
        }
    }
    return true;
}

bool CFlashEngine::VerifyCopy(const ImageData& image, std::uint32_t startSector, bool backward) {
    if (m_pSink) {
        m_pSink->SetStatus(texts::kVerifying);
    }
    std::uint8_t readBack[kSectorBytes];
    std::uint8_t expected[kSectorBytes];
    std::uint32_t cur = startSector;
    std::size_t offset = kImageHeaderBytes;
    for (int i = 0; i < m_segCount; ++i) {
        if (!InsideFlash(cur, backward)) {
            FailWrite(texts::kFlashRange);
            return false;
        }
        for (std::int32_t k = 0; k < m_segLen[i]; ++k) {
            CopyImageSector(image, offset + static_cast<std::size_t>(k) * kSectorBytes, expected);
            // A read the device refused is a read-back failure, not a comparison with whatever
            // the buffer held before.
            if (!ReadSector(cur, readBack) || std::memcmp(readBack, expected, kSectorBytes) != 0) {
                FailWrite(texts::kReadBack);
                return false;
            }
            ++cur;
        }
        MoveToNextSegment(cur, backward);
        offset += static_cast<std::size_t>(m_segLen[i]) * kSectorBytes;
    }
    if (m_pSink) {
        m_progress += 2;
        m_pSink->SetProgress(m_progress);
    }
    return true;
}

std::int32_t CFlashEngine::WriteImage(std::int32_t startBlock, std::int32_t sectorOffset,
                                      const std::string& path, int verify, int backward,
                                      std::int32_t maxBlocks) {
    std::shared_ptr<const ImageData> image;
    if (!LoadForWrite(path, image)) {
        return 0;
    }
    const std::size_t paddedPayload =
        (image->PayloadBytes() + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    SplitSegments(sectorOffset, static_cast<std::int32_t>(paddedPayload));

    // Refusals that must come before the flash is touched.
    const std::int32_t payloadEnd =
        sectorOffset + static_cast<std::int32_t>(paddedPayload / kSectorBytes);
    if (m_segEnd[m_segCount - 1] + 1 < payloadEnd) {
        return FailWrite(texts::kFileSize);  // more than the segment table can hold
    }
    if (startBlock < 0 || static_cast<std::uint32_t>(startBlock) >= TotalBlocks() ||
        sectorOffset < 0 || sectorOffset >= m_sectorsPerBlock) {
        return FailWrite(texts::kFlashRange);
    }
    if (maxBlocks > 0 && m_segCount > maxBlocks) {
        return FailWrite(texts::kBackupArea);  // it would overwrite the area below
    }

    const std::uint32_t startSector = (static_cast<std::uint32_t>(startBlock) << m_blockShift) +
                                      static_cast<std::uint32_t>(sectorOffset);
    // Copies are numbered in the order they are written; a backup copy's number is odd.
    const int copy = 2 * ++m_copySerial + (backward ? 1 : 0);
    if (!PlaceAndWrite(*image, startSector, backward != 0, copy)) {
        return 0;
    }
    if (verify && !VerifyCopy(*image, startSector, backward != 0)) {
        return 0;
    }
    return 1;
}

}  // namespace qdx
