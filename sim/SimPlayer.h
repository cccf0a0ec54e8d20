// A simulated player's NAND flash and the file it is kept in.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "transport/VendorCommand.h"

namespace qdx::sim {

inline constexpr std::size_t kRawSectorBytes = 512 + 16;  // data then spare

// The NAND flash of one player (one or two identical chips), 512 data and 16 spare bytes per
// sector. Blocks never written are erased (all 0xFF) and take no memory. A factory bad block
// reads as 0x00 throughout (so its mark is in sectors 0 and 1) and takes no erase or program.
class SimPlayer {
public:
    // A player as it leaves the factory: bad blocks marked, formatted, valid kernel block.
    // Null with *error set for an unknown chip or a block outside the flash.
    static std::unique_ptr<SimPlayer> CreateFactory(std::uint8_t deviceCode, bool twoChips,
                                                    const std::vector<std::uint32_t>& badBlocks,
                                                    std::string* error);
    // Null with *error set for a missing, unreadable or corrupt file, or for anything that is no
    // regular file.
    static std::unique_ptr<SimPlayer> Load(const std::string& path, std::string* error);
    // Writes the player to a temporary file beside the file path names (through symbolic links)
    // and puts it in that file's place with its permissions; false with *error set when that
    // fails, leaving any previous file at path as it was. Player files are regular files: any
    // other kind of file at path is refused.
    bool Save(const std::string& path, std::string* error) const;

    // Raw NAND of blocks first..last inclusive: per sector 512 data bytes then 16 spare bytes.
    // False for a range outside the flash (nothing written) or a failing stream.
    bool ExportRaw(std::ostream& out, std::uint32_t firstBlock, std::uint32_t lastBlock) const;

    std::uint8_t DeviceCode() const { return m_deviceCode; }
    bool TwoChips() const { return m_twoChips; }
    std::uint32_t SectorsPerBlock() const { return m_sectorsPerBlock; }
    std::uint32_t TotalBlocks() const { return m_totalBlocks; }
    std::uint32_t TotalSectors() const { return TotalBlocks() * SectorsPerBlock(); }
    bool LargePage() const { return m_largePage; }
    // Sorted, without duplicates.
    const std::vector<std::uint32_t>& FactoryBadBlocks() const { return m_badBlocks; }
    bool IsFactoryBad(std::uint32_t block) const;

    // NAND operations as the controller performs them; the sector must lie inside the flash.
    void ReadData(std::uint32_t sector, std::uint8_t* out512) const;
    void ReadSpare(std::uint32_t sector, std::uint8_t* out16) const;
    // Programming only clears bits.
    void Program(std::uint32_t sector, const std::uint8_t* data512);
    // Sets a good block to 0xFF; a factory bad block keeps its marks.
    void EraseBlock(std::uint32_t block);
    // Erases every good block and writes a valid kernel block into the second good block.
    // False when the firmware areas do not fit on the good blocks of the first 1024 blocks; the
    // flash is then erased and carries no kernel block.
    bool Format();

private:
    SimPlayer() = default;
    bool SetChip(std::uint8_t deviceCode, bool twoChips);
    void MarkBad(std::uint32_t block);
    bool WriteKernelBlock();
    std::uint8_t* MutableBlock(std::uint32_t block);
    const std::uint8_t* BlockBytes(std::uint32_t block) const;  // null when erased
    bool WriteFile(std::ostream& out) const;

    std::uint8_t m_deviceCode = 0;
    bool m_twoChips = false;
    bool m_largePage = false;
    std::uint32_t m_blockShift = 0;
    std::uint32_t m_sectorsPerBlock = 0;
    std::uint32_t m_totalBlocks = 0;
    std::vector<std::uint32_t> m_badBlocks;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> m_blocks;  // written blocks
    // Buffers of erased blocks kept for the next block written, so that an erase-and-write
    // cycle costs no allocation.
    std::vector<std::vector<std::uint8_t>> m_spareBuffers;
};

}  // namespace qdx::sim
