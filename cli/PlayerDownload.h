// One player's download within a run of qdxflash: its own player source, engine and worker, on
// its own thread from the launch to the save, reporting through its own ports. Several run side
// by side without touching each other.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/Reporter.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/JobEnding.h"
#include "engine/JobSettings.h"
#include "players/PlayerSource.h"

namespace qdx::cli {

// How one player's download ended, for the summary and the station's log.
struct PlayerOutcome {
    std::string name;
    std::string chip;  // "0x73", "0xD3 x2"; "-" when the chip was not identified
    JobEnding ending = JobEnding::LaunchFailed;
    std::optional<std::uint32_t> exitCode;  // set when a worker ran
    std::chrono::steady_clock::duration duration{};
    std::string firstMessage;
    std::vector<std::string> errors;  // what went to the error stream (open, save, trace)
    std::vector<std::string> notes;   // what else people should know (volumes unmounted)
};

// The images every player of a run writes: read and judged once.
using SharedImages = std::vector<std::pair<std::string, std::shared_ptr<const ImageData>>>;

class PlayerDownload {
public:
    PlayerDownload(Reporter& reporter, int player, std::unique_ptr<players::PlayerSource> source);
    ~PlayerDownload();
    PlayerDownload(const PlayerDownload&) = delete;
    PlayerDownload& operator=(const PlayerDownload&) = delete;

    // Starts the launch and the job on a thread of this player's.
    void Start(const JobOptions& options, const FirmwarePaths& paths, const SharedImages& images);
    // True until the job has ended and the player is saved.
    bool Running() const;
    // The job ends at its next command (interrupted).
    void RequestStop() { m_engine.RequestStop(); }
    // Waits for the end (reported as the player's last event or line once it is saved); the
    // outcome.
    PlayerOutcome Finish();
    int Player() const { return m_player; }

private:
    void Run(JobOptions options, FirmwarePaths paths);

    Reporter& m_reporter;
    int m_player;
    std::unique_ptr<players::PlayerSource> m_source;
    CFlashEngine m_engine;
    CDownloadThread m_thread;
    std::thread m_runner;
    std::atomic<bool> m_running{false};
    PlayerOutcome m_outcome;
};

}  // namespace qdx::cli
