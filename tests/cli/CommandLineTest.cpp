#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qdx::cli {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

CliCommand MustParse(const std::string& line) {
    ParseResult result = ParseCommandLine(Words(line));
    EXPECT_TRUE(result.command) << line << ": " << result.error;
    return result.command.value_or(CliCommand{});
}

TEST(ParseCommandLine, SimCreate) {
    CliCommand c = MustParse("sim create p.sim --chip 0x73 --bad 0,5,1023");
    EXPECT_EQ(c.kind, CommandKind::SimCreate);
    EXPECT_EQ(c.playerPath, "p.sim");
    EXPECT_EQ(c.chipCode, 0x73);
    EXPECT_FALSE(c.twoChips);
    EXPECT_EQ(c.badBlocks, (std::vector<std::uint32_t>{0, 5, 1023}));

    c = MustParse("sim create --two-chips --chip=211 q");  // decimal code, options first
    EXPECT_EQ(c.chipCode, 0xD3);
    EXPECT_TRUE(c.twoChips);
    EXPECT_EQ(c.playerPath, "q");
    EXPECT_TRUE(c.badBlocks.empty());
}

TEST(ParseCommandLine, SimExport) {
    CliCommand c = MustParse("sim export p raw.bin --blocks 2-40");
    EXPECT_EQ(c.kind, CommandKind::SimExport);
    EXPECT_EQ(c.rawPath, "raw.bin");
    ASSERT_TRUE(c.blocks);
    EXPECT_EQ(c.blocks->first, 2u);
    EXPECT_EQ(c.blocks->last, 40u);
    EXPECT_FALSE(MustParse("sim export p raw").blocks);
}

TEST(ParseCommandLine, InfoAndDownloadTargets) {
    CliCommand c = MustParse("info --device /dev/sdb");
    EXPECT_EQ(c.targets, (std::vector<Target>{{TargetKind::Device, "/dev/sdb"}}));

    c = MustParse(
        "download --sim p --uit a.uit --hzk b.hzk --impm c.bin --events --fault format-fails "
        "--fault=fail-command=3 --trace t.txt");
    EXPECT_EQ(c.kind, CommandKind::Download);
    EXPECT_EQ(c.targets, (std::vector<Target>{{TargetKind::Sim, "p"}}));
    EXPECT_EQ(c.uitPath, "a.uit");
    EXPECT_EQ(c.hzkPath, "b.hzk");
    EXPECT_EQ(c.impmPath, "c.bin");
    EXPECT_TRUE(c.events);
    EXPECT_EQ(c.faults, (std::vector<std::string>{"format-fails", "fail-command=3"}));
    EXPECT_EQ(c.tracePath, "t.txt");

    c = MustParse("download --device /dev/sdb --uit a --hzk b");
    EXPECT_FALSE(c.impmPath);
    EXPECT_FALSE(c.events);

    // Several players at once, simulated and real, or every player there is.
    c = MustParse(
        "download --sim a.sim --device /dev/sdb --sim b.sim:unplug-after=9 --uit u --hzk h");
    EXPECT_EQ(c.targets, (std::vector<Target>{{TargetKind::Sim, "a.sim"},
                                              {TargetKind::Sim, "b.sim:unplug-after=9"},
                                              {TargetKind::Device, "/dev/sdb"}}));
    c = MustParse("download --all --uit u --hzk h");
    EXPECT_TRUE(c.allPlayers);
    EXPECT_TRUE(c.targets.empty());

    c = MustParse("station --uit u --hzk h --sim-dir players --log line.jsonl --latency-us 1000");
    EXPECT_EQ(c.kind, CommandKind::Station);
    EXPECT_EQ(c.simDir, "players");
    EXPECT_EQ(c.logPath, "line.jsonl");
    EXPECT_EQ(c.latencyMicros, 1000u);
    EXPECT_TRUE(MustParse("sim create p --chip 0x73 --force").force);
}

TEST(ParseCommandLine, CheckPackListAndHelp) {
    EXPECT_EQ(MustParse("check a b c").files, (std::vector<std::string>{"a", "b", "c"}));
    CliCommand c = MustParse("pack payload -o image");
    EXPECT_EQ(c.payloadPath, "payload");
    EXPECT_EQ(c.outputPath, "image");
    EXPECT_EQ(MustParse("list").kind, CommandKind::List);

    struct HelpCase {
        const char* line;
        const char* topic;
    };
    for (const HelpCase& h :
         {HelpCase{"--help", ""}, HelpCase{"help download", "download"},
          HelpCase{"download --help", "download"}, HelpCase{"sim create --help", "sim create"},
          HelpCase{"sim --help", "sim"}, HelpCase{"pack -h", "pack"}}) {
        CliCommand help = MustParse(h.line);
        EXPECT_EQ(help.kind, CommandKind::Help) << h.line;
        EXPECT_EQ(help.helpTopic, h.topic) << h.line;
        EXPECT_FALSE(UsageText(help.helpTopic).empty());
    }
}

TEST(UsageText, EachTopicHasItsOwnText) {
    const std::string whole = UsageText("");
    EXPECT_EQ(whole.rfind("usage: qdxflash COMMAND [ARGS]\n", 0), 0u) << whole;
    for (const char* topic :
         {"sim", "sim create", "sim export", "info", "download", "check", "pack", "list"}) {
        const std::string text = UsageText(topic);
        EXPECT_EQ(text.rfind(std::string("usage: qdxflash ") + topic, 0), 0u) << text;
    }
    for (const char* notATopic : {"help", "bogus", "sim bogus", "sim create extra"}) {
        EXPECT_EQ(UsageText(notATopic), whole) << notATopic;
    }
}

// Words that a general-purpose parser reads otherwise than this tool: each is read the tool's
// way, so that no file is named "=image", no word is split or dropped, and no option swallows
// the word after it.
TEST(ParseCommandLine, ReadsEveryWordTheToolsWay) {
    EXPECT_EQ(MustParse("pack payload -o=image").outputPath, "image");
    EXPECT_EQ(MustParse("check [a,b] {} - sim help").files,
              (std::vector<std::string>{"[a,b]", "{}", "-", "sim", "help"}));
    CliCommand c = MustParse("download --sim p --uit --events --hzk b");  // a value, however odd
    EXPECT_EQ(c.uitPath, "--events");
    EXPECT_FALSE(c.events);
    c = MustParse("sim --help create p --chip 0x73");  // the word after "sim" decides
    EXPECT_EQ(c.kind, CommandKind::Help);
    EXPECT_EQ(c.helpTopic, "sim");

    struct BadCase {
        const char* line;
        const char* error;
    };
    const BadCase cases[] = {
        {"sim create p --chip 0x73 --two-chips=true",
         "sim create: option --two-chips takes no value"},
        {"list --help=x", "list: unknown option --help"},
        {"pack p -oimage", "pack: unknown option -oimage"},
        {"sim create p --chip=0x73 -hx", "sim create: unknown option -hx"},
        {"check -5", "check: unknown option -5"},
        {"check a -- b", "check: unknown option --"},
        {"check a ++ b", "check: unexpected argument ++"},
        {"sim -- create p", "sim: unknown command --; give create, export or serve"},
        {"download --sim p --uit a --hzk b --trace= --events",
         "download: option --trace needs a value"},
        {"download --sim p --verbose --uit", "download: unknown option --verbose"},
        {"download --sim p --uit a --hzk b --impm", "download: option --impm needs a value"},
    };
    for (const BadCase& bad : cases) {
        ParseResult result = ParseCommandLine(Words(bad.line));
        EXPECT_FALSE(result.command) << bad.line;
        EXPECT_EQ(result.error, bad.error) << bad.line;
    }
}

TEST(ParseCommandLine, RejectsBadArguments) {
    struct BadCase {
        const char* line;
        const char* errorMentions;
    };
    const BadCase cases[] = {
        {"", "no command"},
        {"flash", "unknown command"},
        {"sim", "create, export or serve"},
        {"sim delete p", "unknown command"},
        {"sim create p", "--chip"},
        {"sim create p --chip 0x12", "unknown chip code 0x12"},
        {"sim create p --chip 0x173", "unknown chip code"},
        {"sim create p --chip seventy", "unknown chip code"},
        {"sim create p --chip", "needs a value"},
        {"sim create p q --chip 0x73", "exactly one"},
        {"sim create p --chip 0x73 --bad 1,,2", "not a block number"},
        {"sim create p --chip 0x73 --bad -1", "not a block number"},
        {"sim create p --chip 0x73 --chip 0x75", "twice"},
        {"sim create p --chip 0x73 --two-chips=yes", "takes no value"},
        {"sim export p", "RAW"},
        {"sim export p raw --blocks 5", "FIRST-LAST"},
        {"sim export p raw --blocks 9-3", "FIRST-LAST"},
        {"info", "--sim PLAYER or --device"},
        {"info --sim p --device /dev/sdb", "not both"},
        {"info --sim p extra", "unexpected argument"},
        {"download --sim p --uit a", "--hzk"},
        {"download --uit a --hzk b", "--sim PLAYER or --device"},
        {"download --sim p --uit a --hzk b --verbose", "unknown option --verbose"},
        {"download --device /dev/sdb --uit a --hzk b --fault format-fails", "--sim"},
        {"download --device /dev/sdb --uit a --hzk b --trace t", "--sim"},
        {"download --sim p --uit a --uit b --hzk c", "twice"},
        {"check", "image files"},
        {"pack payload", "-o IMAGE"},
        {"pack -o image", "PAYLOAD"},
        {"pack a b -o image", "PAYLOAD"},
        {"list extra", "unexpected argument"},
        {"download --sim a --sim b --uit u --hzk h --trace t", "one --sim"},
        {"download --all --device /dev/sdb --uit u --hzk h", "--all"},
        {"download --all --uit u --hzk h --latency-us 5", "simulated players"},
        {"station --uit u", "--hzk"},
        {"station --uit u --hzk h --fault format-fails", "--sim-dir"},
        {"info --sim a --sim b", "twice"},
    };
    for (const BadCase& c : cases) {
        ParseResult result = ParseCommandLine(Words(c.line));
        EXPECT_FALSE(result.command) << c.line;
        EXPECT_NE(result.error.find(c.errorMentions), std::string::npos)
            << c.line << " -> " << result.error;
    }
}

}  // namespace
}  // namespace qdx::cli
