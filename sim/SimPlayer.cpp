#include "sim/SimPlayer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "engine/facts/ChipTable.h"
#include "engine/facts/FlashLayout.h"
#include "engine/facts/KernelBlock.h"
#include "sim/AtomicFile.h"
#include "sim/SimFile.h"

namespace qdx::sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint8_t kBadBlockFill = 0x00;
// Enough for the blocks of one image rewritten after a format, a few MiB at most.
constexpr std::size_t kMaxSpareBuffers = 64;

// The UIT and font areas this firmware lays out, in sectors: 640 KiB and 2 MiB. The IM/PM and
// second areas have the sizes the kernel block's lists give them.
constexpr std::uint32_t kUitSectors = 1280;
constexpr std::uint32_t kFontSectors = 4096;
// Kernel sector 1 carries one UIT entry per capacity class, for every slot the host may read.
constexpr std::uint32_t kCapacityEntries = kSlotCapacityLast + 1;

bool AllErased(const std::uint8_t* bytes, std::size_t count) {
    return std::all_of(bytes, bytes + count, [](std::uint8_t b) { return b == kErased; });
}

void PutText(std::uint8_t* out, const char* text) {
    std::memcpy(out, text, std::strlen(text));
}

}  // namespace

bool SimPlayer::SetChip(std::uint8_t deviceCode, bool twoChips) {
    const ChipRow* row = FindChip(deviceCode);
    if (row == nullptr) {
        return false;
    }
    m_deviceCode = deviceCode;
    m_twoChips = twoChips;
    m_largePage = row->geometry.largePage != 0;
    m_blockShift = static_cast<std::uint32_t>(row->geometry.blockShift);
    m_sectorsPerBlock = static_cast<std::uint32_t>(row->geometry.sectorsPerBlock);
    m_totalBlocks =
        static_cast<std::uint32_t>(row->geometry.blocksK) * kBlocksPerK * (twoChips ? 2 : 1);
    return true;
}

std::unique_ptr<SimPlayer> SimPlayer::CreateFactory(std::uint8_t deviceCode, bool twoChips,
                                                    const std::vector<std::uint32_t>& badBlocks,
                                                    std::string* error) {
    std::unique_ptr<SimPlayer> player(new SimPlayer);
    if (!player->SetChip(deviceCode, twoChips)) {
        *error = "device code " + std::to_string(deviceCode) + " is not in the chip table";
        return nullptr;
    }
    for (std::uint32_t block : badBlocks) {
        if (block >= player->m_totalBlocks) {
            *error = "bad block " + std::to_string(block) + " lies outside the flash (" +
                     std::to_string(player->m_totalBlocks) + " blocks)";
            return nullptr;
        }
    }
    player->m_badBlocks = badBlocks;
    std::sort(player->m_badBlocks.begin(), player->m_badBlocks.end());
    player->m_badBlocks.erase(std::unique(player->m_badBlocks.begin(), player->m_badBlocks.end()),
                              player->m_badBlocks.end());
    for (std::uint32_t block : player->m_badBlocks) {
        player->MarkBad(block);
    }
    if (!player->Format()) {
        *error = "too many bad blocks: the firmware areas do not fit in the first 1024 blocks";
        return nullptr;
    }
    return player;
}

bool SimPlayer::IsFactoryBad(std::uint32_t block) const {
    return std::binary_search(m_badBlocks.begin(), m_badBlocks.end(), block);
}

void SimPlayer::MarkBad(std::uint32_t block) {
    std::vector<std::uint8_t>& bytes = m_blocks[block];
    bytes.assign(std::size_t{m_sectorsPerBlock} * kRawSectorBytes, kBadBlockFill);
}

std::uint8_t* SimPlayer::MutableBlock(std::uint32_t block) {
    auto [it, inserted] = m_blocks.try_emplace(block);
    if (inserted) {
        if (!m_spareBuffers.empty()) {
            it->second = std::move(m_spareBuffers.back());
            m_spareBuffers.pop_back();
        }
        it->second.assign(std::size_t{m_sectorsPerBlock} * kRawSectorBytes, kErased);
    }
    return it->second.data();
}

const std::uint8_t* SimPlayer::BlockBytes(std::uint32_t block) const {
    auto it = m_blocks.find(block);
    return it == m_blocks.end() ? nullptr : it->second.data();
}

void SimPlayer::ReadData(std::uint32_t sector, std::uint8_t* out512) const {
    const std::uint8_t* block = BlockBytes(sector >> m_blockShift);
    if (block == nullptr) {
        std::memset(out512, kErased, kSectorBytes);
        return;
    }
    std::memcpy(out512, block + (sector & (m_sectorsPerBlock - 1)) * kRawSectorBytes, kSectorBytes);
}

void SimPlayer::ReadSpare(std::uint32_t sector, std::uint8_t* out16) const {
    const std::uint8_t* block = BlockBytes(sector >> m_blockShift);
    if (block == nullptr) {
        std::memset(out16, kErased, kSpareBytes);
        return;
    }
    std::memcpy(out16, block + (sector & (m_sectorsPerBlock - 1)) * kRawSectorBytes + kSectorBytes,
                kSpareBytes);
}

void SimPlayer::Program(std::uint32_t sector, const std::uint8_t* data512) {
    const std::uint32_t block = sector >> m_blockShift;
    if (IsFactoryBad(block)) {
        return;
    }
    std::uint8_t* target =
        MutableBlock(block) + (sector & (m_sectorsPerBlock - 1)) * kRawSectorBytes;
    for (std::size_t i = 0; i < kSectorBytes; ++i) {
        target[i] &= data512[i];
    }
}

void SimPlayer::EraseBlock(std::uint32_t block) {
    if (IsFactoryBad(block)) {
        return;
    }
    auto it = m_blocks.find(block);
    if (it == m_blocks.end()) {
        return;
    }
    if (m_spareBuffers.size() < kMaxSpareBuffers) {
        m_spareBuffers.push_back(std::move(it->second));
    }
    m_blocks.erase(it);
}

bool SimPlayer::Format() {
    std::erase_if(m_blocks, [this](const auto& entry) { return !IsFactoryBad(entry.first); });
    return WriteKernelBlock();
}

// Lays the firmware areas over the good blocks that follow the kernel block, as the player's
// firmware does when it is formatted, and records them in the kernel block.
bool SimPlayer::WriteKernelBlock() {
    const std::uint32_t lastBlock = std::min(kFirmwareBlocks, m_totalBlocks);
    std::uint32_t next = 0;
    // The host finds good blocks by their spare marks, so the layout is decided the same way.
    auto takeGood = [&](std::uint32_t* block) {
        std::array<std::uint8_t, kSpareBytes> spare0{};
        std::array<std::uint8_t, kSpareBytes> spare1{};
        const int markByte = BadBlockMarkByte(m_largePage ? 1 : 0);
        for (; next < lastBlock; ++next) {
            ReadSpare(next << m_blockShift, spare0.data());
            ReadSpare((next << m_blockShift) + 1, spare1.data());
            if (spare0[markByte] == kErased && spare1[markByte] == kErased) {
                *block = next++;
                return true;
            }
        }
        return false;
    };
    auto takeArea = [&](std::uint32_t sectors, std::vector<std::uint32_t>* blocks) {
        blocks->resize(sectors >> m_blockShift);
        for (std::uint32_t& block : *blocks) {
            if (!takeGood(&block)) {
                return false;
            }
        }
        return true;
    };

    std::uint32_t bootBlock = 0;
    std::uint32_t kernelBlock = 0;
    std::vector<std::uint32_t> imPm, second, uit, font;
    if (!takeGood(&bootBlock) || !takeGood(&kernelBlock) || !takeArea(kImPmAreaSectors, &imPm) ||
        !takeArea(kSecondAreaSectors, &second) || !takeArea(kUitSectors, &uit) ||
        !takeArea(kFontSectors, &font)) {
        return false;
    }

    std::array<std::array<std::uint8_t, kSectorBytes>, kKernelSectors> sectors{};
    for (auto& sector : sectors) {
        sector.fill(kErased);
    }
    const std::uint32_t blocksK = m_totalBlocks / kBlocksPerK;
    std::fill(sectors[0].begin(), sectors[0].begin() + 64, 0);
    PutText(sectors[0].data(), "QDX SIM KERNEL 1");
    sectors[0][16] = m_deviceCode;
    sectors[0][17] = m_twoChips ? 2 : 1;
    sectors[0][18] = static_cast<std::uint8_t>(blocksK);
    sectors[0][19] = static_cast<std::uint8_t>(m_blockShift);

    for (std::uint32_t i = 0; i < kCapacityEntries; ++i) {
        PutBigEndian16(&sectors[kKernelUitTableSector][2 * i],
                       static_cast<std::uint16_t>(uit.front()));
    }
    PutBigEndian16(&sectors[kKernelFontSector][0], static_cast<std::uint16_t>(font.front()));
    for (std::size_t i = 0; i < imPm.size(); ++i) {
        PutBigEndian16(&sectors[kKernelImPmListSector][2 * i], static_cast<std::uint16_t>(imPm[i]));
    }
    for (std::size_t i = 0; i < second.size(); ++i) {
        PutBigEndian16(&sectors[kKernelSecondListSector][2 * i],
                       static_cast<std::uint16_t>(second[i]));
    }
    // Sector 3: where each area starts and how many blocks it spans, for a person reading a dump.
    std::fill(sectors[3].begin(), sectors[3].begin() + 64, 0);
    PutText(sectors[3].data(), "QDX SIM AREAS");
    const std::uint32_t areaStarts[] = {imPm.front(), second.front(), uit.front(), font.front()};
    const std::size_t areaBlocks[] = {imPm.size(), second.size(), uit.size(), font.size()};
    for (std::size_t i = 0; i < 4; ++i) {
        PutBigEndian16(&sectors[3][16 + 4 * i], static_cast<std::uint16_t>(areaStarts[i]));
        PutBigEndian16(&sectors[3][18 + 4 * i], static_cast<std::uint16_t>(areaBlocks[i]));
    }

    std::uint32_t sum = 0;
    for (std::uint32_t index : kKernelSummedSectors) {
        sum = AddToKernelSum(sum, sectors[index]);
    }
    PutBigEndian32(&sectors[kKernelChecksumSector][0], sum);

    const std::uint32_t first = kernelBlock << m_blockShift;
    for (std::uint32_t i = 0; i < sectors.size(); ++i) {
        Program(first + i, sectors[i].data());
    }
    return true;
}

bool SimPlayer::ExportRaw(std::ostream& out, std::uint32_t firstBlock,
                          std::uint32_t lastBlock) const {
    if (firstBlock > lastBlock || lastBlock >= m_totalBlocks) {
        return false;
    }
    const std::size_t blockBytes = std::size_t{m_sectorsPerBlock} * kRawSectorBytes;
    const std::vector<std::uint8_t> erased(blockBytes, kErased);
    for (std::uint32_t block = firstBlock; block <= lastBlock && out; ++block) {
        const std::uint8_t* bytes = BlockBytes(block);
        out.write(reinterpret_cast<const char*>(bytes ? bytes : erased.data()),
                  static_cast<std::streamsize>(blockBytes));
    }
    return static_cast<bool>(out);
}

// The player file: a header, the factory bad blocks, then every sector that is not fully erased,
// and a CRC-32 of everything before it.
bool SimPlayer::WriteFile(std::ostream& out) const {
    std::vector<std::uint32_t> written;
    written.reserve(m_blocks.size());
    for (const auto& [block, bytes] : m_blocks) {
        if (!IsFactoryBad(block)) {
            written.push_back(block);
        }
    }
    std::sort(written.begin(), written.end());

    std::uint32_t records = 0;
    for (std::uint32_t block : written) {
        const std::uint8_t* bytes = BlockBytes(block);
        for (std::uint32_t i = 0; i < m_sectorsPerBlock; ++i) {
            records += AllErased(bytes + i * kRawSectorBytes, kRawSectorBytes) ? 0 : 1;
        }
    }

    FileWriter writer(out);
    FileHeader header;
    header.deviceCode = m_deviceCode;
    header.twoChips = m_twoChips;
    header.badBlockCount = static_cast<std::uint32_t>(m_badBlocks.size());
    header.sectorCount = records;
    WriteHeader(writer, header);
    for (std::uint32_t block : m_badBlocks) {
        writer.Put32(block);
    }
    for (std::uint32_t block : written) {
        const std::uint8_t* bytes = BlockBytes(block);
        for (std::uint32_t i = 0; i < m_sectorsPerBlock; ++i) {
            const std::uint8_t* raw = bytes + i * kRawSectorBytes;
            if (!AllErased(raw, kRawSectorBytes)) {
                writer.Put32((block << m_blockShift) + i);
                writer.Put(raw, kRawSectorBytes);
            }
        }
    }
    writer.FinishWithCrc();
    return static_cast<bool>(out);
}

bool SimPlayer::Save(const std::string& path, std::string* error) const {
    AtomicFile file;
    if (!file.Open(path, AtomicFile::NonRegular::Refuse, error)) {
        return false;
    }
    errno = 0;
    if (!WriteFile(file.Stream())) {
        const int cause = errno;
        file.Discard();
        *error = "cannot write " + path + (cause ? ": " + std::string(std::strerror(cause)) : "");
        return false;
    }
    return file.Commit(error);
}

std::unique_ptr<SimPlayer> SimPlayer::Load(const std::string& path, std::string* error) {
    namespace fs = std::filesystem;
    const fs::path filePath(std::u8string(path.begin(), path.end()));
    std::error_code statusError;
    const fs::file_status status = fs::status(filePath, statusError);
    if (statusError) {
        *error = path + ": " +
                 (statusError == std::errc::no_such_file_or_directory ? std::string("no such file")
                                                                      : statusError.message());
        return nullptr;
    }
    // Opening a FIFO would wait for a writer forever, and a device is no player file.
    if (!fs::is_regular_file(status)) {
        *error =
            path + (fs::is_directory(status) ? " is a directory"
                                             : " is not a regular file (a device, FIFO or socket)");
        return nullptr;
    }
    errno = 0;
    std::ifstream in(filePath, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path + (errno ? ": " + std::string(std::strerror(errno)) : "");
        return nullptr;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) {
        *error = "cannot read " + path;
        return nullptr;
    }
    const std::string where = path + ": ";

    FileReader reader(in);
    FileHeader header;
    std::string problem;
    std::unique_ptr<SimPlayer> player(new SimPlayer);
    if (!ReadHeader(reader, static_cast<std::uint64_t>(size), &header, &problem)) {
        *error = where + problem;
        return nullptr;
    }
    if (!player->SetChip(header.deviceCode, header.twoChips)) {
        *error = where + "device code " + std::to_string(header.deviceCode) +
                 " is not in the chip table";
        return nullptr;
    }
    // Every count is bounded by the flash before it decides how much is read.
    if (header.badBlockCount > player->m_totalBlocks ||
        header.sectorCount > player->TotalSectors()) {
        *error = where + "the header announces more blocks or sectors than the flash holds";
        return nullptr;
    }
    const std::uint64_t expected = FileSize(header);
    if (expected != static_cast<std::uint64_t>(size)) {
        *error = where + "the file is " + std::to_string(size) + " bytes but its header needs " +
                 std::to_string(expected) + " (truncated or corrupt)";
        return nullptr;
    }

    std::uint32_t previous = 0;
    for (std::uint32_t i = 0; i < header.badBlockCount; ++i) {
        const std::uint32_t block = reader.Get32();
        if (block >= player->m_totalBlocks || (i > 0 && block <= previous)) {
            *error = where + "the bad-block list is out of order or outside the flash";
            return nullptr;
        }
        player->m_badBlocks.push_back(block);
        previous = block;
    }
    for (std::uint32_t block : player->m_badBlocks) {
        player->MarkBad(block);
    }
    std::array<std::uint8_t, kRawSectorBytes> raw{};
    for (std::uint32_t i = 0; i < header.sectorCount; ++i) {
        const std::uint32_t sector = reader.Get32();
        reader.Get(raw.data(), raw.size());
        if (sector >= player->TotalSectors() || (i > 0 && sector <= previous) ||
            player->IsFactoryBad(sector >> player->m_blockShift)) {
            *error = where + "a sector record is out of order, outside the flash or in a bad block";
            return nullptr;
        }
        previous = sector;
        std::uint8_t* block = player->MutableBlock(sector >> player->m_blockShift);
        std::memcpy(block + (sector & (player->m_sectorsPerBlock - 1)) * kRawSectorBytes,
                    raw.data(), raw.size());
    }
    if (!reader.CheckCrc()) {
        *error = where + (reader.Failed() ? "read error" : "checksum mismatch (corrupt file)");
        return nullptr;
    }
    return player;
}

}  // namespace qdx::sim
