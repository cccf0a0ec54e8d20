// download: the launch of the desktop program, then the worker's job, for one player or several
// at once, reported on the terminal or as events.
#include <cctype>
#include <cstdio>
#include <deque>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/PlayerDownload.h"
#include "cli/Reporter.h"
#include "cli/RunSetup.h"
#include "cli/TerminalText.h"
#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"
#include "players/PlayerSource.h"
#include "sim/AtomicFile.h"
#include "transport/Disks.h"

namespace qdx::cli {

int PrepareTarget(const CliCommand& command, std::unique_ptr<players::PlayerSource>& source,
                  std::ostream& err) {
    std::string error;
    const std::optional<players::PlayerTarget> target =
        ResolveTarget(command, command.targets.front(), &error);
    if (target) {
        source = players::PlayerSource::Prepare(*target, &error);
    }
    if (!source) {
        err << "qdxflash: " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

namespace {

// An image given where another kind is expected (--uit font.hzk) is written to the wrong area
// without a word otherwise; the file's name is the only hint there is.
void WarnAboutExtensions(const CliCommand& command, std::ostream& err) {
    const struct {
        const char* option;
        const std::string& path;
        const char* extension;
    } images[] = {{"--uit", command.uitPath, ".uit"}, {"--hzk", command.hzkPath, ".hzk"}};
    for (const auto& image : images) {
        std::string lower = image.path;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const std::size_t length = std::char_traits<char>::length(image.extension);
        if (lower.size() < length ||
            lower.compare(lower.size() - length, length, image.extension) != 0) {
            err << "qdxflash: warning: " << image.option << ' ' << image.path << " does not end in "
                << image.extension << "; is it the right image?\n";
        }
    }
}

// The trace is an output; writing it over one of the command's inputs would lose that input.
std::optional<std::string> TraceOverwritesAnInput(const CliCommand& command) {
    if (command.tracePath.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> inputs = {command.uitPath, command.hzkPath};
    for (const Target& target : command.targets) {
        inputs.push_back(target.path);
    }
    if (command.impmPath) {
        inputs.push_back(*command.impmPath);
    }
    for (const std::string& input : inputs) {
        if (sim::SameFile(command.tracePath, input)) {
            return "--trace " + command.tracePath + " is the same file as the input " + input +
                   "; give the trace a file of its own";
        }
    }
    return std::nullopt;
}

// The players of the run: the targets given, or with --all every disk qdxflash list accepts.
std::vector<Target> TargetsOf(const CliCommand& command) {
    std::vector<Target> targets = command.targets;
    if (command.allPlayers) {
        for (const DiskInfo& disk : ListDisks()) {
            if (disk.refusal.empty() && disk.hasMedia) {
                targets.push_back({TargetKind::Device, disk.node});
            }
        }
    }
    return targets;
}

// A usage error under --events still ends with an end event, so that a program reading them
// always sees how the run ended.
int UsageError(const CliCommand& command, Reporter& reporter, std::ostream& err,
               const std::string& text) {
    err << "qdxflash: " << text << '\n';
    if (command.events) {
        const int player = reporter.AddPlayer("");
        reporter.Ports(player).Show(text);
        reporter.Finish(player, JobEnding::LaunchFailed, std::nullopt);
    }
    return kExitUsage;
}

void PrintSummary(const std::vector<PlayerOutcome>& outcomes, std::ostream& out) {
    int nameColumns = 6;
    for (const PlayerOutcome& outcome : outcomes) {
        nameColumns = std::max(nameColumns, DisplayWidth(outcome.name));
    }
    nameColumns = std::min(nameColumns, 40);
    out << '\n'
        << FitToWidth("player", nameColumns, true) << "  chip     ending          time     "
        << "first message\n";
    int completed = 0;
    for (const PlayerOutcome& outcome : outcomes) {
        completed += outcome.ending == JobEnding::Completed ? 1 : 0;
        std::ostringstream time;
        time << std::fixed << std::setprecision(1)
             << std::chrono::duration<double>(outcome.duration).count() << " s";
        out << FitToWidth(outcome.name, nameColumns, true) << "  "
            << FitToWidth(outcome.chip, 7, true) << "  "
            << FitToWidth(JobEndingName(outcome.ending), 14, true) << "  "
            << FitToWidth(time.str(), 7, true) << "  "
            << (outcome.firstMessage.empty() ? "-" : outcome.firstMessage) << '\n';
    }
    out << completed << " of " << outcomes.size() << " players completed\n";
}

}  // namespace

void ReportUsageErrorAsEvents(const std::string& error, std::ostream& out) {
    Reporter reporter(out, ReportMode::Events);
    const int player = reporter.AddPlayer("");
    reporter.Ports(player).Show(error);
    reporter.Finish(player, JobEnding::LaunchFailed, std::nullopt);
}

int RunDownload(const CliCommand& command, std::ostream& out, std::ostream& err) {
    Reporter reporter(out, ModeFor(command, out), &err, StyleFor(out));
    if (const auto traceOverInput = TraceOverwritesAnInput(command)) {
        return UsageError(command, reporter, err, *traceOverInput);
    }
    WarnAboutExtensions(command, err);
    // Held from before any player file is taken until every player is saved.
    DownloadInterrupts interrupts;

    const std::vector<Target> targets = TargetsOf(command);
    if (targets.empty()) {
        return UsageError(command, reporter, err,
                          "--all found no player: players show up as removable USB disks "
                          "(qdxflash list shows what there is)");
    }
    // Every player is prepared before any is touched: one that cannot be used stops the run.
    std::vector<std::unique_ptr<players::PlayerSource>> sources;
    for (const Target& target : targets) {
        std::string error;
        const std::optional<players::PlayerTarget> resolved =
            ResolveTarget(command, target, &error);
        std::unique_ptr<players::PlayerSource> source =
            resolved ? players::PlayerSource::Prepare(*resolved, &error) : nullptr;
        if (!source) {
            return UsageError(command, reporter, err, error);
        }
        sources.push_back(std::move(source));
    }

    const FirmwarePaths paths = PathsFor(command);
    JobOptions options;
    SwitchOnJobOptions(options);
    reporter.NamePlayers(targets.size() > 1);
    std::deque<PlayerDownload> downloads;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::string name = sources[i]->Target().path;
        downloads.emplace_back(reporter, reporter.AddPlayer(name), std::move(sources[i]));
    }

    // A build without the player's firmware never writes its placeholder into a real player.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!MayWriteBuiltinImage(paths, targets[i].kind == TargetKind::Sim,
                                  BuiltinImageIsPlaceholder())) {
            PlayerPorts& ports = reporter.Ports(static_cast<int>(i));
            ports.ShowForFile(kPlaceholderMessage, "built-in IM/PM image",
                              "the placeholder, not the player's firmware");
            for (std::size_t j = 0; j < targets.size(); ++j) {
                reporter.Finish(static_cast<int>(j), JobEnding::LaunchFailed, std::nullopt);
            }
            return kExitFailed;
        }
    }

    const SharedImages images = ReadImagesOnce(paths);
    for (PlayerDownload& download : downloads) {
        download.Start(options, paths, images);
    }
    int told = 0;
    auto running = [&downloads] {
        return std::any_of(downloads.begin(), downloads.end(),
                           [](const PlayerDownload& d) { return d.Running(); });
    };
    while (running()) {
        const int signals = interrupts.Wait(std::chrono::milliseconds(100));
        if (signals == told) {
            continue;
        }
        told = signals;
        if (signals == 1) {
            reporter.Note(
                "qdxflash: the download goes on until it ends: a player interrupted now has to "
                "be downloaded again. Interrupt once more to stop at once.");
        } else {
            for (PlayerDownload& download : downloads) {
                download.RequestStop();
            }
            reporter.Note(
                "qdxflash: stopping; a player left part-written must be downloaded again.");
        }
    }

    std::vector<PlayerOutcome> outcomes;
    bool allCompleted = true;
    bool toolFailed = false;
    for (PlayerDownload& download : downloads) {
        PlayerOutcome outcome = download.Finish();
        for (const std::string& note : outcome.notes) {
            err << "qdxflash: " << (downloads.size() > 1 ? "[" + outcome.name + "] " : "") << note
                << '\n';
        }
        for (const std::string& error : outcome.errors) {
            err << "qdxflash: " << (downloads.size() > 1 ? "[" + outcome.name + "] " : "") << error
                << '\n';
            // An open failure is the launch's; any other (a save, the trace) fails the command.
            toolFailed = toolFailed || outcome.ending != JobEnding::LaunchFailed;
        }
        allCompleted = allCompleted && outcome.ending == JobEnding::Completed;
        outcomes.push_back(std::move(outcome));
    }
    if (downloads.size() > 1 && !command.events) {
        reporter.EndLive();
        PrintSummary(outcomes, out);
    }
    return allCompleted && !toolFailed ? kExitOk : kExitFailed;
}

}  // namespace qdx::cli
