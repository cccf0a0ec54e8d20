#include <algorithm>
#include <cerrno>
#include <ostream>
#include <thread>

#include "sim/FixedSense.h"
#include "sim/SimDevice.h"

namespace qdx::sim {

SimDevice::SimDevice(std::shared_ptr<SimPlayer> player, FaultPlan faults,
                     std::chrono::microseconds latency)
    : m_player(std::move(player)), m_faults(std::move(faults)), m_latency(latency) {}

TransportStatus SimDevice::LastStatus() const {
    return m_last;
}

void SimDevice::Close() {
    m_closed = true;
}

bool SimDevice::Listed(const std::vector<std::uint32_t>& sectors, std::uint32_t sector) {
    return std::find(sectors.begin(), sectors.end(), sector) != sectors.end();
}

bool SimDevice::IsPlannedFailure(std::uint8_t sub, std::uint32_t operand) const {
    if (m_faults.formatFails && sub == static_cast<std::uint8_t>(SubCommand::Format)) {
        return true;
    }
    return std::any_of(
        m_faults.failAt.begin(), m_faults.failAt.end(),
        [&](const FaultPlan::SubAtSector& f) { return f.sub == sub && f.sector == operand; });
}

bool SimDevice::Undelivered(int osError) {
    m_last.delivered = false;
    m_last.osError = osError;
    m_last.scsiStatus = 0;
    m_last.sense.clear();
    return false;
}

// Delivered, answered with CHECK CONDITION and fixed-format sense data; nothing is transferred.
bool SimDevice::Refuse(std::uint8_t asc) {
    m_last.delivered = true;
    m_last.osError = 0;
    m_last.scsiStatus = kCheckCondition;
    FillFixedSense(m_last.sense, kIllegalRequest, asc);
    return true;
}

bool SimDevice::Send(const CommandDescription& command) {
    if (m_closed) {
        return Undelivered(EBADF);
    }
    ++m_count;
    const std::uint8_t sub = command.cdb[1];
    if (sub < 8) {
        ++m_countBySub[sub];
    }
    const std::uint32_t operand = command.Operand();
    if (m_trace != nullptr) {
        *m_trace << static_cast<unsigned>(sub) << ' ' << operand << '\n';
    }
    if (m_latency.count() > 0) {
        std::this_thread::sleep_for(m_latency);
    }
    if (m_unplugged.load() || (m_faults.unplugAfter != 0 && m_count > m_faults.unplugAfter)) {
        return Undelivered(ENODEV);
    }
    if (m_count == m_faults.failCommand ||
        (command.cdb[0] == kVendorOpcode && IsPlannedFailure(sub, operand))) {
        return Undelivered(EIO);
    }
    return Carry(command);
}

bool SimDevice::Carry(const CommandDescription& command) {
    if (command.cdb[0] != kVendorOpcode) {
        return Refuse(kInvalidOpcode);
    }
    auto shaped = [&](DataDirection direction, std::uint32_t length) {
        return command.direction == direction && command.transferLength == length &&
               (length == 0 || command.buffer != nullptr);
    };
    const std::uint32_t sector = command.Argument();
    const bool inside = sector < m_player->TotalSectors();
    auto* buffer = static_cast<std::uint8_t*>(command.buffer);

    switch (command.Sub()) {
        case SubCommand::ReadId: {
            if (!shaped(DataDirection::FromDevice, kIdBytes)) {
                return Refuse(kInvalidFieldInCdb);
            }
            const std::uint8_t chip = command.cdb[2];
            if (chip > (m_player->TwoChips() ? 1 : 0)) {
                return Refuse(kUnitNotSupported);
            }
            buffer[0] = m_player->DeviceCode();
            buffer[1] = 0;
            break;
        }
        case SubCommand::ReadSector:
            if (!shaped(DataDirection::FromDevice, kSectorBytes)) {
                return Refuse(kInvalidFieldInCdb);
            }
            if (!inside) {
                return Refuse(kLbaOutOfRange);
            }
            m_player->ReadData(sector, buffer);
            if (Listed(m_faults.corruptRead, sector)) {
                buffer[kSectorBytes - 1] ^= 0x01;
            }
            break;
        case SubCommand::ReadSpare:
            if (!shaped(DataDirection::FromDevice, kSpareBytes)) {
                return Refuse(kInvalidFieldInCdb);
            }
            if (!inside) {
                return Refuse(kLbaOutOfRange);
            }
            m_player->ReadSpare(sector, buffer);
            break;
        case SubCommand::WriteSector:
            if (!shaped(DataDirection::ToDevice, kSectorBytes)) {
                return Refuse(kInvalidFieldInCdb);
            }
            if (!inside) {
                return Refuse(kLbaOutOfRange);
            }
            if (!Listed(m_faults.weakSector, sector)) {
                m_player->Program(sector, buffer);
            }
            break;
        case SubCommand::EraseBlock:
            if (!shaped(DataDirection::None, 0)) {
                return Refuse(kInvalidFieldInCdb);
            }
            if (!inside) {
                return Refuse(kLbaOutOfRange);
            }
            m_player->EraseBlock(sector / m_player->SectorsPerBlock());
            break;
        case SubCommand::SetWriteTag:
            if (!shaped(DataDirection::None, 0)) {
                return Refuse(kInvalidFieldInCdb);
            }
            break;
        case SubCommand::Format:
            if (!shaped(DataDirection::None, 0)) {
                return Refuse(kInvalidFieldInCdb);
            }
            m_player->Format();
            break;
        default:
            return Refuse(kInvalidFieldInCdb);
    }
    m_last.delivered = true;
    m_last.osError = 0;
    m_last.scsiStatus = 0;
    m_last.sense.clear();
    return true;
}

}  // namespace qdx::sim
