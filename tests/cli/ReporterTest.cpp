#include "cli/Reporter.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/TerminalText.h"
#include "engine/CFlashEngine.h"

namespace qdx::cli {
namespace {

using namespace std::chrono_literals;

// Texts reach the events as JSON strings: what JSON requires is escaped, UTF-8 passes through,
// and bytes that are not UTF-8 (a file name may hold any) become U+FFFD, so that every line
// stays valid JSON.
TEST(Reporter, EventTextsAreJsonStrings) {
    struct Case {
        std::string text;
        std::string written;  // between the quotes
        std::string readBack;
    };
    const std::string replacement = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"状态：已完成", "状态：已完成", "状态：已完成"},
        {"a\"b\\c/d", "a\\\"b\\\\c/d", "a\"b\\c/d"},
        {"l1\nl2\r\t\b\f", "l1\\nl2\\r\\t\\b\\f", "l1\nl2\r\t\b\f"},
        {std::string("\x01\x1f\0", 3), "\\u0001\\u001f\\u0000", std::string("\x01\x1f\0", 3)},
        {"\x7f", "\x7f", "\x7f"},  // DEL needs no escape in JSON
        {"", "", ""},
        {"p\xff.sim", "p" + replacement + ".sim", "p" + replacement + ".sim"},
        {"cut \xE7\x8A", "cut " + replacement, "cut " + replacement},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        Reporter reporter(out, ReportMode::Events);
        reporter.Ports(reporter.AddPlayer("p")).Show(c.text);
        EXPECT_EQ(out.str(), "{\"event\":\"message\",\"text\":\"" + c.written + "\"}\n") << c.text;
        const auto event = nlohmann::json::parse(out.str());
        EXPECT_EQ(event.at("text"), c.readBack) << c.text;
    }
    // A message about one file names it in a field of its own, with the same escaping, and says
    // why on the error stream.
    std::ostringstream out, err;
    Reporter reporter(out, ReportMode::Events, &err);
    reporter.Ports(reporter.AddPlayer("p"))
        .ShowForFile("File open error", "p\xff.uit", "no such file");
    EXPECT_EQ(out.str(), "{\"event\":\"message\",\"text\":\"File open error\",\"file\":\"p" +
                             replacement + ".uit\"}\n");
    EXPECT_EQ(err.str(), "qdxflash: p\xff.uit: no such file\n");
}

TEST(Reporter, EventsAreOneJsonObjectPerCallInOrder) {
    std::ostringstream out;
    Reporter reporter(out, ReportMode::Events);
    const int player = reporter.AddPlayer("p.sim");
    PlayerPorts& ports = reporter.Ports(player);
    ports.SetEnabled(false);  // the button has no event
    EXPECT_TRUE(ports.SetText(texts::kFormatting));
    EXPECT_TRUE(ports.SetPosition(1, 0));
    ports.Show("File \"x\" error");
    EXPECT_TRUE(ports.SetText(texts::kSendUit));
    EXPECT_TRUE(ports.SetPosition(142, 70));  // the engine's count passed on unclamped
    reporter.Finish(player, JobEnding::WriteFailed, 259u);
    EXPECT_EQ(out.str(),
              "{\"event\":\"status\",\"text\":\"状态：正在格式化…\"}\n"
              "{\"event\":\"progress\",\"value\":1,\"percent\":0}\n"
              "{\"event\":\"message\",\"text\":\"File \\\"x\\\" error\"}\n"
              "{\"event\":\"status\",\"text\":\"状态：正在传送UIT文件…\"}\n"
              "{\"event\":\"progress\",\"value\":142,\"percent\":70}\n"
              "{\"event\":\"end\",\"ending\":\"write-failed\",\"exitCode\":259}\n");

    std::ostringstream none;
    Reporter launchFailed(none, ReportMode::Events);
    launchFailed.Finish(launchFailed.AddPlayer("p.sim"), JobEnding::LaunchFailed, std::nullopt);
    EXPECT_EQ(none.str(), "{\"event\":\"end\",\"ending\":\"launch-failed\"}\n");
}

TEST(Reporter, SeveralPlayersAreNamedInEveryEventAndLine) {
    std::ostringstream events;
    Reporter reporter(events, ReportMode::Events);
    const int a = reporter.AddPlayer("a.sim");
    const int b = reporter.AddPlayer("/dev/sdb");
    reporter.NamePlayers(true);
    reporter.Ports(b).SetText(texts::kFormatting);
    reporter.Ports(a).SetPosition(12, 6);
    reporter.Ports(b).Show(texts::kReadBack);
    reporter.Finish(a, JobEnding::Completed, 0u);
    EXPECT_EQ(events.str(),
              "{\"event\":\"status\",\"player\":\"/dev/sdb\",\"text\":\"状态：正在格式化…\"}\n"
              "{\"event\":\"progress\",\"player\":\"a.sim\",\"value\":12,\"percent\":6}\n"
              "{\"event\":\"message\",\"player\":\"/dev/sdb\",\"text\":\"Read back error\"}\n"
              "{\"event\":\"end\",\"player\":\"a.sim\",\"ending\":\"completed\",\"exitCode\":0}\n");

    // Without a terminal: plain lines, one per change of the share, named by player.
    std::ostringstream plain;
    Reporter piped(plain, ReportMode::TerminalPlain);
    const int c = piped.AddPlayer("c.sim");
    const int d = piped.AddPlayer("d.sim");
    piped.NamePlayers(true);
    piped.Ports(c).SetText(texts::kCompleted);
    piped.Ports(d).SetPosition(3, 1);
    piped.Ports(d).SetPosition(4, 1);  // the same share: no line
    piped.Ports(d).SetPosition(0, 0);
    piped.Finish(c, JobEnding::LaunchFailed, std::nullopt);
    EXPECT_EQ(plain.str(),
              "[c.sim] 状态：已完成\n[d.sim] progress 1%\n[d.sim] progress 0%\n"
              "[c.sim] ending: launch-failed\n");
}

TEST(Reporter, LiveLinesAreRedrawnInPlaceWithMessagesAbove) {
    std::ostringstream live;
    {
        Reporter reporter(live, ReportMode::TerminalLive, nullptr, TerminalStyle{80, false});
        const int player = reporter.AddPlayer("p.sim");
        PlayerPorts& ports = reporter.Ports(player);
        ports.SetText(texts::kSendUit);
        ports.SetPosition(50, 50);
        ports.Show(texts::kReadBack);
        reporter.Finish(player, JobEnding::WriteFailed, 259u);
    }
    const std::string text = live.str();
    // The line is drawn, then moved up over and cleared for the message, then drawn again; the
    // last drawing keeps the phase with the ending, and the ending line goes below it.
    EXPECT_NE(text.find(std::string(texts::kSendUit) + "    [-"), std::string::npos) << text;
    EXPECT_NE(text.find("\x1b[1A\r\x1b[J[message] Read back error\n"), std::string::npos) << text;
    EXPECT_NE(text.find("]   50%"), std::string::npos) << text;
    const std::string last = std::string(texts::kSendUit) + "    write-failed  0:00\n" +
                             "ending: write-failed (worker exit code 259)\n";
    EXPECT_EQ(text.substr(text.size() - last.size()), last) << text;
}

TEST(RenderLiveLine, ShowsPhaseBarShareTimesAndFitsTheTerminal) {
    const auto start = std::chrono::steady_clock::time_point{};
    PlayerView player{"players/unit-07.sim", texts::kBackupFont, 25, start, std::nullopt, {}, ""};
    struct Case {
        int width;
        int nameColumns;
        bool color;
        std::vector<std::string> shows;
        bool bar;
    };
    const Case cases[] = {
        {100, 20, false, {"unit-07", texts::kBackupFont, " 25%", "0:10", "~0:30 left"}, true},
        {60, 0, false, {" 25%", "0:10", "~0:30 left"}, true},
        {40, 0, false, {" 25%", "0:10"}, false},  // narrow: the figures stay, the bar goes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        const std::string line =
            RenderLiveLine(player, c.nameColumns, c.width, c.color, start + 10s);
        EXPECT_LE(DisplayWidth(line), c.width) << line;
        for (const std::string& part : c.shows) {
            EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
        }
        EXPECT_EQ(line.find("[#") != std::string::npos, c.bar) << line;
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << "no colour asked for";
    }
    player.ending = JobEnding::Completed;
    player.end = start + 12s;  // the time stops with the ending
    const std::string done = RenderLiveLine(player, 0, 80, true, start + 20s);
    EXPECT_NE(done.find("\x1b[32mcompleted\x1b[0m"), std::string::npos) << done;
    player.ending = JobEnding::WriteFailed;
    EXPECT_NE(RenderLiveLine(player, 0, 80, false, start + 20s).find("write-failed  0:12"),
              std::string::npos);
}

TEST(TerminalText, WidthsOfWideTextAndCutsThatKeepCharactersWhole) {
    EXPECT_EQ(DisplayWidth("abc"), 3);
    EXPECT_EQ(DisplayWidth("状态：已完成"), 12);
    EXPECT_EQ(DisplayWidth("\xff"), 1);  // not UTF-8: one column, never a crash
    EXPECT_EQ(FitToWidth("状态：已完成", 5, false), "状态");  // never half a character
    EXPECT_EQ(FitToWidth("ab", 5, true), "ab   ");
    EXPECT_EQ(FormatDuration(65s), "1:05");
    EXPECT_EQ(FormatDuration(3723s), "1:02:03");
}

}  // namespace
}  // namespace qdx::cli
