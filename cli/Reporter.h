// What qdxflash shows of one or more downloads: every player's status texts, progress and
// messages, as JSON events, as live lines on a terminal (one per player, redrawn in place), or as
// plain lines. Each player's worker reports through its own ports, so every call holds one lock.
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/JobEnding.h"
#include "engine/Ports.h"

namespace qdx::cli {

enum class ReportMode {
    Events,        // one JSON object a line
    TerminalLive,  // a line per player redrawn in place, messages above them
    TerminalPlain  // status lines and one line per change of the share done
};

// How the terminal looks: its width in columns and whether colour may be used.
struct TerminalStyle {
    int width = 80;
    bool color = false;
};

// What the display knows of one player.
struct PlayerView {
    std::string name;
    std::string phase;  // the last status text
    int percent = 0;
    std::chrono::steady_clock::time_point start;
    std::optional<JobEnding> ending;
    std::chrono::steady_clock::time_point end;  // when it ended
    std::string firstMessage;
};

// One live line: the player's name (in nameColumns, when given), the phase, a bar, the share
// done, the time so far and an estimate of the time left; at most width columns.
std::string RenderLiveLine(const PlayerView& player, int nameColumns, int width, bool color,
                           std::chrono::steady_clock::time_point now);

class Reporter;

// One player's side of the engine's ports.
class PlayerPorts : public IMessageBox,
                    public IButtonControl,
                    public ITextControl,
                    public IProgressControl {
public:
    PlayerPorts(Reporter& reporter, int player) : m_reporter(reporter), m_player(player) {}
    void Show(const std::string& text) override;
    void ShowForFile(const std::string& text, const std::string& file,
                     const std::string& reason) override;
    void SetEnabled(bool enabled) override;
    bool SetText(const std::string& text) override;
    bool SetPosition(int position, int percent) override;

private:
    Reporter& m_reporter;
    int m_player;
};

class Reporter {
public:
    // Messages about one file also name it and say why on err.
    Reporter(std::ostream& out, ReportMode mode, std::ostream* err = nullptr,
             TerminalStyle style = {});
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // A player to report on, by the name events and lines use for it; its index.
    int AddPlayer(const std::string& name);
    // Whether events and lines name the player: once one command drives several players.
    void NamePlayers(bool named);
    // Plain output shows only messages, notes and the finished players' lines, not every status
    // and share (a station's log of a day).
    void QuietPlainLines() { m_quietPlain = true; }
    PlayerPorts& Ports(int player);
    PlayerView View(int player) const;

    void Show(int player, const std::string& text, const std::string* file,
              const std::string* reason);
    bool SetText(int player, const std::string& text);
    bool SetPosition(int player, int position, int percent);
    // The player's last line: its ending, with the worker's exit code when a worker ran.
    void Finish(int player, JobEnding ending, std::optional<std::uint32_t> exitCode);
    // Takes a finished player's line off the live display.
    void Retire(int player);
    // A line for people above the live lines (on the error stream under --events).
    void Note(const std::string& line);
    // Leaves the live lines as they are last drawn; what is written afterwards goes below.
    void EndLive();

private:
    void DrawLocked(bool force);
    void ClearLiveLocked();
    std::string PrefixLocked(int player) const;
    void EventLocked(int player, const char* kind, const std::string& key,
                     const std::string& value);

    mutable std::mutex m_mutex;
    std::ostream& m_out;
    std::ostream* m_err;
    ReportMode m_mode;
    TerminalStyle m_style;
    bool m_named = false;
    bool m_quietPlain = false;
    std::deque<PlayerView> m_players;
    std::deque<PlayerPorts> m_ports;
    std::vector<bool> m_live;    // the player has a line on the live display
    std::vector<int> m_printed;  // plain output: the share last printed per player
    int m_drawnLines = 0;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace qdx::cli
