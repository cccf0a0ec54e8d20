// The bulk-only transport's device side: CBW and CSW records, and each kind of command carried
// from its CBW through the data phase to its CSW, over recorded pipes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "sim/usb/BulkOnly.h"

namespace qdx::sim::usb {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

Bytes MakeCbw(std::uint32_t tag, std::uint32_t length, bool in, const Bytes& cb,
              std::uint8_t lun = 0) {
    Bytes bytes(kCbwBytes, 0);
    const std::uint32_t words[] = {kCbwSignature, tag, length};
    for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 4; ++i) {
            bytes[4 * w + i] = static_cast<std::uint8_t>(words[w] >> (8 * i));
        }
    }
    bytes[12] = in ? 0x80 : 0x00;
    bytes[13] = lun;
    bytes[14] = static_cast<std::uint8_t>(cb.size());
    std::copy(cb.begin(), cb.end(), bytes.begin() + 15);
    return bytes;
}

TEST(Cbw, ValidWrapperIsParsedAndMalformedOnesAreRejected) {
    const Bytes cb = {0xC2, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0};
    const Bytes good = MakeCbw(0x11223344, 2, true, cb);
    auto parsed = ParseCbw(good.data(), good.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->tag, 0x11223344u);
    EXPECT_EQ(parsed->dataLength, 2u);
    EXPECT_TRUE(parsed->dataIn);
    EXPECT_EQ(parsed->cbLength, 10);
    EXPECT_TRUE(std::equal(cb.begin(), cb.end(), parsed->cb.begin()));

    struct Case {
        const char* name;
        std::size_t index;
        std::uint8_t value;
    };
    const std::vector<Case> spoiled = {
        {"signature", 0, 0x54},          {"reserved flag bits", 12, 0x81},
        {"command length 0", 14, 0},     {"command length 17", 14, 17},
        {"LUN reserved bits", 13, 0x10},
    };
    for (const Case& c : spoiled) {
        SCOPED_TRACE(c.name);
        Bytes bad = good;
        bad[c.index] = c.value;
        EXPECT_FALSE(ParseCbw(bad.data(), bad.size()));
    }
    EXPECT_FALSE(ParseCbw(good.data(), good.size() - 1));
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ParseCbw(longer.data(), longer.size()));
}

TEST(Csw, LayoutIsSignatureTagResidueStatusLittleEndian) {
    EXPECT_THAT(
        BuildCsw(0x01020304, 0x200, CswStatus::Failed),
        ElementsAre(0x55, 0x53, 0x42, 0x53, 0x04, 0x03, 0x02, 0x01, 0x00, 0x02, 0x00, 0x00, 0x01));
}

// What the host sends and what it sees, in order: data sent by the device, halts and CSWs.
class RecordingPipes final : public IBulkPipes {
public:
    std::deque<Bytes> fromHost;  // each one transfer; when empty, the bus is gone
    std::vector<std::string> events;
    Bytes dataIn;
    Bytes csw;

    long Receive(std::uint8_t* data, std::size_t count) override {
        if (fromHost.empty()) {
            return -1;
        }
        Bytes transfer = fromHost.front();
        fromHost.pop_front();
        const std::size_t bytes = std::min(count, transfer.size());
        std::copy(transfer.begin(), transfer.begin() + bytes, data);
        return static_cast<long>(bytes);
    }
    bool Send(const std::uint8_t* data, std::size_t count) override {
        if (count == kCswBytes && data[0] == 0x55 && data[1] == 0x53) {
            csw.assign(data, data + count);
            events.push_back("csw");
        } else {
            dataIn.insert(dataIn.end(), data, data + count);
            events.push_back("data " + std::to_string(count));
        }
        return true;
    }
    void HaltIn() override { events.push_back("halt in"); }
    void HaltOut() override { events.push_back("halt out"); }
};

// Answers with a fixed outcome; records what it was given.
class ScriptedTarget final : public IScsiTarget {
public:
    ScsiOutcome outcome;
    Bytes reply;
    Bytes received;
    DataPhase phase = DataPhase::None;
    std::uint32_t length = 0;

    ScsiOutcome Execute(const std::uint8_t*, std::size_t, DataPhase p, std::uint8_t* data,
                        std::uint32_t l) override {
        phase = p;
        length = l;
        if (p == DataPhase::Out) {
            received.assign(data, data + l);
        }
        std::copy(reply.begin(), reply.begin() + std::min<std::size_t>(reply.size(), l), data);
        return outcome;
    }
};

std::uint32_t Residue(const Bytes& csw) {
    return csw[8] | csw[9] << 8 | csw[10] << 16 | static_cast<std::uint32_t>(csw[11]) << 24;
}

TEST(BulkOnlyServer, EachOutcomeEndsInItsDataHaltsAndStatus) {
    using Kind = ScsiOutcome::Kind;
    struct Case {
        const char* name;
        bool in;
        std::uint32_t length;
        ScsiOutcome outcome;
        std::vector<std::string> events;
        std::uint8_t status;
        std::uint32_t residue;
    };
    const std::vector<Case> cases = {
        {"no data, good", false, 0, {Kind::Good, 0}, {"csw"}, 0, 0},
        {"data-in, all sent", true, 512, {Kind::Good, 512}, {"data 512", "csw"}, 0, 0},
        {"data-in refused: nothing sent, the pipe stalls",
         true,
         2,
         {Kind::CheckCondition, 0},
         {"halt in", "csw"},
         1,
         2},
        {"data-in short: the short packet ends it",
         true,
         255,
         {Kind::Good, 36},
         {"data 36", "csw"},
         0,
         219},
        {"data-in short on a packet boundary: stalls",
         true,
         512,
         {Kind::Good, 128},
         {"data 128", "halt in", "csw"},
         0,
         384},
        {"data-in not carried: phase error",
         true,
         16,
         {Kind::NotCarried, 0},
         {"halt in", "csw"},
         2,
         16},
        {"data-out not carried: phase error", false, 512, {Kind::NotCarried, 0}, {"csw"}, 2, 512},
        {"data-out refused", false, 512, {Kind::CheckCondition, 0}, {"csw"}, 1, 512},
        {"unplugged: no status at all", true, 2, {Kind::Unplugged, 0}, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPipes pipes;
        ScriptedTarget target;
        target.outcome = c.outcome;
        target.reply = Bytes(512, 0xA5);
        pipes.fromHost.push_back(MakeCbw(7, c.length, c.in, {0xC2, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
        if (!c.in && c.length > 0) {
            pipes.fromHost.push_back(Bytes(c.length, 0x3C));
        }
        BulkOnlyServer server(pipes, target);
        const auto result = server.ServeOne();
        EXPECT_EQ(result, c.outcome.kind == Kind::Unplugged ? BulkOnlyServer::Result::Unplug
                                                            : BulkOnlyServer::Result::Served);
        EXPECT_EQ(pipes.events, c.events);
        if (c.outcome.kind != Kind::Unplugged) {
            ASSERT_EQ(pipes.csw.size(), kCswBytes);
            EXPECT_EQ(pipes.csw[4], 7) << "the CSW carries the CBW's tag";
            EXPECT_EQ(pipes.csw[12], c.status);
            EXPECT_EQ(Residue(pipes.csw), c.residue);
        }
        EXPECT_EQ(target.length, c.length);
        if (!c.in && c.length > 0) {
            EXPECT_EQ(target.received, Bytes(c.length, 0x3C)) << "data-out reaches the target";
        }
    }
}

TEST(BulkOnlyServer, DataOutArrivingInPiecesIsCollectedWhole) {
    RecordingPipes pipes;
    ScriptedTarget target;
    target.outcome = {ScsiOutcome::Kind::Good, 1024};
    pipes.fromHost = {MakeCbw(1, 1024, false, {0x2A, 0, 0, 0, 0, 0, 0, 0, 2, 0}), Bytes(512, 1),
                      Bytes(512, 2)};
    BulkOnlyServer server(pipes, target);
    EXPECT_EQ(server.ServeOne(), BulkOnlyServer::Result::Served);
    ASSERT_EQ(target.received.size(), 1024u);
    EXPECT_EQ(target.received[511], 1);
    EXPECT_EQ(target.received[512], 2);
    EXPECT_EQ(pipes.csw[12], 0);
}

TEST(BulkOnlyServer, MalformedOrUnservableWrappersNeverReachTheTarget) {
    struct Case {
        const char* name;
        Bytes cbw;
        std::vector<std::string> events;
    };
    Bytes noSignature = MakeCbw(1, 0, false, {0});
    noSignature[0] = 0;
    const std::vector<Case> cases = {
        {"invalid CBW: both pipes stall until reset", noSignature, {"halt in", "halt out"}},
        {"data phase too large", MakeCbw(1, 4u << 20, true, {0x28}), {"halt in", "csw"}},
        {"second LUN", MakeCbw(1, 0, false, {0}, 1), {"csw"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPipes pipes;
        ScriptedTarget target;
        target.length = 0xDEAD;
        pipes.fromHost.push_back(c.cbw);
        BulkOnlyServer server(pipes, target);
        EXPECT_EQ(server.ServeOne(), BulkOnlyServer::Result::Served);
        EXPECT_EQ(pipes.events, c.events);
        EXPECT_EQ(target.length, 0xDEADu);
        if (!pipes.csw.empty()) {
            EXPECT_EQ(pipes.csw[12], 2);
        }
    }
    RecordingPipes gone;
    ScriptedTarget target;
    BulkOnlyServer server(gone, target);
    EXPECT_EQ(server.ServeOne(), BulkOnlyServer::Result::BusGone);
}

}  // namespace
}  // namespace qdx::sim::usb
