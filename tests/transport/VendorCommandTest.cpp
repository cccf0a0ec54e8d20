// Every builder against the controller's wire format: a wrong byte, direction, length, buffer,
// time-out or sense offset here reaches the player unnoticed, since callers mostly ignore results.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/VendorCommand.h"

namespace qdx {
namespace {

using Cdb = std::array<std::uint8_t, kCdbLength>;

struct BuilderCase {
    std::string name;
    CommandDescription built;
    Cdb cdb;
    DataDirection direction;
    std::uint32_t transferLength;
    const void* buffer;
    std::uint32_t timeoutSeconds;
    std::uint32_t senseInfoOffset;
    SubCommand sub;
    std::uint32_t operand;  // what a command trace shows: sector, chip or tag value; 0 for format
};

TEST(VendorCommandTest, EveryBuilderProducesTheWireFormatByteForByte) {
    std::uint8_t id[kIdBytes];
    std::uint8_t sector[kSectorBytes];
    std::uint8_t spare[kSpareBytes];
    const std::uint8_t written[kSectorBytes] = {};
    const auto in = DataDirection::FromDevice;
    const auto out = DataDirection::ToDevice;
    const auto none = DataDirection::None;

    const std::vector<BuilderCase> cases = {
        {"ReadId chip 0",
         BuildReadId(0, id),
         {0xC2, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},
         in,
         2,
         id,
         10,
         48,
         SubCommand::ReadId,
         0},
        {"ReadId chip 1",
         BuildReadId(1, id),
         {0xC2, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0},
         in,
         2,
         id,
         10,
         48,
         SubCommand::ReadId,
         1},
        {"ReadId chip above 255 sends its low 8 bits",
         BuildReadId(0x1234, id),
         {0xC2, 0x00, 0x34, 0, 0, 0, 0, 0, 0, 0},
         in,
         2,
         id,
         10,
         48,
         SubCommand::ReadId,
         0x34},
        {"ReadSector most significant byte first",
         BuildReadSector(0x01020304, sector),
         {0xC2, 0x01, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0},
         in,
         512,
         sector,
         10,
         48,
         SubCommand::ReadSector,
         0x01020304},
        {"ReadSector last sector number",
         BuildReadSector(0xFFFFFFFF, sector),
         {0xC2, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         in,
         512,
         sector,
         10,
         48,
         SubCommand::ReadSector,
         0xFFFFFFFF},
        {"ReadSpare",
         BuildReadSpare(0x00ABCDEF, spare),
         {0xC2, 0x02, 0x00, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0},
         in,
         16,
         spare,
         10,
         48,
         SubCommand::ReadSpare,
         0x00ABCDEF},
        {"WriteSector",
         BuildWriteSector(0x80000001, written),
         {0xC2, 0x03, 0x80, 0x00, 0x00, 0x01, 0, 0, 0, 0},
         out,
         512,
         written,
         10,
         48,
         SubCommand::WriteSector,
         0x80000001},
        {"EraseBlock has no data and sense offset 0",
         BuildEraseBlock(0x1F00),
         {0xC2, 0x05, 0x00, 0x00, 0x1F, 0x00, 0, 0, 0, 0},
         none,
         0,
         nullptr,
         10,
         0,
         SubCommand::EraseBlock,
         0x1F00},
        {"SetWriteTag 0",
         BuildSetWriteTag(0),
         {0xC2, 0x06, 0, 0, 0, 0, 0, 0, 0, 0},
         none,
         0,
         nullptr,
         10,
         48,
         SubCommand::SetWriteTag,
         0},
        {"SetWriteTag big-endian 16 bits",
         BuildSetWriteTag(0xBEEF),
         {0xC2, 0x06, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0},
         none,
         0,
         nullptr,
         10,
         48,
         SubCommand::SetWriteTag,
         0xBEEF},
        {"SetWriteTag above 0xFFFF sends its low 16 bits",
         BuildSetWriteTag(0x12345678),
         {0xC2, 0x06, 0x56, 0x78, 0, 0, 0, 0, 0, 0},
         none,
         0,
         nullptr,
         10,
         48,
         SubCommand::SetWriteTag,
         0x5678},
        {"Format waits 100 s, sense offset 0",
         BuildFormat(),
         {0xC2, 0x07, 0, 0, 0, 0, 0, 0, 0, 0},
         none,
         0,
         nullptr,
         100,
         0,
         SubCommand::Format,
         0},
    };

    for (const BuilderCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.built.cdb, c.cdb);
        EXPECT_EQ(c.built.direction, c.direction);
        EXPECT_EQ(c.built.transferLength, c.transferLength);
        EXPECT_EQ(c.built.buffer, c.buffer);
        EXPECT_EQ(c.built.timeoutSeconds, c.timeoutSeconds);
        EXPECT_EQ(c.built.senseInfoOffset, c.senseInfoOffset);
        EXPECT_EQ(c.built.Sub(), c.sub);
        EXPECT_EQ(c.built.Operand(), c.operand);
    }
}

TEST(VendorCommandTest, BigEndianHelpersRoundTripAndPutMostSignificantFirst) {
    std::uint8_t bytes[4] = {};
    PutBigEndian32(bytes, 0xA1B2C3D4);
    EXPECT_EQ(bytes[0], 0xA1);
    EXPECT_EQ(bytes[3], 0xD4);
    EXPECT_EQ(GetBigEndian32(bytes), 0xA1B2C3D4u);

    PutBigEndian16(bytes, 0x80FF);
    EXPECT_EQ(bytes[0], 0x80);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(GetBigEndian16(bytes), 0x80FF);
}

}  // namespace
}  // namespace qdx
