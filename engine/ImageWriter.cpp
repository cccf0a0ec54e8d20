// Writing one image into the flash: load and check, split into per-block segments, prepare each
// block, write, and read everything back.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

#include "engine/CFlashEngine.h"

namespace qdx {

namespace {

enum class LoadResult { Loaded, OpenFailed, TooLarge };

// Reads up to kImageMaxBytes of a regular file into image. Anything else (a directory, a FIFO
// that would block, a device node) counts as a file that cannot be opened.
LoadResult LoadImageFile(const std::string& path, std::vector<std::uint8_t>& image,
                         std::size_t& length) {
    namespace fs = std::filesystem;
    const fs::path filePath(std::u8string(path.begin(), path.end()));
    std::error_code error;
    if (!fs::is_regular_file(filePath, error)) {
        return LoadResult::OpenFailed;
    }
    std::ifstream file(filePath, std::ios::binary);
    if (!file) {
        return LoadResult::OpenFailed;
    }
    file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    length = static_cast<std::size_t>(file.gcount());
    if (file.bad()) {
        return LoadResult::OpenFailed;
    }
    if (length == image.size() && file.peek() != std::ifstream::traits_type::eof()) {
        return LoadResult::TooLarge;
    }
    return LoadResult::Loaded;
}

}  // namespace

std::int32_t CFlashEngine::FailWrite(const char* message) {
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

std::int32_t CFlashEngine::WriteImage(std::int32_t startBlock, std::int32_t sectorOffset,
                                      const std::string& path, int verify, int backward,
                                      std::int32_t maxBlocks) {
    std::vector<std::uint8_t> image;
    try {
        image.assign(kImageMaxBytes, 0);
    } catch (const std::bad_alloc&) {
        return FailWrite(texts::kMemory);
    }
    auto fail = [&image, this](const char* message) {
        image.clear();
        image.shrink_to_fit();
        return FailWrite(message);
    };

    std::size_t length = 0;
    if (path == kBuiltinImagePath) {
        length = std::min(m_builtinImage.size(), image.size());
        std::copy_n(m_builtinImage.begin(), length, image.begin());
    } else {
        switch (LoadImageFile(path, image, length)) {
            case LoadResult::OpenFailed:
                return fail(texts::kFileOpen);
            case LoadResult::TooLarge:
                return fail(texts::kFileSize);
            case LoadResult::Loaded:
                break;
        }
    }

    // An image that does not carry the key is refused like one with a bad checksum: a job that
    // went on without it would report a player as done with an image missing.
    if (std::memcmp(image.data(), kImageKey, kImageKeyBytes) != 0) {
        return fail(texts::kFileKey);
    }
    const std::span<const std::uint8_t> payload =
        length > kImageHeaderBytes ? std::span<const std::uint8_t>(image).subspan(
                                         kImageHeaderBytes, length - kImageHeaderBytes)
                                   : std::span<const std::uint8_t>();
    if (ImageChecksum(payload) != GetBigEndian16(&image[kImageChecksumOffset])) {
        return fail(texts::kFileChecksum);
    }
    // Zero padding to the next whole sector is already in the zero-filled buffer.
    length = (length + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    const std::int32_t payloadBytes =
        length > kImageHeaderBytes ? static_cast<std::int32_t>(length - kImageHeaderBytes) : 0;

    SplitSegments(sectorOffset, payloadBytes);

    // Refusals that must come before the flash is touched.
    const std::int32_t payloadEnd = sectorOffset + payloadBytes / std::int32_t{kSectorBytes};
    if (m_segEnd[m_segCount - 1] + 1 < payloadEnd) {
        return fail(texts::kFileSize);  // more than the segment table can hold
    }
    if (startBlock < 0 || static_cast<std::uint32_t>(startBlock) >= TotalBlocks() ||
        sectorOffset < 0 || sectorOffset >= m_sectorsPerBlock) {
        return fail(texts::kFlashRange);
    }
    if (maxBlocks > 0 && m_segCount > maxBlocks) {
        return fail(texts::kBackupArea);  // it would overwrite the area below
    }

    const std::uint32_t blockSectors = static_cast<std::uint32_t>(m_sectorsPerBlock);
    const std::uint32_t startSector = (static_cast<std::uint32_t>(startBlock) << m_blockShift) +
                                      static_cast<std::uint32_t>(sectorOffset);
    const std::uint32_t flashEnd = TotalSectors();

    // Moves to the block of the next segment: up to the next good block, or down past the block
    // just filled to the next good block below it.
    auto moveOn = [&](std::uint32_t& cur) {
        if (!backward) {
            FindGoodBlockForward(cur);
        } else {
            std::int32_t down = static_cast<std::int32_t>(cur) - 2 * m_sectorsPerBlock;
            FindGoodBlockBackward(down);
            cur = static_cast<std::uint32_t>(down);
        }
    };
    auto insideFlash = [&](std::uint32_t cur) {
        return !backward ? cur < flashEnd : static_cast<std::int32_t>(cur) >= 0;
    };

    SetWriteTag(0);

    std::uint32_t cur = startSector;
    std::size_t offset = kImageHeaderBytes;
    for (int i = 0; i < m_segCount; ++i) {
        if (!insideFlash(cur)) {
            return fail(texts::kFlashRange);
        }
        const std::uint32_t segLen = static_cast<std::uint32_t>(m_segLen[i]);
        bool prepared = true;
        if (m_segLen[i] == m_sectorsPerBlock) {
            EraseBlock(cur);
        } else if (m_segStart[i] > i * m_sectorsPerBlock) {
            prepared = PreserveBlockRemainder(cur, cur + segLen, 2);
        } else {
            prepared = PreserveBlockRemainder(cur & ~(blockSectors - 1), cur + segLen, 1);
        }
        if (!prepared) {
            return fail(texts::kBlockRead);
        }
        for (std::uint32_t k = 0; k < segLen; ++k) {
            WriteSector(cur, &image[offset + k * kSectorBytes]);
            ++cur;
        }
        moveOn(cur);
        offset += segLen * kSectorBytes;
        if (m_pSink) {
            m_progress += backward ? 2 : 4;
            m_pSink->SetProgress(m_progress);
        }
    }

    if (verify) {
        if (m_pSink) {
            m_pSink->SetStatus(texts::kVerifying);
        }
        std::uint8_t readBack[kSectorBytes];
        cur = startSector;
        offset = kImageHeaderBytes;
        for (int i = 0; i < m_segCount; ++i) {
            if (!insideFlash(cur)) {
                return fail(texts::kFlashRange);
            }
            for (std::int32_t k = 0; k < m_segLen[i]; ++k) {
                // A read the device refused is a read-back failure, not a comparison with
                // whatever the buffer held before.
                if (!ReadSector(cur, readBack) ||
                    std::memcmp(readBack, &image[offset + k * kSectorBytes], kSectorBytes) != 0) {
                    return fail(texts::kReadBack);
                }
                ++cur;
            }
            moveOn(cur);
            offset += static_cast<std::size_t>(m_segLen[i]) * kSectorBytes;
        }
        if (m_pSink) {
            m_progress += 2;
            m_pSink->SetProgress(m_progress);
        }
    }
    return 1;
}

}  // namespace qdx
