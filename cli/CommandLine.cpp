#include "cli/CommandLine.h"

#include <charconv>
#include <cstdlib>
#include <map>
#include <set>

#include "engine/ChipTable.h"

namespace qdx::cli {

namespace {

const char* const kUsageAll =
    "usage: qdxflash COMMAND [ARGS]\n"
    "\n"
    "  sim create PLAYER --chip CODE [--two-chips] [--bad B1,B2,...]\n"
    "  sim export PLAYER RAW [--blocks FIRST-LAST]\n"
    "  sim serve PLAYER [--volume IMAGE] [--fault SPEC]... [--trace FILE] [--latency-us N]\n"
    "            [--vendor-id HEX] [--product-id HEX] [--serial TEXT] [--udc NAME]\n"
    "  info     (--sim PLAYER | --device PATH)\n"
    "  download (--sim PLAYER | --device PATH) --uit FILE --hzk FILE [--impm FILE] [--events]\n"
    "           [--fault SPEC]... [--trace FILE]\n"
    "  check FILE...\n"
    "  pack PAYLOAD -o IMAGE\n"
    "  list\n"
    "\n"
    "qdxflash COMMAND --help describes a command. Exit status: 0 success, 1 the job or check\n"
    "failed, 2 bad arguments or a player file that cannot be used.\n";

const std::map<std::string, const char*> kUsageByTopic = {
    {"sim",
     "usage: qdxflash sim create PLAYER --chip CODE [--two-chips] [--bad B1,B2,...]\n"
     "       qdxflash sim export PLAYER RAW [--blocks FIRST-LAST]\n"
     "       qdxflash sim serve PLAYER [--volume IMAGE] [OPTIONS]\n"},
    {"sim serve",
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
     "  --udc NAME        the controller under /sys/class/udc (default: the first)\n"},
    {"sim create",
     "usage: qdxflash sim create PLAYER --chip CODE [--two-chips] [--bad B1,B2,...]\n"
     "\n"
     "Makes a simulated player as it leaves the factory: formatted, with a valid kernel block.\n"
     "CODE is a device code of the chip table (0x73 or 115); --two-chips fits two identical\n"
     "chips; --bad marks blocks bad at the factory.\n"},
    {"sim export",
     "usage: qdxflash sim export PLAYER RAW [--blocks FIRST-LAST]\n"
     "\n"
     "Writes the raw NAND of the player to RAW: for every sector in ascending order its 512 data\n"
     "bytes, then its 16 spare bytes. --blocks limits it to a range of blocks (inclusive).\n"},
    {"info",
     "usage: qdxflash info (--sim PLAYER | --device PATH)\n"
     "\n"
     "Identifies the chip, finds the bad blocks and the kernel block, and shows the areas a\n"
     "download writes and the backup plan. Writes nothing.\n"},
    {"download",
     "usage: qdxflash download (--sim PLAYER | --device PATH) --uit FILE --hzk FILE\n"
     "                         [--impm FILE] [--events] [--fault SPEC]... [--trace FILE]\n"
     "                         [--latency-us N]\n"
     "\n"
     "Formats the player and writes the IM/PM (built in unless --impm), UIT and font images,\n"
     "each with a backup copy, all verified.\n"
     "  --events      one JSON object a line on standard output instead of the display\n"
     "  --fault SPEC  (simulated players) fail-command=N, unplug-after=N, fail=SUB@SECTOR,\n"
     "                corrupt-read=SECTOR, weak-sector=SECTOR, format-fails\n"
     "  --trace FILE  (simulated players) one line \"SUB ARGUMENT\" per vendor command\n"
     "  --latency-us N  (simulated players) wait N microseconds per command, to show a\n"
     "                download at the pace of a real player\n"},
    {"check",
     "usage: qdxflash check FILE...\n"
     "\n"
     "Shows each image's key, checksum, payload size and the segments it needs on small-page\n"
     "and large-page chips. Exit 0 when all are valid images, 1 otherwise.\n"},
    {"pack",
     "usage: qdxflash pack PAYLOAD -o IMAGE\n"
     "\n"
     "Writes IMAGE: the header with key and checksum, then PAYLOAD. At most 5 MiB in all.\n"},
    {"list",
     "usage: qdxflash list\n"
     "\n"
     "Lists the disks that may be players: removable USB disks that hold nothing of the running\n"
     "system, with their node, size, USB vendor:product ids, SCSI generic node and whether you\n"
     "may open it; then the disks that are refused, and why.\n"},
};

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

// Splits the words after the command into positional arguments and options. Options that take
// a value accept "--name VALUE" and "--name=VALUE".
struct SplitWords {
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> options;
    bool help = false;
};

bool Split(const std::vector<std::string>& words, const std::set<std::string>& withValue,
           const std::set<std::string>& flags, const std::set<std::string>& repeatable,
           SplitWords& split, std::string& error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--help" || word == "-h") {
            split.help = true;
            continue;
        }
        if (word.size() < 2 || word[0] != '-') {
            split.positional.push_back(word);
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (std::size_t eq = word.find('='); eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
        }
        if (flags.count(name)) {
            if (value) {
                error = "option " + name + " takes no value";
                return false;
            }
            value = "";
        } else if (withValue.count(name)) {
            if (!value) {
                if (i + 1 >= words.size()) {
                    error = "option " + name + " needs a value";
                    return false;
                }
                value = words[++i];
            }
        } else {
            error = "unknown option " + name;
            return false;
        }
        if (split.options.count(name) && !repeatable.count(name)) {
            error = "option " + name + " given twice";
            return false;
        }
        split.options.emplace(name, *value);
    }
    return true;
}

std::optional<std::string> Option(const SplitWords& split, const std::string& name) {
    auto it = split.options.find(name);
    return it == split.options.end() ? std::nullopt : std::optional<std::string>(it->second);
}

ParseResult Fail(const std::string& error) {
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

bool ParseTarget(const SplitWords& split, CliCommand& command, std::string& error) {
    auto sim = Option(split, "--sim");
    auto device = Option(split, "--device");
    if (sim && device) {
        error = "give either --sim PLAYER or --device PATH, not both";
        return false;
    }
    if (!sim && !device) {
        error = "give --sim PLAYER or --device PATH";
        return false;
    }
    command.target = sim ? TargetKind::Sim : TargetKind::Device;
    command.targetPath = sim ? *sim : *device;
    if (command.targetPath.empty()) {
        error = sim ? "--sim needs a player file" : "--device needs a path";
        return false;
    }
    return true;
}

ParseResult ParseSimCreate(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words, {"--chip", "--bad"}, {"--two-chips"}, {}, split, error)) {
        return Fail("sim create: " + error);
    }
    if (split.help) {
        return Help("sim create");
    }
    if (split.positional.size() != 1) {
        return Fail("sim create: give exactly one PLAYER file");
    }
    CliCommand command;
    command.kind = CommandKind::SimCreate;
    command.playerPath = split.positional[0];
    auto chip = Option(split, "--chip");
    if (!chip) {
        return Fail("sim create: --chip CODE is required (one of " + KnownChipCodes() + ")");
    }
    std::uint32_t code = 0;
    if (!ParseUnsigned(*chip, code) || code > 0xFF || !FindChip(static_cast<std::uint8_t>(code))) {
        return Fail("sim create: unknown chip code " + *chip + " (known: " + KnownChipCodes() +
                    ")");
    }
    command.chipCode = static_cast<std::uint8_t>(code);
    command.twoChips = split.options.count("--two-chips") > 0;
    if (auto bad = Option(split, "--bad")) {
        std::size_t start = 0;
        for (;;) {
            std::size_t comma = bad->find(',', start);
            std::string item = bad->substr(start, comma - start);
            std::uint32_t block = 0;
            if (!ParseUnsigned(item, block)) {
                return Fail("sim create: bad block \"" + item + "\" is not a block number");
            }
            command.badBlocks.push_back(block);
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    return Ok(command);
}

ParseResult ParseSimExport(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words, {"--blocks"}, {}, {}, split, error)) {
        return Fail("sim export: " + error);
    }
    if (split.help) {
        return Help("sim export");
    }
    if (split.positional.size() != 2) {
        return Fail("sim export: give a PLAYER file and a RAW output file");
    }
    CliCommand command;
    command.kind = CommandKind::SimExport;
    command.playerPath = split.positional[0];
    command.rawPath = split.positional[1];
    if (auto blocks = Option(split, "--blocks")) {
        std::size_t dash = blocks->find('-');
        BlockRange range;
        if (dash == std::string::npos || !ParseUnsigned(blocks->substr(0, dash), range.first) ||
            !ParseUnsigned(blocks->substr(dash + 1), range.last) || range.first > range.last) {
            return Fail("sim export: --blocks wants FIRST-LAST with FIRST <= LAST, not " + *blocks);
        }
        command.blocks = range;
    }
    return Ok(command);
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

ParseResult ParseSimServe(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words,
               {"--volume", "--fault", "--trace", "--latency-us", "--vendor-id", "--product-id",
                "--serial", "--udc"},
               {}, {"--fault"}, split, error)) {
        return Fail("sim serve: " + error);
    }
    if (split.help) {
        return Help("sim serve");
    }
    if (split.positional.size() != 1) {
        return Fail("sim serve: give exactly one PLAYER file");
    }
    CliCommand command;
    command.kind = CommandKind::SimServe;
    command.playerPath = split.positional[0];
    command.volumePath = Option(split, "--volume").value_or("");
    if (split.options.count("--volume") && command.volumePath.empty()) {
        return Fail("sim serve: --volume needs an image file");
    }
    for (auto [it, end] = split.options.equal_range("--fault"); it != end; ++it) {
        command.faults.push_back(it->second);
    }
    command.tracePath = Option(split, "--trace").value_or("");
    if (split.options.count("--trace") && command.tracePath.empty()) {
        return Fail("sim serve: --trace needs a file");
    }
    if (auto latency = Option(split, "--latency-us")) {
        std::uint32_t value = 0;
        if (!ParseUnsigned(*latency, value) || value > 1000000) {
            return Fail("sim serve: --latency-us needs a number of microseconds up to 1000000");
        }
        command.latencyMicros = value;
    }
    if (!ParseUsbId(Option(split, "--vendor-id"), command.usbVendorId) ||
        !ParseUsbId(Option(split, "--product-id"), command.usbProductId)) {
        return Fail("sim serve: --vendor-id and --product-id take 4 hex digits, such as 1d6b");
    }
    command.usbSerial = Option(split, "--serial").value_or(command.usbSerial);
    if (command.usbSerial.empty() || command.usbSerial.size() > 126) {
        return Fail("sim serve: --serial needs 1 to 126 characters");
    }
    command.udcName = Option(split, "--udc").value_or("");
    return Ok(command);
}

ParseResult ParseInfo(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words, {"--sim", "--device"}, {}, {}, split, error)) {
        return Fail("info: " + error);
    }
    if (split.help) {
        return Help("info");
    }
    if (!split.positional.empty()) {
        return Fail("info: unexpected argument " + split.positional[0]);
    }
    CliCommand command;
    command.kind = CommandKind::Info;
    if (!ParseTarget(split, command, error)) {
        return Fail("info: " + error);
    }
    return Ok(command);
}

ParseResult ParseDownload(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(
            words,
            {"--sim", "--device", "--uit", "--hzk", "--impm", "--fault", "--trace", "--latency-us"},
            {"--events"}, {"--fault"}, split, error)) {
        return Fail("download: " + error);
    }
    if (split.help) {
        return Help("download");
    }
    if (!split.positional.empty()) {
        return Fail("download: unexpected argument " + split.positional[0]);
    }
    CliCommand command;
    command.kind = CommandKind::Download;
    if (!ParseTarget(split, command, error)) {
        return Fail("download: " + error);
    }
    auto uit = Option(split, "--uit");
    auto hzk = Option(split, "--hzk");
    if (!uit || uit->empty() || !hzk || hzk->empty()) {
        return Fail("download: --uit FILE and --hzk FILE are required");
    }
    command.uitPath = *uit;
    command.hzkPath = *hzk;
    command.impmPath = Option(split, "--impm");
    if (command.impmPath && command.impmPath->empty()) {
        return Fail("download: --impm needs a file");
    }
    command.events = split.options.count("--events") > 0;
    for (auto [it, end] = split.options.equal_range("--fault"); it != end; ++it) {
        command.faults.push_back(it->second);
    }
    command.tracePath = Option(split, "--trace").value_or("");
    if (command.target != TargetKind::Sim &&
        (!command.faults.empty() || split.options.count("--trace"))) {
        return Fail("download: --fault and --trace work on simulated players (--sim) only");
    }
    if (split.options.count("--trace") && command.tracePath.empty()) {
        return Fail("download: --trace needs a file");
    }
    if (auto latency = Option(split, "--latency-us")) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(latency->c_str(), &end, 10);
        if (latency->empty() || *end != '\0' || (*latency)[0] == '-' || value > 1000000) {
            return Fail("download: --latency-us needs a number of microseconds up to 1000000");
        }
        if (command.target != TargetKind::Sim) {
            return Fail("download: --latency-us works on simulated players (--sim) only");
        }
        command.latencyMicros = static_cast<std::uint32_t>(value);
    }
    return Ok(command);
}

ParseResult ParseCheck(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words, {}, {}, {}, split, error)) {
        return Fail("check: " + error);
    }
    if (split.help) {
        return Help("check");
    }
    if (split.positional.empty()) {
        return Fail("check: give one or more image files");
    }
    CliCommand command;
    command.kind = CommandKind::Check;
    command.files = split.positional;
    return Ok(command);
}

ParseResult ParsePack(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words, {"-o", "--output"}, {}, {}, split, error)) {
        return Fail("pack: " + error);
    }
    if (split.help) {
        return Help("pack");
    }
    auto output = Option(split, "-o");
    auto longOutput = Option(split, "--output");
    if (output && longOutput) {
        return Fail("pack: option -o given twice");
    }
    if (!output) {
        output = longOutput;
    }
    if (split.positional.size() != 1 || !output || output->empty()) {
        return Fail("pack: give one PAYLOAD file and -o IMAGE");
    }
    CliCommand command;
    command.kind = CommandKind::Pack;
    command.payloadPath = split.positional[0];
    command.outputPath = *output;
    return Ok(command);
}

ParseResult ParseList(const std::vector<std::string>& words) {
    SplitWords split;
    std::string error;
    if (!Split(words, {}, {}, {}, split, error)) {
        return Fail("list: " + error);
    }
    if (split.help) {
        return Help("list");
    }
    if (!split.positional.empty()) {
        return Fail("list: unexpected argument " + split.positional[0]);
    }
    CliCommand command;
    command.kind = CommandKind::List;
    return Ok(command);
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Fail("no command given; qdxflash --help lists the commands");
    }
    const std::string& name = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (name == "--help" || name == "-h" || name == "help") {
        if (!rest.empty() && (kUsageByTopic.count(rest[0]) || rest[0] == "sim")) {
            std::string topic = rest[0];
            if (topic == "sim" && rest.size() > 1 && kUsageByTopic.count("sim " + rest[1])) {
                topic += " " + rest[1];
            }
            return Help(topic);
        }
        return Help("");
    }
    if (name == "sim") {
        if (rest.empty()) {
            return Fail("sim: give create, export or serve");
        }
        std::string sub = rest[0];
        std::vector<std::string> words(rest.begin() + 1, rest.end());
        if (sub == "create") {
            return ParseSimCreate(words);
        }
        if (sub == "export") {
            return ParseSimExport(words);
        }
        if (sub == "serve") {
            return ParseSimServe(words);
        }
        if (sub == "--help" || sub == "-h") {
            return Help("sim");
        }
        return Fail("sim: unknown command " + sub + "; give create, export or serve");
    }
    if (name == "info") {
        return ParseInfo(rest);
    }
    if (name == "download") {
        return ParseDownload(rest);
    }
    if (name == "check") {
        return ParseCheck(rest);
    }
    if (name == "pack") {
        return ParsePack(rest);
    }
    if (name == "list") {
        return ParseList(rest);
    }
    return Fail("unknown command " + name + "; qdxflash --help lists the commands");
}

std::string UsageText(const std::string& topic) {
    auto it = kUsageByTopic.find(topic);
    return it == kUsageByTopic.end() ? kUsageAll : it->second;
}

}  // namespace qdx::cli
