// station: waits for players and downloads each one as it arrives, several at once, until it is
// stopped; one line per finished player on the terminal and in a log of JSON lines.
#include <chrono>
#include <ctime>
#include <deque>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/PlayerDownload.h"
#include "cli/Reporter.h"
#include "cli/RunSetup.h"
#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"
#include "players/PlayerArrivals.h"

namespace qdx::cli {

namespace {

std::string WallClock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::ostringstream text;
    text << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return text.str();
}

struct Running {
    players::PresentPlayer player;
    std::unique_ptr<PlayerDownload> download;
};

}  // namespace

int RunStation(const CliCommand& command, std::ostream& out, std::ostream& err) {
    Reporter reporter(out, ModeFor(command, out), &err, StyleFor(out));
    reporter.NamePlayers(true);
    reporter.QuietPlainLines();
    const FirmwarePaths paths = PathsFor(command);
    // One set of images for the whole line, checked before the first player comes.
    const SharedImages images = ReadImagesOnce(paths);
    if (!ImagesValid(images, err)) {
        err << "qdxflash: station: not started; every player would fail\n";
        return kExitFailed;
    }
    const bool simulated = !command.simDir.empty();
    if (!MayWriteBuiltinImage(paths, simulated, BuiltinImageIsPlaceholder())) {
        err << "qdxflash: station: " << kPlaceholderMessage << '\n';
        return kExitFailed;
    }
    std::ofstream log;
    if (!command.logPath.empty()) {
        log.open(command.logPath, std::ios::app);
        if (!log) {
            err << "qdxflash: station: cannot append to the log " << command.logPath << '\n';
            return kExitUsage;
        }
    }
    std::unique_ptr<players::IPlayerArrivals> arrivals;
    if (simulated) {
        Target sample{TargetKind::Sim, command.simDir};
        std::string error;
        const std::optional<players::PlayerTarget> simTarget =
            ResolveTarget(command, sample, &error);
        if (!simTarget) {
            err << "qdxflash: station: " << error << '\n';
            return kExitUsage;
        }
        std::error_code folderError;
        if (!std::filesystem::is_directory(command.simDir, folderError)) {
            err << "qdxflash: station: " << command.simDir << " is no folder\n";
            return kExitUsage;
        }
        arrivals = players::WatchSimFolder(command.simDir, *simTarget);
    } else {
        arrivals = players::WatchDisks();
    }

    DownloadInterrupts interrupts;
    JobOptions options;
    SwitchOnJobOptions(options);
    reporter.Note(
        "qdxflash: station: waiting for players (" +
        (simulated ? "*.sim files in " + command.simDir : std::string("removable USB disks")) +
        "); Ctrl-C stops after the running downloads");

    std::deque<Running> running;
    std::set<std::string> taken;  // downloaded during this plug-in; free again once it left
    int completed = 0;
    int failed = 0;
    int told = 0;
    for (;;) {
        const int signals = interrupts.Count();
        if (signals != told) {
            told = signals;
            if (signals == 1) {
                reporter.Note(
                    "qdxflash: station: no new players; the running downloads finish first "
                    "(interrupt once more to stop them at once: those players must be "
                    "downloaded again)");
            } else {
                for (Running& r : running) {
                    r.download->RequestStop();
                }
            }
        }
        if (told > 0 && running.empty()) {
            break;
        }

        const std::vector<players::PresentPlayer> present =
            arrivals->Present(std::chrono::milliseconds(200));
        std::set<std::string> presentIds;
        for (const players::PresentPlayer& player : present) {
            presentIds.insert(player.id);
        }
        // A player that has left may be taken again when it comes back.
        for (auto it = taken.begin(); it != taken.end();) {
            const bool stillRunning =
                std::any_of(running.begin(), running.end(),
                            [&](const Running& r) { return r.player.id == *it; });
            it = presentIds.count(*it) || stillRunning ? std::next(it) : taken.erase(it);
        }
        if (told == 0) {
            for (const players::PresentPlayer& player : present) {
                if (taken.count(player.id)) {
                    continue;
                }
                std::string error;
                std::unique_ptr<players::PlayerSource> source =
                    players::PlayerSource::Prepare(player.target, &error);
                if (!source) {
                    // A file another program holds, or one being replaced: looked at again later.
                    continue;
                }
                taken.insert(player.id);
                const int index = reporter.AddPlayer(player.target.path);
                auto download =
                    std::make_unique<PlayerDownload>(reporter, index, std::move(source));
                download->Start(options, paths, images);
                running.push_back(Running{player, std::move(download)});
            }
        }
        for (auto it = running.begin(); it != running.end();) {
            if (it->download->Running()) {
                ++it;
                continue;
            }
            const PlayerOutcome outcome = it->download->Finish();
            reporter.Retire(it->download->Player());
            (outcome.ending == JobEnding::Completed ? completed : failed) += 1;
            const double seconds = std::chrono::duration<double>(outcome.duration).count();
            std::ostringstream line;
            line << WallClock() << "  " << outcome.name << "  "
                 << (it->player.serial.empty() ? "-" : it->player.serial) << "  " << outcome.chip
                 << "  " << JobEndingName(outcome.ending) << "  " << std::fixed
                 << std::setprecision(1) << seconds << " s";
            if (!outcome.firstMessage.empty()) {
                line << "  " << outcome.firstMessage;
            }
            line << "   [completed " << completed << ", failed " << failed << "]";
            reporter.Note(line.str());
            for (const std::string& error : outcome.errors) {
                err << "qdxflash: [" << outcome.name << "] " << error << '\n';
            }
            if (log.is_open()) {
                nlohmann::ordered_json entry = {{"time", WallClock()},
                                                {"player", outcome.name},
                                                {"serial", it->player.serial},
                                                {"chip", outcome.chip},
                                                {"ending", JobEndingName(outcome.ending)},
                                                {"seconds", seconds},
                                                {"message", outcome.firstMessage},
                                                {"completed", completed},
                                                {"failed", failed}};
                log << entry.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                    << '\n';
                log.flush();
            }
            it = running.erase(it);
        }
    }
    reporter.Note("qdxflash: station: stopped; " + std::to_string(completed) + " completed, " +
                  std::to_string(failed) + " failed");
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace qdx::cli
