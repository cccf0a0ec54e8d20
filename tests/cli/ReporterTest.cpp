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
        EXPECT_TRUE(reporter.MessageShown(c.text));  // the job's own record keeps the bytes
    }
}

TEST(DeriveEnding, FromLaunchWorkerAndStatuses) {
    struct Case {
        const char* why;
        JobObservation job;
        Ending expected;
    };
    auto started = [](std::uint32_t code, std::string last, bool image, bool initMessage) {
        return JobObservation{LaunchOutcome::Started, code, std::move(last), image, initMessage};
    };
    const Case cases[] = {
        {"completed", started(0, texts::kCompleted, true, false), Ending::Completed},
        {"nothing written still completes", started(0, texts::kCompleted, false, false),
         Ending::Completed},
        {"format ended the worker", started(259, texts::kFailed, false, false),
         Ending::FormatFailed},
        {"writer ended the worker", started(259, texts::kFailed, true, false), Ending::WriteFailed},
        {"renewed identification failed", started(0, texts::kFailed, false, true),
         Ending::InitFailed},
        {"open failed",
         {LaunchOutcome::OpenFailed, std::nullopt, "", false, false},
         Ending::LaunchFailed},
        {"chip not identified at launch",
         {LaunchOutcome::InitFailed, std::nullopt, texts::kFailed, false, false},
         Ending::LaunchFailed},
        {"worker could not start",
         {LaunchOutcome::ThreadFailed, std::nullopt, "", false, false},
         Ending::LaunchFailed},
        {"previous worker busy",
         {LaunchOutcome::WorkerBusy, std::nullopt, "", false, false},
         Ending::LaunchFailed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeriveEnding(c.job), c.expected) << c.why;
    }
    EXPECT_STREQ(EndingName(Ending::FormatFailed), "format-failed");
    EXPECT_STREQ(EndingName(Ending::LaunchFailed), "launch-failed");
}

TEST(Reporter, EventsAreOneJsonObjectPerCallInOrder) {
    std::ostringstream out;
    Reporter reporter(out, ReportMode::Events);
    reporter.SetEnabled(false);  // the button has no event
    EXPECT_TRUE(reporter.SetText(texts::kFormatting));
    EXPECT_TRUE(reporter.SetPosition(1));
    reporter.Show("File \"x\" error");
    EXPECT_TRUE(reporter.SetText(texts::kSendUit));
    EXPECT_TRUE(reporter.SetPosition(142));  // passed on unclamped
    reporter.Finish(Ending::WriteFailed, 259u);
    EXPECT_EQ(out.str(),
              "{\"event\":\"status\",\"text\":\"状态：正在格式化…\"}\n"
              "{\"event\":\"progress\",\"value\":1}\n"
              "{\"event\":\"message\",\"text\":\"File \\\"x\\\" error\"}\n"
              "{\"event\":\"status\",\"text\":\"状态：正在传送UIT文件…\"}\n"
              "{\"event\":\"progress\",\"value\":142}\n"
              "{\"event\":\"end\",\"ending\":\"write-failed\",\"exitCode\":259}\n");
    EXPECT_EQ(reporter.LastStatus(), texts::kSendUit);
    EXPECT_TRUE(reporter.ImageStageReached());
    EXPECT_TRUE(reporter.MessageShown("File \"x\" error"));
    EXPECT_FALSE(reporter.MessageShown(texts::kInitFailed));
}

TEST(Reporter, EndWithoutWorkerHasNoExitCode) {
    std::ostringstream out;
    Reporter reporter(out, ReportMode::Events);
    reporter.Finish(Ending::LaunchFailed, std::nullopt);
    EXPECT_EQ(out.str(), "{\"event\":\"end\",\"ending\":\"launch-failed\"}\n");
}

TEST(Reporter, TerminalKeepsTheBarOnOneLineAndBreaksItForText) {
    std::ostringstream live;
    Reporter reporter(live, ReportMode::TerminalLive);
    reporter.SetText(texts::kFormatting);
    reporter.SetPosition(50);
    reporter.SetPosition(150);  // the bar is full; the figure stays as given
    reporter.Show(texts::kReadBack);
    reporter.Finish(Ending::Completed, 0u);
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
    piped.SetPosition(0);
    piped.Finish(Ending::LaunchFailed, std::nullopt);
    EXPECT_EQ(plain.str(), "状态：已完成\nprogress 0\nending: launch-failed\n");
}

}  // namespace
}  // namespace qdx::cli
