#include "cli/Reporter.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/CFlashEngine.h"

namespace qdx::cli {
namespace {

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
        reporter.Show(c.text);
        EXPECT_EQ(out.str(), "{\"event\":\"message\",\"text\":\"" + c.written + "\"}\n") << c.text;
        const auto event = nlohmann::json::parse(out.str());
        EXPECT_EQ(event.at("text"), c.readBack) << c.text;
    }
    // A message about one file names it in a field of its own, with the same escaping, and says
    // why on the error stream.
    std::ostringstream out, err;
    Reporter reporter(out, ReportMode::Events, &err);
    reporter.ShowForFile("File open error", "p\xff.uit", "no such file");
    EXPECT_EQ(out.str(), "{\"event\":\"message\",\"text\":\"File open error\",\"file\":\"p" +
                             replacement + ".uit\"}\n");
    EXPECT_EQ(err.str(), "qdxflash: p\xff.uit: no such file\n");
}

TEST(Reporter, EventsAreOneJsonObjectPerCallInOrder) {
    std::ostringstream out;
    Reporter reporter(out, ReportMode::Events);
    reporter.SetEnabled(false);  // the button has no event
    EXPECT_TRUE(reporter.SetText(texts::kFormatting));
    EXPECT_TRUE(reporter.SetPosition(1, 0));
    reporter.Show("File \"x\" error");
    EXPECT_TRUE(reporter.SetText(texts::kSendUit));
    EXPECT_TRUE(reporter.SetPosition(142, 70));  // the engine's count passed on unclamped
    reporter.Finish(JobEnding::WriteFailed, 259u);
    EXPECT_EQ(out.str(),
              "{\"event\":\"status\",\"text\":\"状态：正在格式化…\"}\n"
              "{\"event\":\"progress\",\"value\":1,\"percent\":0}\n"
              "{\"event\":\"message\",\"text\":\"File \\\"x\\\" error\"}\n"
              "{\"event\":\"status\",\"text\":\"状态：正在传送UIT文件…\"}\n"
              "{\"event\":\"progress\",\"value\":142,\"percent\":70}\n"
              "{\"event\":\"end\",\"ending\":\"write-failed\",\"exitCode\":259}\n");
}

TEST(Reporter, EndWithoutWorkerHasNoExitCode) {
    std::ostringstream out;
    Reporter reporter(out, ReportMode::Events);
    reporter.Finish(JobEnding::LaunchFailed, std::nullopt);
    EXPECT_EQ(out.str(), "{\"event\":\"end\",\"ending\":\"launch-failed\"}\n");
}

TEST(Reporter, TerminalKeepsTheBarOnOneLineAndBreaksItForText) {
    std::ostringstream live;
    Reporter reporter(live, ReportMode::TerminalLive);
    reporter.SetText(texts::kFormatting);
    reporter.SetPosition(50, 50);
    reporter.SetPosition(150, 100);  // the bar is full; the figure stays as given
    reporter.Show(texts::kReadBack);
    reporter.Finish(JobEnding::Completed, 0u);
    const std::string text = live.str();
    const std::string half = "\r[" + std::string(20, '#') + std::string(20, ' ') + "] 50";
    const std::string full = "\r[" + std::string(40, '#') + "] 150";
    EXPECT_NE(text.find(half), std::string::npos) << text;
    EXPECT_NE(text.find(full), std::string::npos) << text;
    EXPECT_NE(text.find("   \n[message] Read back error\n"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("ending: completed (worker exit code 0)\n"),
              text.size() - std::string("ending: completed (worker exit code 0)\n").size());

    std::ostringstream plain;
    Reporter piped(plain, ReportMode::TerminalPlain);
    piped.SetText(texts::kCompleted);
    piped.SetPosition(0, 0);
    piped.Finish(JobEnding::LaunchFailed, std::nullopt);
    EXPECT_EQ(plain.str(), "状态：已完成\nprogress 0\nending: launch-failed\n");
}

}  // namespace
}  // namespace qdx::cli
