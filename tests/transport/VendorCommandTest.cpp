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

    // clang-format off
    const std::vector<BuilderCase> cases = {
        {.name = "ReadId chip 0",                      .built = BuildReadId(0, id),                  .cdb = {0xC2, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0}, .direction = in,   .transferLength =   2, .buffer = id,      .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::ReadId,      .operand = 0},
        {.name = "ReadId chip 1",                      .built = BuildReadId(1, id),                  .cdb = {0xC2, 0x00, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0}, .direction = in,   .transferLength =   2, .buffer = id,      .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::ReadId,      .operand = 1},
        {.name = "ReadId chip above 255: low 8 bits",  .built = BuildReadId(0x1234, id),             .cdb = {0xC2, 0x00, 0x34, 0x00, 0x00, 0x00, 0, 0, 0, 0}, .direction = in,   .transferLength =   2, .buffer = id,      .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::ReadId,      .operand = 0x34},
        {.name = "ReadSector most significant first",  .built = BuildReadSector(0x01020304, sector), .cdb = {0xC2, 0x01, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0}, .direction = in,   .transferLength = 512, .buffer = sector,  .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::ReadSector,  .operand = 0x01020304},
        {.name = "ReadSector last sector number",      .built = BuildReadSector(0xFFFFFFFF, sector), .cdb = {0xC2, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, .direction = in,   .transferLength = 512, .buffer = sector,  .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::ReadSector,  .operand = 0xFFFFFFFF},
        {.name = "ReadSpare",                          .built = BuildReadSpare(0x00ABCDEF, spare),   .cdb = {0xC2, 0x02, 0x00, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0}, .direction = in,   .transferLength =  16, .buffer = spare,   .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::ReadSpare,   .operand = 0x00ABCDEF},
        {.name = "WriteSector",                        .built = BuildWriteSector(0x80000001, written), .cdb = {0xC2, 0x03, 0x80, 0x00, 0x00, 0x01, 0, 0, 0, 0}, .direction = out, .transferLength = 512, .buffer = written, .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::WriteSector, .operand = 0x80000001},
        {.name = "EraseBlock: no data, sense offset 0", .built = BuildEraseBlock(0x1F00),            .cdb = {0xC2, 0x05, 0x00, 0x00, 0x1F, 0x00, 0, 0, 0, 0}, .direction = none, .transferLength =   0, .buffer = nullptr, .timeoutSeconds =  10, .senseInfoOffset =  0, .sub = SubCommand::EraseBlock,  .operand = 0x1F00},
        {.name = "SetWriteTag 0",                      .built = BuildSetWriteTag(0),                 .cdb = {0xC2, 0x06, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0}, .direction = none, .transferLength =   0, .buffer = nullptr, .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::SetWriteTag, .operand = 0},
        {.name = "SetWriteTag big-endian 16 bits",     .built = BuildSetWriteTag(0xBEEF),            .cdb = {0xC2, 0x06, 0xBE, 0xEF, 0x00, 0x00, 0, 0, 0, 0}, .direction = none, .transferLength =   0, .buffer = nullptr, .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::SetWriteTag, .operand = 0xBEEF},
        {.name = "SetWriteTag above 0xFFFF: low 16 bits", .built = BuildSetWriteTag(0x12345678),     .cdb = {0xC2, 0x06, 0x56, 0x78, 0x00, 0x00, 0, 0, 0, 0}, .direction = none, .transferLength =   0, .buffer = nullptr, .timeoutSeconds =  10, .senseInfoOffset = 48, .sub = SubCommand::SetWriteTag, .operand = 0x5678},
        {.name = "Format waits 100 s, sense offset 0", .built = BuildFormat(),                       .cdb = {0xC2, 0x07, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0}, .direction = none, .transferLength =   0, .buffer = nullptr, .timeoutSeconds = 100, .senseInfoOffset =  0, .sub = SubCommand::Format,      .operand = 0},
    };
    // clang-format on

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
