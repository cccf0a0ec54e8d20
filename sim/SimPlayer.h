// A simulated player: the controller and its NAND flash in software, behind the device port.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "transport/Device.h"

namespace qdx::sim {

inline constexpr std::size_t kRawSectorBytes = 512 + 16;  // data then spare

// Faults injected into one run of commands, counted from 1.
struct FaultPlan {
    std::uint64_t failCommand = 0;  // that command is not delivered (0: none)
    std::uint64_t unplugAfter = 0;  // no command after that one is delivered (0: none)
    struct SubAtSector {
        std::uint8_t sub;
        std::uint32_t sector;
    };
    std::vector<SubAtSector> failAt;         // that sub-command for that sector is never delivered
    std::vector<std::uint32_t> corruptRead;  // reads of that sector return one bit flipped
    std::vector<std::uint32_t> weakSector;   // programming that sector does not take
    bool formatFails = false;                // the format command is not delivered

    // True when no fault is planned.
    bool Empty() const;
};

// Adds one fault given as text: fail-command=N, unplug-after=N, fail=SUB@SECTOR,
// corrupt-read=SECTOR, weak-sector=SECTOR or format-fails. False with *error set when the text
// is not one of these.
bool ParseFaultSpec(const std::string& text, FaultPlan& plan, std::string* error);

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
    // Null with *error set for a missing, unreadable or corrupt file.
    static std::unique_ptr<SimPlayer> Load(const std::string& path, std::string* error);
    // Writes the player to a temporary file beside path and renames it over path; false with
    // *error set when that fails, leaving any previous file at path as it was.
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

// The controller in front of a SimPlayer: carries out the seven sub-commands, applies the fault
// plan, records a trace and counts commands.
class SimDevice : public IDevice {
public:
    SimDevice(std::shared_ptr<SimPlayer> player, FaultPlan faults = {},
              std::chrono::microseconds latency = {});

    bool Send(const CommandDescription& command) override;
    TransportStatus LastStatus() const override;
    void Close() override;

    // One line "SUB OPERAND" per command sent, delivered or not. Commands sent after Close are
    // refused before they reach the player and are neither traced nor counted.
    void SetTrace(std::ostream* trace) { m_trace = trace; }
    // Commands sent, delivered or not.
    std::uint64_t CommandCount() const { return m_count; }
    std::uint64_t CountOf(std::uint8_t sub) const { return m_countBySub[sub & 7]; }
    bool Closed() const { return m_closed; }

private:
    bool Undelivered(int osError);
    bool Refuse(std::uint8_t asc);
    bool Carry(const CommandDescription& command);
    bool IsPlannedFailure(std::uint8_t sub, std::uint32_t operand) const;
    static bool Listed(const std::vector<std::uint32_t>& sectors, std::uint32_t sector);

    std::shared_ptr<SimPlayer> m_player;
    FaultPlan m_faults;
    std::chrono::microseconds m_latency;
    std::ostream* m_trace = nullptr;
    std::uint64_t m_count = 0;
    std::uint64_t m_countBySub[8] = {};
    TransportStatus m_last;
    bool m_closed = false;
};

}  // namespace qdx::sim
