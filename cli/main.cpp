#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"

int main(int argc, char** argv) {
    using namespace qdx::cli;
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = ParseCommandLine(args);
    if (!parsed.command) {
        std::cerr << "qdxflash: " << parsed.error << '\n';
        // A program that asked for events gets its end event even for words it got wrong.
        if (std::find(args.begin(), args.end(), "--events") != args.end()) {
            ReportUsageErrorAsEvents(parsed.error, std::cout);
        }
        return kExitUsage;
    }
    const CliCommand& command = *parsed.command;
    switch (command.kind) {
        case CommandKind::Help:
            std::cout << UsageText(command.helpTopic);
            return kExitOk;
        case CommandKind::SimCreate:
            return RunSimCreate(command, std::cout, std::cerr);
        case CommandKind::SimExport:
            return RunSimExport(command, std::cout, std::cerr);
        case CommandKind::SimServe:
            return RunSimServe(command, std::cout, std::cerr);
        case CommandKind::Info:
            return RunInfo(command, std::cout, std::cerr);
        case CommandKind::Download:
            return RunDownload(command, std::cout, std::cerr);
        case CommandKind::Station:
            return RunStation(command, std::cout, std::cerr);
        case CommandKind::Check:
            return RunCheck(command, std::cout, std::cerr);
        case CommandKind::Pack:
            return RunPack(command, std::cout, std::cerr);
        case CommandKind::List:
            return RunList(command, std::cout, std::cerr);
    }
    return kExitUsage;
}
