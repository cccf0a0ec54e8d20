#include "cli/Reporter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "engine/CFlashEngine.h"

namespace qdx::cli {
namespace {

TEST(JsonString, EscapesWhatJsonRequiresAndPassesUtf8Through) {
    EXPECT_EQ(JsonString("状态：已完成"), "\"状态：已完成\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString("l1\nl2\r\t"), "\"l1\\nl2\\r\\t\"");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(JsonString(""), "\"\"");
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
