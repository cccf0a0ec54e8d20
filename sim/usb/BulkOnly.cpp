#include "sim/usb/BulkOnly.h"

#include <algorithm>

namespace qdx::sim::usb {

namespace {

std::uint32_t GetLittleEndian32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The smallest bulk packet (full speed). A data-in phase cut short on a multiple of it does not
// end with a short packet, so the host would wait for more: the pipe is stalled instead.
constexpr std::uint32_t kSmallestPacket = 64;

}  // namespace

std::optional<Cbw> ParseCbw(const std::uint8_t* bytes, std::size_t count) {
    if (count != kCbwBytes || GetLittleEndian32(bytes) != kCbwSignature) {
        return std::nullopt;
    }
    Cbw cbw;
    cbw.tag = GetLittleEndian32(bytes + 4);
    cbw.dataLength = GetLittleEndian32(bytes + 8);
    const std::uint8_t flags = bytes[12];
    cbw.dataIn = (flags & 0x80) != 0;
    cbw.lun = bytes[13];
    cbw.cbLength = bytes[14];
    if ((flags & 0x7F) != 0 || (cbw.lun & 0xF0) != 0 || (cbw.cbLength & 0xE0) != 0 ||
        cbw.cbLength == 0 || cbw.cbLength > cbw.cb.size()) {
        return std::nullopt;
    }
    std::copy(bytes + 15, bytes + 15 + cbw.cb.size(), cbw.cb.begin());
    return cbw;
}

std::array<std::uint8_t, kCswBytes> BuildCsw(std::uint32_t tag, std::uint32_t residue,
                                             CswStatus status) {
    std::array<std::uint8_t, kCswBytes> csw{};
    PutLittleEndian32(csw.data(), kCswSignature);
    PutLittleEndian32(csw.data() + 4, tag);
    PutLittleEndian32(csw.data() + 8, residue);
    csw[12] = static_cast<std::uint8_t>(status);
    return csw;
}

BulkOnlyServer::BulkOnlyServer(IBulkPipes& pipes, IScsiTarget& target, std::uint32_t maxTransfer)
    : m_pipes(pipes), m_target(target), m_maxTransfer(maxTransfer) {}

bool BulkOnlyServer::ReceiveAll(std::uint8_t* data, std::uint32_t length) {
    std::uint32_t received = 0;
    while (received < length) {
        const long got = m_pipes.Receive(data + received, length - received);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;  // a zero-length packet: the host sent less than it announced
        }
        received += static_cast<std::uint32_t>(got);
    }
    std::fill(data + received, data + length, 0);
    return true;
}

bool BulkOnlyServer::SendCsw(std::uint32_t tag, std::uint32_t residue, CswStatus status) {
    const auto csw = BuildCsw(tag, residue, status);
    return m_pipes.Send(csw.data(), csw.size());
}

BulkOnlyServer::Result BulkOnlyServer::ServeOne() {
    std::uint8_t bytes[kCbwBytes + 1];
    // One byte more than a CBW, so that an oversized packet is seen as such.
    const long got = m_pipes.Receive(bytes, sizeof bytes);
    if (got < 0) {
        return Result::BusGone;
    }
    const std::optional<Cbw> cbw = ParseCbw(bytes, static_cast<std::size_t>(got));
    if (!cbw) {
        // Nothing sensible can follow until the host resets the interface and clears the halts.
        m_pipes.HaltIn();
        m_pipes.HaltOut();
        return Result::Served;
    }
    ++m_commands;

    const std::uint32_t length = cbw->dataLength;
    const DataPhase phase = length == 0   ? DataPhase::None
                            : cbw->dataIn ? DataPhase::In
                                          : DataPhase::Out;
    if (length > m_maxTransfer || cbw->lun != 0) {
        if (phase == DataPhase::In) {
            m_pipes.HaltIn();
        } else if (phase == DataPhase::Out) {
            m_pipes.HaltOut();
        }
        return SendCsw(cbw->tag, length, CswStatus::PhaseError) ? Result::Served : Result::BusGone;
    }
    m_buffer.resize(std::max<std::size_t>(m_buffer.size(), length));
    if (phase == DataPhase::Out && !ReceiveAll(m_buffer.data(), length)) {
        return Result::BusGone;
    }

    const ScsiOutcome outcome =
        m_target.Execute(cbw->cb.data(), cbw->cbLength, phase, m_buffer.data(), length);
    switch (outcome.kind) {
        case ScsiOutcome::Kind::Unplugged:
            return Result::Unplug;
        case ScsiOutcome::Kind::NotCarried:
            // The host resets the device after a phase error and reports the command as failed
            // in transport, not as answered.
            if (phase == DataPhase::In) {
                m_pipes.HaltIn();
            }
            return SendCsw(cbw->tag, length, CswStatus::PhaseError) ? Result::Served
                                                                    : Result::BusGone;
        case ScsiOutcome::Kind::Good:
        case ScsiOutcome::Kind::CheckCondition:
            break;
    }
    const std::uint32_t moved = std::min(outcome.dataBytes, length);
    if (phase == DataPhase::In) {
        if (moved > 0 && !m_pipes.Send(m_buffer.data(), moved)) {
            return Result::BusGone;
        }
        if (moved < length && moved % kSmallestPacket == 0) {
            m_pipes.HaltIn();
        }
    }
    const CswStatus status =
        outcome.kind == ScsiOutcome::Kind::Good ? CswStatus::Passed : CswStatus::Failed;
    return SendCsw(cbw->tag, length - moved, status) ? Result::Served : Result::BusGone;
}

}  // namespace qdx::sim::usb
