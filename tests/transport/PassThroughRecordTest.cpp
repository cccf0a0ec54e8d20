// The Windows request record, byte for byte. Off Windows the header is a stand-in of the same
// field types and order, so the same checks run natively and under wine.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "transport/VendorCommand.h"
#include "transport/windows/PassThroughRecord.h"

namespace qdx {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutLittleEndian(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The record a correct fill produces, written field by field at the header's offsets; every
// byte not written here (padding, filler, sense area) must be zero.
Bytes ExpectedRecord(const CommandDescription& command, std::uint8_t dataIn,
                     std::uint32_t senseInfoOffset) {
    Bytes bytes(sizeof(PassThroughRecord), 0);
    PutLittleEndian(bytes, 0, sizeof(ScsiPassThroughDirect), 2);  // Length
    bytes[4] = 1;                                                 // TargetId
    bytes[6] = 10;                                                // CdbLength
    bytes[8] = dataIn;
    PutLittleEndian(bytes, 12, command.transferLength, 4);
    PutLittleEndian(bytes, 16, command.timeoutSeconds, 4);
    void* buffer = command.buffer;
    std::memcpy(&bytes[offsetof(ScsiPassThroughDirect, DataBuffer)], &buffer, sizeof buffer);
    PutLittleEndian(bytes, offsetof(ScsiPassThroughDirect, SenseInfoOffset), senseInfoOffset, 4);
    std::memcpy(&bytes[offsetof(ScsiPassThroughDirect, Cdb)], command.cdb.data(), kCdbLength);
    return bytes;
}

TEST(PassThroughRecordTest, FillWritesEveryFieldAndZeroesTheRest) {
    std::uint8_t id[kIdBytes];
    std::uint8_t sector[kSectorBytes];
    std::uint8_t spare[kSpareBytes];
    const std::uint32_t sense = kPassThroughSenseOffset;

    struct Case {
        std::string name;
        CommandDescription command;
        std::uint8_t dataIn;
        std::uint32_t senseInfoOffset;
    };
    const std::vector<Case> cases = {
        {"ReadId", BuildReadId(1, id), 1, sense},
        {"ReadSector", BuildReadSector(0x01020304, sector), 1, sense},
        {"ReadSpare", BuildReadSpare(0x40, spare), 1, sense},
        {"WriteSector", BuildWriteSector(0x40, sector), 0, sense},
        {"EraseBlock", BuildEraseBlock(0x100), 0, 0},
        {"SetWriteTag", BuildSetWriteTag(0), 0, sense},
        {"Format", BuildFormat(), 0, 0},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Left-over stack contents must not survive in the filler or the sense area.
        PassThroughRecord record;
        std::memset(&record, 0xAA, sizeof record);
        FillPassThroughRecord(c.command, &record);

        Bytes actual(sizeof record);
        std::memcpy(actual.data(), &record, sizeof record);
        EXPECT_EQ(actual, ExpectedRecord(c.command, c.dataIn, c.senseInfoOffset));
    }
}

TEST(PassThroughRecordTest, VolumePathAcceptsTheThreeDriveFormsOnly) {
    struct Case {
        std::string given;
        std::string expected;  // empty: refused
    };
    const std::vector<Case> cases = {
        {"E:", "\\\\.\\E:"},
        {"E", "\\\\.\\E:"},
        {"\\\\.\\E:", "\\\\.\\E:"},
        {"f:", "\\\\.\\F:"},
        {"\\\\.\\z:", "\\\\.\\Z:"},
        {"", ""},
        {"EF", ""},
        {"E:\\", ""},
        {"1:", ""},
        {"\\\\.\\E", ""},
        {"\\\\.\\PhysicalDrive1", ""},
        {"/dev/sdb", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VolumePathFor(c.given), c.expected) << "given \"" << c.given << "\"";
    }
}

}  // namespace
}  // namespace qdx
