// The options of sim serve.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CommandLine.h"

namespace qdx::cli {
namespace {

ParseResult Parse(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return ParseCommandLine(words);
}

TEST(ParseSimServe, TakesThePlayerVolumeFaultsAndUsbIdentity) {
    ParseResult result = Parse(
        "sim serve p.sim --volume fat.img --fault unplug-after=9 --fault fail-command=3 "
        "--trace t.txt --latency-us 50 --vendor-id 0xABCD --product-id 12ef --serial S1 "
        "--udc dummy_udc.0");
    ASSERT_TRUE(result.command) << result.error;
    const CliCommand& c = *result.command;
    EXPECT_EQ(c.kind, CommandKind::SimServe);
    EXPECT_EQ(c.playerPath, "p.sim");
    EXPECT_EQ(c.volumePath, "fat.img");
    EXPECT_EQ(c.faults, (std::vector<std::string>{"unplug-after=9", "fail-command=3"}));
    EXPECT_EQ(c.tracePath, "t.txt");
    EXPECT_EQ(c.latencyMicros, 50u);
    EXPECT_EQ(c.usbVendorId, 0xABCD);
    EXPECT_EQ(c.usbProductId, 0x12EF);
    EXPECT_EQ(c.usbSerial, "S1");
    EXPECT_EQ(c.udcName, "dummy_udc.0");

    result = Parse("sim serve p.sim");
    ASSERT_TRUE(result.command) << result.error;
    EXPECT_EQ(result.command->usbVendorId, 0x1D6B);
    EXPECT_EQ(result.command->usbProductId, 0x0104);
    EXPECT_TRUE(result.command->volumePath.empty());
}

TEST(ParseSimServe, RejectsWhatCannotBeServed) {
    const char* const cases[][2] = {
        {"sim serve", "one PLAYER"},
        {"sim serve a b", "one PLAYER"},
        {"sim serve p --vendor-id 12345", "4 hex digits"},
        {"sim serve p --product-id xyz", "4 hex digits"},
        {"sim serve p --latency-us -1", "--latency-us"},
        {"sim serve p --blocks 1-2", "unknown option --blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        ParseResult result = Parse(c[0]);
        EXPECT_FALSE(result.command);
        EXPECT_NE(result.error.find(c[1]), std::string::npos) << result.error;
    }
    EXPECT_NE(UsageText("sim serve").find("--volume IMAGE"), std::string::npos);
}

}  // namespace
}  // namespace qdx::cli
