#include "cli/PlayerDownload.h"

#include <cstdio>

#include "engine/DownloadLaunch.h"
#include "files/BuiltinImage.h"

namespace qdx::cli {

PlayerDownload::PlayerDownload(Reporter& reporter, int player,
                               std::unique_ptr<players::PlayerSource> source)
    : m_reporter(reporter),
      m_player(player),
      m_source(std::move(source)),
      m_engine(&reporter.Ports(player)) {
    m_engine.SetBuiltinImage(BuiltinImage());
    m_outcome.name = reporter.View(player).name;
}

PlayerDownload::~PlayerDownload() {
    if (m_runner.joinable()) {
        m_runner.join();
    }
}

void PlayerDownload::Start(const JobOptions& options, const FirmwarePaths& paths,
                           const SharedImages& images) {
    m_engine.ShareImages(images);
    m_running.store(true);
    m_runner = std::thread(&PlayerDownload::Run, this, options, paths);
}

bool PlayerDownload::Running() const {
    return m_running.load();
}

void PlayerDownload::Run(JobOptions options, FirmwarePaths paths) {
    const auto started = std::chrono::steady_clock::now();
    PlayerPorts& ports = m_reporter.Ports(m_player);
    const LaunchPorts launchPorts{&ports, &ports, &ports, &ports};
    std::string openError;
    const LaunchOutcome outcome = LaunchDownload(
        m_engine, m_thread, [&] { return m_source->Open(&openError); }, options, paths,
        launchPorts);
    if (outcome == LaunchOutcome::OpenFailed && !openError.empty()) {
        m_outcome.errors.push_back(openError);
    }
    m_outcome.ending = EndingOfLaunch(outcome);
    if (outcome == LaunchOutcome::Started) {
        m_thread.Join();
        m_outcome.exitCode = m_thread.ExitCode();
        m_outcome.ending = m_thread.Ending().value_or(JobEnding::LaunchFailed);
    }
    if (m_engine.DeviceCode() != 0) {
        char chip[16];
        std::snprintf(chip, sizeof chip, "0x%02X%s", m_engine.DeviceCode(),
                      m_engine.TwoChips() ? " x2" : "");
        m_outcome.chip = chip;
    } else {
        m_outcome.chip = "-";
    }
    std::string error;
    if (!m_source->Finish(&error)) {
        m_outcome.errors.push_back(error);
        m_outcome.ending = JobEnding::SaveFailed;
    }
    if (!m_source->FinishTrace(&error)) {
        m_outcome.errors.push_back(error);
    }
    m_outcome.notes = m_source->Notes();
    m_outcome.duration = std::chrono::steady_clock::now() - started;
    m_outcome.firstMessage = m_reporter.View(m_player).firstMessage;
    // The player's last event or line, as soon as it is saved.
    m_reporter.Finish(m_player, m_outcome.ending, m_outcome.exitCode);
    m_running.store(false);
}

PlayerOutcome PlayerDownload::Finish() {
    if (m_runner.joinable()) {
        m_runner.join();
    }
    return m_outcome;
}

}  // namespace qdx::cli
