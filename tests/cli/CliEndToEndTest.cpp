// Drives the built qdxflash through its command line, as scripts and production lines do.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/cli/ToolFixture.h"

namespace {

namespace fs = std::filesystem;

using qdx::test::Lines;
using qdx::test::ReadText;
using qdx::test::ToolRun;

class QdxflashTest : public qdx::test::ToolFixture {
protected:
    std::string CreatePlayer(const std::string& options) const {
        const std::string player = Path("player.sim");
        ToolRun run = Qdxflash("sim create \"" + player + "\" " + options + " --force");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return player;
    }

    std::string DownloadArgs(const std::string& player) const {
        return "download --sim \"" + player +
               "\" --uit \"" QDX_SAMPLES_DIR "/player.uit\" --hzk \"" QDX_SAMPLES_DIR "/font.hzk\"";
    }
};

TEST_F(QdxflashTest, InfoFindsTheKernelBlockBehindFactoryBadBlocks) {
    const std::string player = CreatePlayer("--chip 0x73 --bad 0,5");
    ToolRun info = Qdxflash("info --sim \"" + player + "\"");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    // Blocks 0 and 5 are bad: the second good block is 2.
    EXPECT_TRUE(std::regex_search(info.out, std::regex("kernel block:\\s+2\\n"))) << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("bad blocks:\\s+0 5 "))) << info.out;
    EXPECT_NE(info.out.find("0x73"), std::string::npos);
    EXPECT_NE(info.out.find("1024 blocks, 32 sectors per block, 16 MB"), std::string::npos)
        << info.out;
}

TEST_F(QdxflashTest, DownloadOfTheSamplesCompletesWithEventsInOrder) {
    const std::string player = CreatePlayer("--chip 0x73 --bad 0,5");
    ToolRun run =
        Qdxflash(DownloadArgs(player) + " --events --trace \"" + Path("trace.txt") + "\"");
    ASSERT_EQ(run.exitCode, 0) << run.err << run.out;

    const std::regex status("\\{\"event\":\"status\",\"text\":\"(.*)\"\\}");
    const std::regex progress(
        "\\{\"event\":\"progress\",\"value\":(-?[0-9]+),\"percent\":([0-9]+)\\}");
    std::vector<std::string> statuses;
    std::vector<int> positions;
    std::vector<int> percents;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, status)) {
            statuses.push_back(match[1]);
        } else if (std::regex_match(lines[i], match, progress)) {
            positions.push_back(std::stoi(match[1]));
            percents.push_back(std::stoi(match[2]));
        } else {
            ADD_FAILURE() << "unexpected line " << i << ": " << lines[i];
        }
    }
    EXPECT_EQ(lines.back(), "{\"event\":\"end\",\"ending\":\"completed\",\"exitCode\":0}");

    const std::string verify = "状态：正在校验…";
    const std::vector<std::string> expected = {"状态：正在格式化…",
                                               "状态：正在传送IMPM文件…",
                                               verify,
                                               "状态：正在备份IMPM文件…",
                                               verify,
                                               "状态：正在传送UIT文件…",
                                               verify,
                                               "状态：正在备份UIT文件…",
                                               verify,
                                               "状态：正在传送Font文件…",
                                               verify,
                                               "状态：正在备份Font文件…",
                                               verify,
                                               "状态：已完成"};
    EXPECT_EQ(statuses, expected);
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(positions.front(), 1);  // the format step's report
    EXPECT_EQ(positions[positions.size() - 2], 100);
    EXPECT_EQ(positions.back(), 0);
    // The share shown rises to 100 only when the last copy is verified: the engine's count passes
    // 100 long before that.
    EXPECT_GT(*std::max_element(positions.begin(), positions.end() - 2), 100);
    for (std::size_t i = 1; i + 2 < percents.size(); ++i) {
        EXPECT_LE(percents[i - 1], percents[i]) << "the share never goes back during the job";
        EXPECT_LT(percents[i - 1], 100) << "full before the last copy was verified";
    }
    EXPECT_EQ(percents[percents.size() - 3], 100);  // the last verify
    EXPECT_EQ(percents[percents.size() - 2], 100);  // the ending's full bar
    EXPECT_EQ(percents.back(), 0);

    // The trace holds one "SUB ARGUMENT" line per command, starting with the chip's ID read.
    std::vector<std::string> trace = Lines(ReadText(Path("trace.txt")));
    ASSERT_GT(trace.size(), 1000u);
    EXPECT_EQ(trace.front(), "0 0");
    for (const std::string& line : trace) {
        ASSERT_TRUE(std::regex_match(line, std::regex("[0-7] [0-9]+"))) << line;
    }

    // The player file was saved: the UIT payload's first sector is now in the raw flash.
    ASSERT_EQ(Qdxflash("sim export \"" + player + "\" \"" + Path("raw") + "\"").exitCode, 0);
    const std::string raw = ReadText(Path("raw"));
    const std::string uitFirstSector = ReadText(QDX_SAMPLES_DIR "/player.uit").substr(512, 512);
    EXPECT_NE(raw.find(uitFirstSector), std::string::npos);
}

TEST_F(QdxflashTest, TerminalOutputWithoutATerminalIsPlainLines) {
    const std::string player = CreatePlayer("--chip 0xF1");
    ToolRun run = Qdxflash(DownloadArgs(player));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no terminal codes into a pipe";
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "状态：正在格式化…");
    // The share done, never more than 100%, one line per change of it.
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 4], "progress 100%");
    EXPECT_EQ(lines[lines.size() - 3], "状态：已完成");
    EXPECT_EQ(lines[lines.size() - 2], "progress 0%");
    EXPECT_EQ(lines.back(), "ending: completed (worker exit code 0)");
}

TEST_F(QdxflashTest, FailedJobsEndAsTheyFailedAndStillSaveThePlayer) {
    std::ofstream(Path("wrong-key.uit"), std::ios::binary) << std::string(1024, 'x');
    struct Case {
        const char* why;
        std::string extra;
        std::string end;
        std::string message;  // a message event that must appear; empty for none
    };
    const std::vector<Case> cases = {
        {"format fails", "--fault format-fails",
         "{\"event\":\"end\",\"ending\":\"format-failed\",\"exitCode\":259}", ""},
        {"a sector does not take", "--fault weak-sector=200",
         "{\"event\":\"end\",\"ending\":\"write-failed\",\"exitCode\":259}", "Read back error"},
        {"chip not identified at launch", "--fault fail=0@0",
         "{\"event\":\"end\",\"ending\":\"launch-failed\"}", "请确认是否为本公司的MP3！"},
        {"IM/PM file missing", "--impm \"" + Path("absent.bin") + "\"",
         "{\"event\":\"end\",\"ending\":\"write-failed\",\"exitCode\":259}", "File open error"},
    };
    for (const Case& c : cases) {
        const std::string player = CreatePlayer("--chip 0x73");
        ToolRun run = Qdxflash(DownloadArgs(player) + " --events " + c.extra);
        EXPECT_EQ(run.exitCode, 1) << c.why << "\n" << run.err;
        std::vector<std::string> lines = Lines(run.out);
        ASSERT_FALSE(lines.empty()) << c.why;
        EXPECT_EQ(lines.back(), c.end) << c.why;
        if (!c.message.empty()) {
            EXPECT_NE(run.out.find("{\"event\":\"message\",\"text\":\"" + c.message + "\""),
                      std::string::npos)
                << c.why << "\n"
                << run.out;
        }
        if (c.extra.find("weak-sector") != std::string::npos) {
            // The job wrote part of the IM/PM copy before it failed; the saved player keeps it.
            ASSERT_EQ(Qdxflash("sim export \"" + player + "\" \"" + Path("raw") + "\"").exitCode,
                      0);
            const std::string impmFirstSector = ReadText(QDX_IMPM_IMAGE_PATH).substr(512, 512);
            EXPECT_NE(ReadText(Path("raw")).find(impmFirstSector), std::string::npos);
        }
    }

    const std::string player = CreatePlayer("--chip 0x73");
    ToolRun wrongKey =
        Qdxflash("download --sim \"" + player + "\" --uit \"" + Path("wrong-key.uit") +
                 "\" --hzk \"" QDX_SAMPLES_DIR "/font.hzk\" --events");
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_NE(wrongKey.out.find("File Key error"), std::string::npos) << wrongKey.out;
}

TEST_F(QdxflashTest, UnusableInputsAreUsageErrors) {
    const std::string player = CreatePlayer("--chip 0x73");
    std::ofstream(Path("truncated.sim"), std::ios::binary) << ReadText(player).substr(0, 100);
    const std::vector<std::string> cases = {
        "sim create \"" + Path("x.sim") + "\" --chip 0x12",
        "sim create \"" + Path("x.sim") + "\" --chip 0x73 --bad 1024",
        "info --sim \"" + Path("truncated.sim") + "\"",
        "info --sim \"" + Path("absent.sim") + "\"",
        DownloadArgs(Path("truncated.sim")),
        DownloadArgs(player) + " --fault explode",
        "sim export \"" + player + "\" \"" + Path("raw") + "\" --blocks 0-1024",
        "download --sim \"" + player + "\"",
        "frobnicate",
    };
    for (const std::string& args : cases) {
        ToolRun run = Qdxflash(args);
        EXPECT_EQ(run.exitCode, 2) << args << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << args;
    }
    EXPECT_FALSE(fs::exists(Path("x.sim")));
}

TEST_F(QdxflashTest, ANonRemovableDeviceIsRefusedAsAnOpenFailure) {
    ToolRun run =
        Qdxflash("download --device /dev/null --uit a.uit --hzk b.hzk --events --impm \"" +
                 std::string(QDX_IMPM_IMAGE_PATH) + "\"");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out,
              "{\"event\":\"message\",\"text\":\"磁盘设备创建或打开失败！\"}\n"
              "{\"event\":\"end\",\"ending\":\"launch-failed\"}\n");
    EXPECT_NE(run.err.find("removable"), std::string::npos) << run.err;
}

TEST_F(QdxflashTest, ThePlaceholderFirmwareNeverGoesToARealPlayer) {
    // This build embeds the placeholder: a real device without --impm is refused before it is
    // even opened, with the way out; a simulated player takes the placeholder.
    ToolRun run = Qdxflash("download --device /dev/null --uit a.uit --hzk b.hzk --events");
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_NE(lines[0].find("placeholder IM/PM image"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("--impm FILE"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("QDX_IMPM_IMAGE"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "{\"event\":\"end\",\"ending\":\"launch-failed\"}");

    ToolRun simulated = Qdxflash(DownloadArgs(CreatePlayer("--chip 0x73")));
    EXPECT_EQ(simulated.exitCode, 0) << simulated.err;
}

TEST_F(QdxflashTest, CheckAndPack) {
    ToolRun samples =
        Qdxflash("check \"" QDX_SAMPLES_DIR "/player.uit\" \"" QDX_SAMPLES_DIR "/font.hzk\"");
    EXPECT_EQ(samples.exitCode, 0) << samples.out;
    EXPECT_NE(samples.out.find("payload:   261696 bytes, 512 sectors"), std::string::npos)
        << samples.out;
    EXPECT_NE(samples.out.find("16 on small-page chips"), std::string::npos) << samples.out;

    std::ofstream(Path("payload"), std::ios::binary) << std::string(700, '\xF0');
    ToolRun pack = Qdxflash("pack \"" + Path("payload") + "\" -o \"" + Path("image") + "\"");
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_EQ(fs::file_size(Path("image")), 1212u);
    ToolRun check = Qdxflash("check \"" + Path("image") + "\"");
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_NE(check.out.find("stored 0x9040, computed 0x9040"), std::string::npos) << check.out;

    // One bad file among good ones fails the whole check.
    std::string image = ReadText(Path("image"));
    image[600] ^= 1;
    std::ofstream(Path("damaged"), std::ios::binary) << image;
    ToolRun mixed = Qdxflash("check \"" + Path("image") + "\" \"" + Path("damaged") + "\"");
    EXPECT_EQ(mixed.exitCode, 1);
    EXPECT_NE(mixed.out.find("invalid: checksum 0x9040 stored, 0x9041 computed"), std::string::npos)
        << mixed.out;

    std::ofstream(Path("huge"), std::ios::binary) << std::string(5 * 1024 * 1024 - 511, '\0');
    ToolRun tooBig = Qdxflash("pack \"" + Path("huge") + "\" -o \"" + Path("huge.img") + "\"");
    EXPECT_EQ(tooBig.exitCode, 1);
    EXPECT_FALSE(fs::exists(Path("huge.img")));
}

}  // namespace
