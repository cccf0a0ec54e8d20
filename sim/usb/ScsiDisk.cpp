#include "sim/usb/ScsiDisk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/FixedSense.h"
#include "transport/VendorCommand.h"

namespace qdx::sim::usb {

namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kModeSense6 = 0x1A;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kPreventAllowRemoval = 0x1E;
constexpr std::uint8_t kReadCapacity10 = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kSynchronizeCache10 = 0x35;
constexpr std::uint8_t kModeSense10 = 0x5A;

void PutPadded(std::vector<std::uint8_t>& out, std::size_t at, const std::string& text,
               std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
}

}  // namespace

bool MemoryImage::Read(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) {
    std::memcpy(out, m_bytes.data() + lba * kLogicalSectorBytes,
                std::size_t{count} * kLogicalSectorBytes);
    return true;
}

bool MemoryImage::Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in) {
    std::memcpy(m_bytes.data() + lba * kLogicalSectorBytes, in,
                std::size_t{count} * kLogicalSectorBytes);
    return true;
}

std::unique_ptr<FileImage> FileImage::Open(const std::string& path, std::string* error) {
    auto image = std::unique_ptr<FileImage>(new FileImage);
    image->m_file.open(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!image->m_file) {
        *error = path + ": cannot open it for reading and writing";
        return nullptr;
    }
    image->m_file.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(image->m_file.tellg());
    if (size == 0 || size % kLogicalSectorBytes != 0) {
        *error = path + ": not a disk image (its size is no whole number of 512-byte sectors)";
        return nullptr;
    }
    image->m_sectors = size / kLogicalSectorBytes;
    return image;
}

bool FileImage::Read(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) {
    m_file.clear();
    m_file.seekg(static_cast<std::streamoff>(lba * kLogicalSectorBytes));
    m_file.read(reinterpret_cast<char*>(out),
                static_cast<std::streamsize>(std::size_t{count} * kLogicalSectorBytes));
    return static_cast<bool>(m_file);
}

bool FileImage::Write(std::uint64_t lba, std::uint32_t count, const std::uint8_t* in) {
    m_file.clear();
    m_file.seekp(static_cast<std::streamoff>(lba * kLogicalSectorBytes));
    m_file.write(reinterpret_cast<const char*>(in),
                 static_cast<std::streamsize>(std::size_t{count} * kLogicalSectorBytes));
    m_file.flush();
    return static_cast<bool>(m_file);
}

ScsiDisk::ScsiDisk(BlockImage& image, IDevice& controller, DiskIdentity identity)
    : m_image(image), m_controller(controller), m_identity(std::move(identity)) {}

ScsiOutcome ScsiDisk::Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    FillFixedSense(m_sense, key, asc, ascq);
    return {ScsiOutcome::Kind::CheckCondition, 0};
}

ScsiOutcome ScsiDisk::Reply(const std::vector<std::uint8_t>& reply, DataPhase phase,
                            std::uint8_t* data, std::uint32_t length, std::uint32_t allocation) {
    if (phase == DataPhase::Out) {
        return Check(kIllegalRequest, kInvalidFieldInCdb);
    }
    const auto bytes = static_cast<std::uint32_t>(
        std::min<std::size_t>({reply.size(), length, std::size_t{allocation}}));
    std::copy(reply.begin(), reply.begin() + bytes, data);
    return {ScsiOutcome::Kind::Good, bytes};
}

ScsiOutcome ScsiDisk::Execute(const std::uint8_t* cdb, std::size_t cdbLength, DataPhase phase,
                              std::uint8_t* data, std::uint32_t length) {
    const std::uint8_t opcode = cdb[0];
    if (opcode == kVendorOpcode) {
        return Vendor(cdb, cdbLength, phase, data, length);
    }
    if (opcode != kRequestSense) {
        m_sense.clear();  // sense describes the command just before REQUEST SENSE only
    }
    switch (opcode) {
        case kTestUnitReady:
        case kStartStopUnit:
        case kPreventAllowRemoval:
        case kSynchronizeCache10:
            return {ScsiOutcome::Kind::Good, 0};
        case kRequestSense: {
            std::vector<std::uint8_t> sense;
            sense.swap(m_sense);
            if (sense.empty()) {
                FillFixedSense(sense, kNoSense, 0);
            }
            return Reply(sense, phase, data, length, cdb[4]);
        }
        case kInquiry: {
            if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) {
                return Check(kIllegalRequest, kInvalidFieldInCdb);  // no vital product data
            }
            std::vector<std::uint8_t> reply(36, 0);
            reply[0] = 0x00;  // direct-access block device
            reply[1] = 0x80;  // removable medium
            reply[2] = 0x02;  // the command set a USB disk answers with
            reply[3] = 0x02;  // response data format
            reply[4] = static_cast<std::uint8_t>(reply.size() - 5);
            PutPadded(reply, 8, m_identity.vendor, 8);
            PutPadded(reply, 16, m_identity.product, 16);
            PutPadded(reply, 32, m_identity.revision, 4);
            return Reply(reply, phase, data, length,
                         static_cast<std::uint32_t>(cdb[3]) << 8 | cdb[4]);
        }
        case kModeSense6:
            // Header only: no block descriptor, no pages, not write-protected.
            return Reply({3, 0, 0, 0}, phase, data, length, cdb[4]);
        case kModeSense10:
            return Reply({0, 6, 0, 0, 0, 0, 0, 0}, phase, data, length,
                         static_cast<std::uint32_t>(cdb[7]) << 8 | cdb[8]);
        case kReadCapacity10: {
            std::vector<std::uint8_t> reply(8, 0);
            const std::uint64_t last = m_image.Sectors() - 1;
            PutBigEndian32(reply.data(),
                           last > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(last));
            PutBigEndian32(reply.data() + 4, kLogicalSectorBytes);
            return Reply(reply, phase, data, length, 8);
        }
        case kRead10:
            return ReadWrite(cdb, phase, data, length, false);
        case kWrite10:
            return ReadWrite(cdb, phase, data, length, true);
        default:
            return Check(kIllegalRequest, kInvalidOpcode);
    }
}

ScsiOutcome ScsiDisk::ReadWrite(const std::uint8_t* cdb, DataPhase phase, std::uint8_t* data,
                                std::uint32_t length, bool write) {
    const std::uint64_t lba = GetBigEndian32(cdb + 2);
    const std::uint32_t count = GetBigEndian16(cdb + 7);
    const std::uint64_t bytes = std::uint64_t{count} * kLogicalSectorBytes;
    const DataPhase wanted = count == 0 ? DataPhase::None : write ? DataPhase::Out : DataPhase::In;
    if (phase != wanted || length != bytes) {
        // The host and the command disagree on the data phase: nothing safe can be done.
        return {ScsiOutcome::Kind::NotCarried, 0};
    }
    if (lba + count > m_image.Sectors()) {
        return Check(kIllegalRequest, kLbaOutOfRange);
    }
    if (count == 0) {
        return {ScsiOutcome::Kind::Good, 0};
    }
    if (write) {
        if (!m_image.Write(lba, count, data)) {
            return Check(kMediumError, kWriteError);
        }
    } else if (!m_image.Read(lba, count, data)) {
        return Check(kMediumError, kUnrecoveredReadError);
    }
    return {ScsiOutcome::Kind::Good, length};
}

ScsiOutcome ScsiDisk::Vendor(const std::uint8_t* cdb, std::size_t cdbLength, DataPhase phase,
                             std::uint8_t* data, std::uint32_t length) {
    m_sense.clear();
    if (cdbLength != kCdbLength) {
        return Check(kIllegalRequest, kInvalidFieldInCdb);
    }
    ++m_vendorCommands;
    CommandDescription command;
    std::copy(cdb, cdb + kCdbLength, command.cdb.begin());
    command.direction = phase == DataPhase::In    ? DataDirection::FromDevice
                        : phase == DataPhase::Out ? DataDirection::ToDevice
                                                  : DataDirection::None;
    command.transferLength = length;
    command.buffer = length == 0 ? nullptr : data;
    m_controller.Send(command);
    const TransportStatus status = m_controller.LastStatus();
    if (!status.delivered) {
        return {
            status.osError == ENODEV ? ScsiOutcome::Kind::Unplugged : ScsiOutcome::Kind::NotCarried,
            0};
    }
    if (status.scsiStatus != 0) {
        m_sense = status.sense;
        return {ScsiOutcome::Kind::CheckCondition, 0};
    }
    return {ScsiOutcome::Kind::Good, length};
}

}  // namespace qdx::sim::usb
