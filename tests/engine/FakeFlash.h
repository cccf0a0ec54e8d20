// A scripted flash for engine tests: sector data and spare bytes as a test sets them (0xFF
// elsewhere), a log of every command, and commands refused on request.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "transport/Device.h"

namespace qdx::test {

struct LoggedCommand {
    SubCommand sub;
    std::uint32_t operand;
    bool operator==(const LoggedCommand&) const = default;
};

class FakeFlash : public IDevice {
public:
    using Sector = std::array<std::uint8_t, kSectorBytes>;
    using Spare = std::array<std::uint8_t, kSpareBytes>;

    FakeFlash(std::uint8_t deviceCode, std::uint32_t sectorsPerBlock, bool twoChips = false)
        : m_code(deviceCode), m_sectorsPerBlock(sectorsPerBlock), m_twoChips(twoChips) {}

    // Marks a block bad the way the factory does: mark byte != 0xFF in sectors 0 and 1.
    void MarkBad(std::uint32_t block, int markByte) {
        SetMark(block * m_sectorsPerBlock, markByte, 0x00);
        SetMark(block * m_sectorsPerBlock + 1, markByte, 0x00);
    }
    void SetMark(std::uint32_t sector, int markByte, std::uint8_t value) {
        Spare s = SpareOf(sector);
        s[static_cast<std::size_t>(markByte)] = value;
        spare[sector] = s;
    }
    Spare SpareOf(std::uint32_t sector) const {
        auto it = spare.find(sector);
        Spare s;
        s.fill(0xFF);
        return it == spare.end() ? s : it->second;
    }
    Sector DataOf(std::uint32_t sector) const {
        auto it = data.find(sector);
        Sector s;
        s.fill(0xFF);
        return it == data.end() ? s : it->second;
    }

    bool Send(const CommandDescription& command) override {
        log.push_back({command.Sub(), command.Operand()});
        if (closed || (refuse && refuse(command))) {
            return false;
        }
        auto* buffer = static_cast<std::uint8_t*>(command.buffer);
        const std::uint32_t sector = command.Argument();
        switch (command.Sub()) {
            case SubCommand::ReadId: {
                const std::uint8_t chip = command.cdb[2];
                buffer[0] = chip == 0 || m_twoChips ? m_code : answerForChip1;
                buffer[1] = 0x5A;
                break;
            }
            case SubCommand::ReadSector: {
                const Sector s = DataOf(sector);
                std::copy(s.begin(), s.end(), buffer);
                break;
            }
            case SubCommand::ReadSpare: {
                const Spare s = SpareOf(sector);
                std::copy(s.begin(), s.end(), buffer);
                break;
            }
            case SubCommand::WriteSector: {
                Sector s;
                std::copy(buffer, buffer + kSectorBytes, s.begin());
                data[sector] = s;
                break;
            }
            case SubCommand::EraseBlock: {
                const std::uint32_t first = sector & ~(m_sectorsPerBlock - 1);
                data.erase(data.lower_bound(first), data.lower_bound(first + m_sectorsPerBlock));
                break;
            }
            default:
                break;
        }
        return true;
    }
    TransportStatus LastStatus() const override { return {}; }
    void Close() override { closed = true; }

    std::vector<LoggedCommand> Commands(SubCommand sub) const {
        std::vector<LoggedCommand> result;
        for (const LoggedCommand& c : log) {
            if (c.sub == sub) {
                result.push_back(c);
            }
        }
        return result;
    }

    std::map<std::uint32_t, Spare> spare;
    std::map<std::uint32_t, Sector> data;
    std::vector<LoggedCommand> log;
    std::function<bool(const CommandDescription&)> refuse;
    std::uint8_t answerForChip1 = 0x00;
    bool closed = false;

private:
    std::uint8_t m_code;
    std::uint32_t m_sectorsPerBlock;
    bool m_twoChips;
};

}  // namespace qdx::test
