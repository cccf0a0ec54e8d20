#include "transport/VendorCommand.h"

namespace qdx {

void PutBigEndian32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t GetBigEndian32(const std::uint8_t* in) {
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

void PutBigEndian16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t GetBigEndian16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>((in[0] << 8) | in[1]);
}

std::uint32_t CommandDescription::Argument() const {
    return GetBigEndian32(&cdb[2]);
}

std::uint32_t CommandDescription::Operand() const {
    switch (Sub()) {
        case SubCommand::ReadId:
            return cdb[2];
        case SubCommand::SetWriteTag:
            return GetBigEndian16(&cdb[2]);
        case SubCommand::Format:
            return 0;
        default:
            return Argument();
    }
}

namespace {

CommandDescription Base(SubCommand sub) {
    CommandDescription command;
    command.cdb[0] = kVendorOpcode;
    command.cdb[1] = static_cast<std::uint8_t>(sub);
    command.timeoutSeconds = kCommandTimeoutSeconds;
    command.senseInfoOffset = kSenseInfoOffset;
    return command;
}

CommandDescription SectorCommand(SubCommand sub, std::uint32_t sector) {
    CommandDescription command = Base(sub);
    PutBigEndian32(&command.cdb[2], sector);
    return command;
}

}  // namespace

CommandDescription BuildReadId(std::uint32_t chip, std::uint8_t* reply2) {
    CommandDescription command = Base(SubCommand::ReadId);
    command.cdb[2] = static_cast<std::uint8_t>(chip);
    command.direction = DataDirection::FromDevice;
    command.transferLength = kIdBytes;
    command.buffer = reply2;
    return command;
}

CommandDescription BuildReadSector(std::uint32_t sector, std::uint8_t* data512) {
    CommandDescription command = SectorCommand(SubCommand::ReadSector, sector);
    command.direction = DataDirection::FromDevice;
    command.transferLength = kSectorBytes;
    command.buffer = data512;
    return command;
}

CommandDescription BuildReadSpare(std::uint32_t sector, std::uint8_t* spare16) {
    CommandDescription command = SectorCommand(SubCommand::ReadSpare, sector);
    command.direction = DataDirection::FromDevice;
    command.transferLength = kSpareBytes;
    command.buffer = spare16;
    return command;
}

CommandDescription BuildWriteSector(std::uint32_t sector, const std::uint8_t* data512) {
    CommandDescription command = SectorCommand(SubCommand::WriteSector, sector);
    command.direction = DataDirection::ToDevice;
    command.transferLength = kSectorBytes;
    // The request record has one buffer field for both directions; a write never stores into it.
    command.buffer = const_cast<std::uint8_t*>(data512);
    return command;
}

CommandDescription BuildEraseBlock(std::uint32_t sector) {
    CommandDescription command = SectorCommand(SubCommand::EraseBlock, sector);
    command.senseInfoOffset = 0;
    return command;
}

CommandDescription BuildSetWriteTag(std::uint32_t value) {
    CommandDescription command = Base(SubCommand::SetWriteTag);
    PutBigEndian16(&command.cdb[2], static_cast<std::uint16_t>(value));
    return command;
}

CommandDescription BuildFormat() {
    CommandDescription command = Base(SubCommand::Format);
    command.timeoutSeconds = kFormatTimeoutSeconds;
    command.senseInfoOffset = 0;
    return command;
}

}  // namespace qdx
