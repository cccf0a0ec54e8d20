#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>

#include "engine/facts/ChipTable.h"

namespace qdx::cli {

namespace {

const char* const kUsageAll =
    "usage: qdxflash COMMAND [ARGS]\n"
    "\n"
    "  sim create PLAYER --chip CODE [--two-chips] [--bad B1,B2,...] [--force]\n"
    "  sim export PLAYER RAW [--blocks FIRST-LAST]\n"
    "  sim serve PLAYER [--volume IMAGE] [--fault SPEC]... [--trace FILE] [--latency-us N]\n"
    "            [--vendor-id HEX] [--product-id HEX] [--serial TEXT] [--udc NAME]\n"
    "  info     (--sim PLAYER | --device PATH)\n"
    "  download (--sim PLAYER | --device PATH)... | --all  --uit FILE --hzk FILE [--impm FILE]\n"
    "           [--events] [--fault SPEC]... [--trace FILE] [--latency-us N]\n"
    "  station  --uit FILE --hzk FILE [--impm FILE] [--sim-dir DIR] [--log FILE] [--events]\n"
    "  check FILE...\n"
    "  pack PAYLOAD -o IMAGE\n"
    "  list\n"
    "\n"
    "qdxflash COMMAND --help describes a command. Exit status: 0 success, 1 the job or check\n"
    "failed, 2 bad arguments or a player file that cannot be used.\n";

const char* const kUsageSim =
    "usage: qdxflash sim create PLAYER --chip CODE [--two-chips] [--bad B1,B2,...] [--force]\n"
    "       qdxflash sim export PLAYER RAW [--blocks FIRST-LAST]\n"
    "       qdxflash sim serve PLAYER [--volume IMAGE] [OPTIONS]\n";

const char* const kUsageSimServe =
    "usage: qdxflash sim serve PLAYER [--volume IMAGE] [--fault SPEC]... [--trace FILE]\n"
    "                          [--latency-us N] [--vendor-id HEX] [--product-id HEX]\n"
    "                          [--serial TEXT] [--udc NAME]\n"
    "\n"
    "Serves the simulated player as a USB mass-storage device on this machine's USB device\n"
    "controller (Linux, as root: configfs and FunctionFS; dummy_hcd makes one without a device\n"
    "port), until interrupted; then saves the player file. The host sees a removable USB disk\n"
    "that answers the vendor commands as the player does.\n"
    "  --volume IMAGE    a file of 512-byte sectors behind the disk's ordinary reads and writes\n"
    "                    (a FAT volume, as on a real player); without it a blank 1 MiB disk\n"
    "  --fault SPEC      as for download --sim; not-delivered commands reach the host as\n"
    "                    transport errors, and unplug-after=N makes the device leave the bus\n"
    "  --trace FILE      one line \"SUB ARGUMENT\" per vendor command\n"
    "  --latency-us N    wait N microseconds per vendor command\n"
    "  --vendor-id HEX, --product-id HEX   the USB ids (default 1d6b:0104)\n"
    "  --serial TEXT     the USB serial number (default QDXSIM0001)\n"
    "  --udc NAME        the controller under /sys/class/udc (default: the first)\n";

const char* const kUsageSimCreate =
    "usage: qdxflash sim create PLAYER --chip CODE [--two-chips] [--bad B1,B2,...] [--force]\n"
    "\n"
    "Makes a simulated player as it leaves the factory: formatted, with a valid kernel block.\n"
    "CODE is a device code of the chip table (0x73 or 115); --two-chips fits two identical\n"
    "chips; --bad marks blocks bad at the factory. An existing PLAYER is replaced only with\n"
    "--force.\n";

const char* const kUsageSimExport =
    "usage: qdxflash sim export PLAYER RAW [--blocks FIRST-LAST]\n"
    "\n"
    "Writes the raw NAND of the player to RAW: for every sector in ascending order its 512 data\n"
    "bytes, then its 16 spare bytes. --blocks limits it to a range of blocks (inclusive).\n";

const char* const kUsageInfo =
    "usage: qdxflash info (--sim PLAYER | --device PATH)\n"
    "\n"
    "Identifies the chip, finds the bad blocks and the kernel block, and shows the areas a\n"
    "download writes and the backup plan. Writes nothing.\n";

const char* const kUsageDownload =
    "usage: qdxflash download (--sim PLAYER | --device PATH)... | --all\n"
    "                         --uit FILE --hzk FILE [--impm FILE] [--events]\n"
    "                         [--fault SPEC]... [--trace FILE] [--latency-us N]\n"
    "\n"
    "Formats the player and writes the IM/PM (built in unless --impm), UIT and font images,\n"
    "each with a backup copy, all verified. --sim and --device may be given several times, or\n"
    "--all for every player qdxflash list accepts: each player is downloaded at the same time\n"
    "on its own, and a summary follows. Exit 0 only when every player completed.\n"
    "  --events      one JSON object a line on standard output instead of the display (with a\n"
    "                \"player\" field when there are several players)\n"
    "  --fault SPEC  (simulated players) fail-command=N, unplug-after=N, fail=SUB@SECTOR,\n"
    "                corrupt-read=SECTOR, weak-sector=SECTOR, format-fails\n"
    "  --trace FILE  (one simulated player) one line \"SUB ARGUMENT\" per vendor command\n"
    "  --latency-us N  (simulated players) wait N microseconds per command, to show a\n"
    "                download at the pace of a real player\n"
    "--fault and --latency-us apply to every simulated player; one player's own come after its\n"
    "file and a colon: --sim p.sim:unplug-after=900,latency-us=1000\n";

const char* const kUsageStation =
    "usage: qdxflash station --uit FILE --hzk FILE [--impm FILE] [--sim-dir DIR] [--log FILE]\n"
    "                        [--events] [--fault SPEC]... [--latency-us N]\n"
    "\n"
    "Waits for players and downloads each one as it arrives, several at once, until stopped\n"
    "(Ctrl-C: the running downloads finish first). A player is taken once per plug-in. One line\n"
    "per finished player, and a running count of completed and failed players.\n"
    "  --sim-dir DIR  simulated players: each *.sim file that appears in DIR arrives, and leaves\n"
    "                 when it is removed\n"
    "  --log FILE     append one JSON line per finished player\n"
    "  --fault, --latency-us  as for download, for every simulated player\n";

const char* const kUsageCheck =
    "usage: qdxflash check FILE...\n"
    "\n"
    "Shows each image's key, checksum, payload size and the segments it needs on small-page\n"
    "and large-page chips. Exit 0 when all are valid images, 1 otherwise.\n";

const char* const kUsagePack =
    "usage: qdxflash pack PAYLOAD -o IMAGE\n"
    "\n"
    "Writes IMAGE: the header with key and checksum, then PAYLOAD. At most 5 MiB in all.\n";

const char* const kUsageList =
    "usage: qdxflash list\n"
    "\n"
    "Lists the disks that may be players: removable USB disks that hold nothing of the running\n"
    "system, with their node, size, USB vendor:product ids, SCSI generic node and whether you\n"
    "may open it; then the disks that are refused, and why.\n";

bool ParseUnsigned(const std::string& text, std::uint32_t& value) {
    int base = 10;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end) {
        return false;
    }
    auto [ptr, ec] = std::from_chars(begin, end, value, base);
    return ec == std::errc() && ptr == end;
}

std::string KnownChipCodes() {
    std::string list;
    char code[8];
    for (const ChipRow& row : kChipTable) {
        std::snprintf(code, sizeof code, "0x%02X", row.deviceCode);
        list += list.empty() ? code : std::string(", ") + code;
    }
    return list;
}

ParseResult Failure(const std::string& error) {
    return ParseResult{std::nullopt, error};
}

ParseResult Ok(CliCommand command) {
    return ParseResult{std::move(command), {}};
}

ParseResult Help(const std::string& topic) {
    CliCommand command;
    command.kind = CommandKind::Help;
    command.helpTopic = topic;
    return Ok(command);
}

// Every word of a dash and at least one more character is an option to us. CLI11 takes some of
// them ("-5", "---x") for positional words; they are refused as unknown options all the same.
bool LooksLikeOption(const std::string& word) {
    return word.size() >= 2 && word[0] == '-';
}

// "--name=value" is the option "--name".
std::string OptionName(const std::string& word) {
    return word.substr(0, word.find('='));
}

// The usage texts are ours, word for word: CLI11 hands back the text a command was declared with.
class UsageFormatter : public CLI::FormatterBase {
public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        return app->get_description();
    }
};

// The words as given, and what CLI11 made of them.
class Words {
public:
    Words(std::vector<std::string> words, const CLI::App& root)
        : m_words(std::move(words)), m_root(root) {}

    const std::vector<std::string>& All() const { return m_words; }

    // True when CLI11 took WORD, at least once, for something else than an option's value or an
    // extra word: for an option's name (with its value after '='), or for the "--" and "++" with
    // which it ends a command's options and the command itself.
    bool Consumed(const std::string& word) const {
        const auto given = std::count(m_words.begin(), m_words.end(), word);
        return static_cast<std::size_t>(given) > Kept(m_root, word);
    }

private:
    // How often WORD is an option's value or an extra word of APP or a command below it.
    static std::size_t Kept(const CLI::App& app, const std::string& word) {
        const std::vector<std::string> extras = app.remaining();
        auto kept = static_cast<std::size_t>(std::count(extras.begin(), extras.end(), word));
        for (const CLI::Option* option : app.get_options()) {
            kept += std::count(option->results().begin(), option->results().end(), word);
        }
        for (const CLI::App* command : app.get_subcommands()) {
            kept += Kept(*command, word);
        }
        return kept;
    }

    const std::vector<std::string> m_words;
    const CLI::App& m_root;
};

// One command of the tool: a CLI11 subcommand with its options, and what is checked once CLI11
// has split the words. A group (sim) holds further commands and nothing else.
//
// Positional words are left to CLI11's extras rather than declared: a declared list of
// positionals would split a file named "[a,b]" into two.
class Command {
public:
    // Turns what the command's words said into the command, once the shared checks passed.
    using Finish = std::function<ParseResult()>;

    Command(CLI::App* app, std::string topic, bool group, const Words& words)
        : m_app(app), m_topic(std::move(topic)), m_group(group), m_words(words) {
        m_app->allow_extras();
        if (m_group) {
            // One command below it; a second command name is an ordinary word.
            m_app->require_subcommand(0, 1);
        } else {
            m_help = m_app->add_flag("-h,--help");
        }
    }

    // Options, named as CLI11 names them ("--chip", "-o,--output"). The first name is the one
    // errors show.
    CLI::Option* Value(const std::string& names) { return Declare(names, Kind::Value); }
    CLI::Option* Repeatable(const std::string& names) { return Declare(names, Kind::Repeatable); }
    CLI::Option* Flag(const std::string& names) { return Declare(names, Kind::Flag); }

    void SetFinish(Finish finish) { m_finish = std::move(finish); }

    // What the command's words said, for its Finish.
    bool Given(const CLI::Option* option) const { return option->count() > 0; }
    std::optional<std::string> ValueOf(const CLI::Option* option) const {
        return Given(option) ? std::optional<std::string>(Result(option, 0)) : std::nullopt;
    }
    std::vector<std::string> ValuesOf(const CLI::Option* option) const {
        std::vector<std::string> values;
        for (std::size_t i = 0; i < option->count(); ++i) {
            values.push_back(Result(option, i));
        }
        return values;
    }
    std::vector<std::string> Positional() const {
        std::vector<std::string> words;
        for (const std::string& word : m_app->remaining()) {
            if (!LooksLikeOption(word)) {
                words.push_back(word);
            }
        }
        return words;
    }
    ParseResult Fail(const std::string& error) const { return Failure(m_topic + ": " + error); }

    CLI::App* App() const { return m_app; }
    const std::string& Topic() const { return m_topic; }
    bool IsGroup() const { return m_group; }

    // The command below a group that CLI11 entered, if any.
    CLI::App* EnteredCommand() const {
        auto entered = m_app->get_subcommands();
        return entered.empty() ? nullptr : entered.front();
    }

    // A group's refusal of WORD where one of its commands belongs.
    ParseResult UnknownCommand(const std::string& word) const {
        return Fail("unknown command " + word + "; give " + CommandChoices());
    }

    // Checks a group's words; nullopt when a command below it was entered and is to decide.
    std::optional<ParseResult> FinishGroup() const {
        std::vector<std::string> extras = m_app->remaining();
        if (!extras.empty()) {
            // The word after the group's name comes first.
            if (extras[0] == "--help" || extras[0] == "-h") {
                return Help(m_topic);
            }
            return UnknownCommand(extras[0]);
        }
        if (!EnteredCommand()) {
            return Fail("give " + CommandChoices());
        }
        return std::nullopt;
    }

    // Checks the words shared by every command, then hands over to the command's Finish.
    // VALUE_MISSING names the last word's option when CLI11 found no value after it.
    ParseResult FinishCommand(const std::optional<std::string>& valueMissing) const {
        const std::vector<std::string> extras = m_app->remaining();
        for (const std::string& word : m_words.All()) {
            if (LooksLikeOption(word) && std::count(extras.begin(), extras.end(), word) > 0) {
                return Fail("unknown option " + OptionName(word));
            }
            if (auto error = MisreadOption(word)) {
                return Fail(*error);
            }
        }
        for (const Declared& declared : m_declared) {
            if (declared.kind != Kind::Repeatable && declared.option->count() > 1) {
                return Fail("option " + declared.name + " given twice");
            }
        }
        if (valueMissing) {
            return Fail("option " + *valueMissing + " needs a value");
        }
        if (m_help->count() > 0) {
            return Help(m_topic);
        }
        return m_finish();
    }

private:
    enum class Kind { Value, Repeatable, Flag };
    struct Declared {
        CLI::Option* option;
        std::string name;
        Kind kind;
    };

    CLI::Option* Declare(const std::string& names, Kind kind) {
        CLI::Option* option =
            kind == Kind::Flag ? m_app->add_flag(names) : m_app->add_option(names);
        m_declared.push_back(Declared{option, names.substr(0, names.find(',')), kind});
        return option;
    }

    // The forms of option words that CLI11 reads otherwise than we do: it takes "--flag=VALUE"
    // for the flag set to VALUE, "--name=" (no value) as "--name" followed by the next word's
    // value, and "-xREST" as "-x REST" or as "-x -REST". The error for WORD, if it is one of
    // those; "-o=IMAGE" is "-o IMAGE", as for long options.
    std::optional<std::string> MisreadOption(const std::string& word) const {
        if (!LooksLikeOption(word) || !m_words.Consumed(word)) {
            return std::nullopt;
        }
        const std::string name = OptionName(word);
        const CLI::Option* option = m_app->get_option_no_throw(name);
        if (word.compare(0, 2, "--") == 0) {
            if (name == word || !option) {
                return std::nullopt;
            }
            if (option == m_help) {
                return "unknown option " + name;
            }
            if (option->get_items_expected_max() == 0) {
                return "option " + name + " takes no value";
            }
            if (name.size() + 1 == word.size()) {
                return "option " + name + " needs a value";
            }
            return std::nullopt;
        }
        const bool shortWithValue =
            word.size() > 2 && word[2] == '=' && option && option->get_items_expected_max() > 0;
        if (word.size() > 2 && !shortWithValue) {
            return "unknown option " + name;
        }
        return std::nullopt;
    }

    // CLI11 reads "-oVALUE" as the value VALUE, so "-o=IMAGE" arrives as "=IMAGE".
    std::string Result(const CLI::Option* option, std::size_t index) const {
        std::string value = option->results().at(index);
        for (const std::string& shortName : option->get_snames()) {
            if (!value.empty() && value[0] == '=' && m_words.Consumed("-" + shortName + value)) {
                value.erase(0, 1);
            }
        }
        return value;
    }

    std::string CommandChoices() const {
        std::vector<std::string> names;
        for (const CLI::App* command : m_app->get_subcommands({})) {
            names.push_back(command->get_name());
        }
        std::string choices;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0) {
                choices += i + 1 == names.size() ? " or " : ", ";
            }
            choices += names[i];
        }
        return choices;
    }

    CLI::App* m_app;
    std::string m_topic;  // "sim create", "download": the help topic and the prefix of errors
    bool m_group;
    const Words& m_words;
    CLI::Option* m_help = nullptr;
    std::vector<Declared> m_declared;
    Finish m_finish;
};

// ---- The commands: each function declares one command's options and checks what they hold.

void DeclareSimCreate(Command& c) {
    CLI::Option* chip = c.Value("--chip");
    CLI::Option* bad = c.Value("--bad");
    CLI::Option* twoChips = c.Flag("--two-chips");
    CLI::Option* force = c.Flag("--force");
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        if (positional.size() != 1) {
            return c.Fail("give exactly one PLAYER file");
        }
        CliCommand command;
        command.kind = CommandKind::SimCreate;
        command.playerPath = positional[0];
        auto chipText = c.ValueOf(chip);
        if (!chipText) {
            return c.Fail("--chip CODE is required (one of " + KnownChipCodes() + ")");
        }
        std::uint32_t code = 0;
        if (!ParseUnsigned(*chipText, code) || code > 0xFF ||
            !FindChip(static_cast<std::uint8_t>(code))) {
            return c.Fail("unknown chip code " + *chipText + " (known: " + KnownChipCodes() + ")");
        }
        command.chipCode = static_cast<std::uint8_t>(code);
        command.twoChips = c.Given(twoChips);
        command.force = c.Given(force);
        if (auto list = c.ValueOf(bad)) {
            std::size_t start = 0;
            for (;;) {
                std::size_t comma = list->find(',', start);
                std::string item = list->substr(start, comma - start);
                std::uint32_t block = 0;
                if (!ParseUnsigned(item, block)) {
                    return c.Fail("bad block \"" + item + "\" is not a block number");
                }
                command.badBlocks.push_back(block);
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
        }
        return Ok(command);
    });
}

void DeclareSimExport(Command& c) {
    CLI::Option* blocks = c.Value("--blocks");
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        if (positional.size() != 2) {
            return c.Fail("give a PLAYER file and a RAW output file");
        }
        CliCommand command;
        command.kind = CommandKind::SimExport;
        command.playerPath = positional[0];
        command.rawPath = positional[1];
        if (auto text = c.ValueOf(blocks)) {
            std::size_t dash = text->find('-');
            BlockRange range;
            if (dash == std::string::npos || !ParseUnsigned(text->substr(0, dash), range.first) ||
                !ParseUnsigned(text->substr(dash + 1), range.last) || range.first > range.last) {
                return c.Fail("--blocks wants FIRST-LAST with FIRST <= LAST, not " + *text);
            }
            command.blocks = range;
        }
        return Ok(command);
    });
}

bool ParseUsbId(const std::optional<std::string>& text, std::uint16_t& id) {
    if (!text) {
        return true;
    }
    std::string digits = *text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    std::uint32_t value = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() ||
        value > 0xFFFF) {
        return false;
    }
    id = static_cast<std::uint16_t>(value);
    return true;
}

void DeclareSimServe(Command& c) {
    CLI::Option* volume = c.Value("--volume");
    CLI::Option* fault = c.Repeatable("--fault");
    CLI::Option* trace = c.Value("--trace");
    CLI::Option* latency = c.Value("--latency-us");
    CLI::Option* vendor = c.Value("--vendor-id");
    CLI::Option* product = c.Value("--product-id");
    CLI::Option* serial = c.Value("--serial");
    CLI::Option* udc = c.Value("--udc");
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        if (positional.size() != 1) {
            return c.Fail("give exactly one PLAYER file");
        }
        CliCommand command;
        command.kind = CommandKind::SimServe;
        command.playerPath = positional[0];
        command.volumePath = c.ValueOf(volume).value_or("");
        if (c.Given(volume) && command.volumePath.empty()) {
            return c.Fail("--volume needs an image file");
        }
        command.faults = c.ValuesOf(fault);
        command.tracePath = c.ValueOf(trace).value_or("");
        if (c.Given(trace) && command.tracePath.empty()) {
            return c.Fail("--trace needs a file");
        }
        if (auto text = c.ValueOf(latency)) {
            std::uint32_t value = 0;
            if (!ParseUnsigned(*text, value) || value > 1000000) {
                return c.Fail("--latency-us needs a number of microseconds up to 1000000");
            }
            command.latencyMicros = value;
        }
        if (!ParseUsbId(c.ValueOf(vendor), command.usbVendorId) ||
            !ParseUsbId(c.ValueOf(product), command.usbProductId)) {
            return c.Fail("--vendor-id and --product-id take 4 hex digits, such as 1d6b");
        }
        command.usbSerial = c.ValueOf(serial).value_or(command.usbSerial);
        if (command.usbSerial.empty() || command.usbSerial.size() > 126) {
            return c.Fail("--serial needs 1 to 126 characters");
        }
        command.udcName = c.ValueOf(udc).value_or("");
        return Ok(command);
    });
}

// The player a command works on: a simulated one or a device.
struct TargetOptions {
    CLI::Option* sim;
    CLI::Option* device;
};

bool ParseTarget(const Command& c, const TargetOptions& options, CliCommand& command,
                 std::string& error) {
    auto sim = c.ValueOf(options.sim);
    auto device = c.ValueOf(options.device);
    if (sim && device) {
        error = "give either --sim PLAYER or --device PATH, not both";
        return false;
    }
    if (!sim && !device) {
        error = "give --sim PLAYER or --device PATH";
        return false;
    }
    const Target target{sim ? TargetKind::Sim : TargetKind::Device, sim ? *sim : *device};
    if (target.path.empty()) {
        error = sim ? "--sim needs a player file" : "--device needs a path";
        return false;
    }
    command.targets = {target};
    return true;
}

void DeclareInfo(Command& c) {
    const TargetOptions target{c.Value("--sim"), c.Value("--device")};
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        if (!positional.empty()) {
            return c.Fail("unexpected argument " + positional[0]);
        }
        CliCommand command;
        command.kind = CommandKind::Info;
        std::string error;
        if (!ParseTarget(c, target, command, error)) {
            return c.Fail(error);
        }
        return Ok(command);
    });
}

// The options of a download that every player shares: the images and how they are reported.
struct JobOptionsGiven {
    CLI::Option* uit;
    CLI::Option* hzk;
    CLI::Option* impm;
    CLI::Option* events;
    CLI::Option* fault;
    CLI::Option* latency;
};

JobOptionsGiven DeclareJobOptions(Command& c) {
    return JobOptionsGiven{c.Value("--uit"),   c.Value("--hzk"),        c.Value("--impm"),
                           c.Flag("--events"), c.Repeatable("--fault"), c.Value("--latency-us")};
}

std::optional<std::string> ParseJobOptions(const Command& c, const JobOptionsGiven& given,
                                           CliCommand& command) {
    auto uitPath = c.ValueOf(given.uit);
    auto hzkPath = c.ValueOf(given.hzk);
    if (!uitPath || uitPath->empty() || !hzkPath || hzkPath->empty()) {
        return "--uit FILE and --hzk FILE are required";
    }
    command.uitPath = *uitPath;
    command.hzkPath = *hzkPath;
    command.impmPath = c.ValueOf(given.impm);
    if (command.impmPath && command.impmPath->empty()) {
        return "--impm needs a file";
    }
    command.events = c.Given(given.events);
    command.faults = c.ValuesOf(given.fault);
    if (auto text = c.ValueOf(given.latency)) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(text->c_str(), &end, 10);
        if (text->empty() || *end != '\0' || (*text)[0] == '-' || value > 1000000) {
            return "--latency-us needs a number of microseconds up to 1000000";
        }
        command.latencyMicros = static_cast<std::uint32_t>(value);
    }
    return std::nullopt;
}

void DeclareDownload(Command& c) {
    const TargetOptions target{c.Repeatable("--sim"), c.Repeatable("--device")};
    CLI::Option* all = c.Flag("--all");
    const JobOptionsGiven job = DeclareJobOptions(c);
    CLI::Option* trace = c.Value("--trace");
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        if (!positional.empty()) {
            return c.Fail("unexpected argument " + positional[0]);
        }
        CliCommand command;
        command.kind = CommandKind::Download;
        const std::vector<std::string> sims = c.ValuesOf(target.sim);
        const std::vector<std::string> devices = c.ValuesOf(target.device);
        command.allPlayers = c.Given(all);
        if (sims.empty() && devices.empty() && !command.allPlayers) {
            return c.Fail("give --sim PLAYER or --device PATH (or --all)");
        }
        if (command.allPlayers && !devices.empty()) {
            return c.Fail("--all already takes every player; give no --device with it");
        }
        for (const std::string& path : sims) {
            if (path.empty()) {
                return c.Fail("--sim needs a player file");
            }
            command.targets.push_back({TargetKind::Sim, path});
        }
        for (const std::string& path : devices) {
            if (path.empty()) {
                return c.Fail("--device needs a path");
            }
            command.targets.push_back({TargetKind::Device, path});
        }
        if (auto error = ParseJobOptions(c, job, command)) {
            return c.Fail(*error);
        }
        command.tracePath = c.ValueOf(trace).value_or("");
        if (sims.empty() && (!command.faults.empty() || c.Given(trace))) {
            return c.Fail("--fault and --trace work on simulated players (--sim) only");
        }
        if (c.Given(trace) && command.tracePath.empty()) {
            return c.Fail("--trace needs a file");
        }
        if (c.Given(trace) && command.targets.size() + (command.allPlayers ? 1 : 0) > 1) {
            return c.Fail("--trace records one player; give one --sim with it");
        }
        if (c.Given(job.latency) && sims.empty()) {
            return c.Fail("--latency-us works on simulated players (--sim) only");
        }
        return Ok(command);
    });
}

void DeclareStation(Command& c) {
    const JobOptionsGiven job = DeclareJobOptions(c);
    CLI::Option* simDir = c.Value("--sim-dir");
    CLI::Option* log = c.Value("--log");
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        if (!positional.empty()) {
            return c.Fail("unexpected argument " + positional[0]);
        }
        CliCommand command;
        command.kind = CommandKind::Station;
        if (auto error = ParseJobOptions(c, job, command)) {
            return c.Fail(*error);
        }
        command.simDir = c.ValueOf(simDir).value_or("");
        command.logPath = c.ValueOf(log).value_or("");
        if (c.Given(simDir) && command.simDir.empty()) {
            return c.Fail("--sim-dir needs a folder");
        }
        if (c.Given(log) && command.logPath.empty()) {
            return c.Fail("--log needs a file");
        }
        if (command.simDir.empty() && (!command.faults.empty() || c.Given(job.latency))) {
            return c.Fail("--fault and --latency-us work on simulated players (--sim-dir) only");
        }
        return Ok(command);
    });
}

void DeclareCheck(Command& c) {
    c.SetFinish([&c] {
        CliCommand command;
        command.kind = CommandKind::Check;
        command.files = c.Positional();
        if (command.files.empty()) {
            return c.Fail("give one or more image files");
        }
        return Ok(command);
    });
}

void DeclarePack(Command& c) {
    CLI::Option* output = c.Value("-o,--output");
    c.SetFinish([=, &c] {
        const std::vector<std::string> positional = c.Positional();
        auto outputPath = c.ValueOf(output);
        if (positional.size() != 1 || !outputPath || outputPath->empty()) {
            return c.Fail("give one PAYLOAD file and -o IMAGE");
        }
        CliCommand command;
        command.kind = CommandKind::Pack;
        command.payloadPath = positional[0];
        command.outputPath = *outputPath;
        return Ok(command);
    });
}

void DeclareList(Command& c) {
    c.SetFinish([&c] {
        const std::vector<std::string> positional = c.Positional();
        if (!positional.empty()) {
            return c.Fail("unexpected argument " + positional[0]);
        }
        CliCommand command;
        command.kind = CommandKind::List;
        return Ok(command);
    });
}

// The whole command line: the commands above as CLI11 subcommands, and "help".
class CommandTree {
public:
    explicit CommandTree(std::vector<std::string> words) : m_words(std::move(words), m_root) {
        m_root.description(kUsageAll);
        m_root.formatter(std::make_shared<UsageFormatter>());
        m_root.set_help_flag();  // help is a command of its own, and a flag of each command
        m_root.allow_extras();
        m_root.require_subcommand(0, 1);
        // The values are read as given; the checks after the parse refuse repeated options.
        m_root.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

        Command& sim = AddGroup(nullptr, "sim", kUsageSim);
        Add(&sim, "create", kUsageSimCreate, DeclareSimCreate);
        Add(&sim, "export", kUsageSimExport, DeclareSimExport);
        Add(&sim, "serve", kUsageSimServe, DeclareSimServe);
        Add(nullptr, "info", kUsageInfo, DeclareInfo);
        Add(nullptr, "download", kUsageDownload, DeclareDownload);
        Add(nullptr, "station", kUsageStation, DeclareStation);
        Add(nullptr, "check", kUsageCheck, DeclareCheck);
        Add(nullptr, "pack", kUsagePack, DeclarePack);
        Add(nullptr, "list", kUsageList, DeclareList);

        // "help TOPIC...", also spelt "--help" and "-h"; its words are only looked at.
        m_helpCommand = m_root.add_subcommand("help", kUsageAll);
        m_helpCommand->alias("--help")->alias("-h")->allow_extras()->prefix_command();
    }

    CommandTree(const CommandTree&) = delete;
    CommandTree& operator=(const CommandTree&) = delete;

    ParseResult Parse() {
        const std::vector<std::string>& words = m_words.All();
        if (words.empty()) {
            return Failure("no command given; qdxflash --help lists the commands");
        }
        if (m_root.get_subcommands([&](CLI::App* app) { return app->check_name(words[0]); })
                .empty()) {
            return Failure("unknown command " + words[0] + "; qdxflash --help lists the commands");
        }
        std::vector<std::string> unread(words.rbegin(), words.rend());  // CLI11's order
        std::optional<std::string> valueMissing;
        try {
            m_root.parse(unread);
        } catch (const CLI::ArgumentMismatch& error) {
            // CLI11 stops when it runs out of words for an option's value, so the last word is
            // that option; all words before it were read, and their faults come first.
            if (!unread.empty() || !LooksLikeOption(words.back()) || !Entered(m_root)) {
                return Refusal(error);
            }
            valueMissing = OptionName(words.back());
        } catch (const CLI::Error& error) {
            return Refusal(error);
        }
        if (m_root.got_subcommand(m_helpCommand)) {
            return Help(Topic(m_helpCommand->remaining()));
        }
        Command* command = Entered(m_root);
        for (const char* marker : {"--", "++"}) {
            // CLI11 ends a command's options at "--" and the command itself at "++", and drops
            // the word; to us both are words like any other, so a dropped one is refused.
            if (m_words.Consumed(marker)) {
                Command& deepest = Deepest();
                if (deepest.IsGroup()) {
                    return deepest.UnknownCommand(marker);
                }
                return deepest.Fail(
                    std::string(*marker == '-' ? "unknown option " : "unexpected argument ") +
                    marker);
            }
        }
        while (command->IsGroup()) {
            if (auto result = command->FinishGroup()) {
                return *result;
            }
            command = Entered(*command->App());
        }
        return command->FinishCommand(valueMissing);
    }

    // The usage text of TOPIC, or of the whole tool when TOPIC names no command.
    std::string Usage(const std::string& topic) {
        std::istringstream in(topic);
        std::vector<std::string> words;
        for (std::string word; in >> word;) {
            words.push_back(word);
        }
        const Command* command = Resolve(words);
        return command && command->Topic() == topic ? command->App()->help() : m_root.help();
    }

private:
    Command& Add(Command* group, const std::string& name, const char* usage,
                 void (*declare)(Command&)) {
        Command& command = AddCommand(group, name, usage, false);
        declare(command);
        return command;
    }

    Command& AddGroup(Command* group, const std::string& name, const char* usage) {
        return AddCommand(group, name, usage, true);
    }

    Command& AddCommand(Command* group, const std::string& name, const char* usage, bool isGroup) {
        CLI::App& parent = group ? *group->App() : m_root;
        const std::string topic = group ? group->Topic() + " " + name : name;
        return m_commands.emplace_back(parent.add_subcommand(name, usage), topic, isGroup, m_words);
    }

    Command* Find(const CLI::App* app) {
        for (Command& command : m_commands) {
            if (command.App() == app) {
                return &command;
            }
        }
        return nullptr;
    }

    // The command CLI11 entered below APP, if any.
    Command* Entered(const CLI::App& app) {
        auto entered = app.get_subcommands();
        return entered.empty() ? nullptr : Find(entered.front());
    }

    // The innermost command CLI11 entered.
    Command& Deepest() {
        Command* command = Entered(m_root);
        while (command->IsGroup() && command->EnteredCommand()) {
            command = Find(command->EnteredCommand());
        }
        return *command;
    }

    // The command that WORDS name, as far as they name one ("sim create extra" names "sim
    // create"); nullptr when the first word names none. "help" is no topic.
    const Command* Resolve(const std::vector<std::string>& words) const {
        const Command* found = nullptr;
        for (const std::string& word : words) {
            const CLI::App* parent = found ? found->App() : &m_root;
            auto child = std::find_if(m_commands.begin(), m_commands.end(), [&](const Command& c) {
                return c.App()->get_parent() == parent && c.App()->get_name() == word;
            });
            if (child == m_commands.end()) {
                break;
            }
            found = &*child;
        }
        return found;
    }

    // The help topic that WORDS name.
    std::string Topic(const std::vector<std::string>& words) const {
        const Command* command = Resolve(words);
        return command ? command->Topic() : "";
    }

    // Any other error of CLI11's, in its words.
    ParseResult Refusal(const CLI::Error& error) {
        if (!Entered(m_root)) {
            return Failure(error.what());
        }
        Command& deepest = Deepest();
        return deepest.Fail(error.what());
    }

    CLI::App m_root;
    const Words m_words;
    std::deque<Command> m_commands;  // a deque: Commands are referred to by address
    CLI::App* m_helpCommand = nullptr;
};

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    return CommandTree(args).Parse();
}

std::string UsageText(const std::string& topic) {
    return CommandTree({}).Usage(topic);
}

}  // namespace qdx::cli
