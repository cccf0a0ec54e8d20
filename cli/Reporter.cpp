#include "cli/Reporter.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/TerminalText.h"

namespace qdx::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The longest status text, 状态：正在传送IMPM文件…, takes 23 columns.
constexpr int kPhaseColumns = 24;

// Redraws caused by progress alone come at most this often; a terminal needs no more.
constexpr auto kRedrawInterval = std::chrono::milliseconds(80);

const char kGreen[] = "\x1b[32m";
const char kRed[] = "\x1b[31m";
const char kPlain[] = "\x1b[0m";

// One event, one line: the keys in the order given, no spaces, UTF-8 as it is. Texts are not
// checked for UTF-8 elsewhere (a file name may hold any bytes); invalid bytes become U+FFFD.
void WriteEvent(std::ostream& out, const nlohmann::ordered_json& event) {
    out << event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

std::string Bar(int percent, int columns) {
    const int filled = std::clamp(percent, 0, 100) * columns / 100;
    std::string bar(static_cast<std::size_t>(columns) + 2, '-');
    bar.front() = '[';
    bar.back() = ']';
    std::fill_n(bar.begin() + 1, filled, '#');
    return bar;
}

}  // namespace

std::string RenderLiveLine(const PlayerView& player, int nameColumns, int width, bool color,
                           Clock::time_point now) {
    const Clock::duration elapsed = (player.ending ? player.end : now) - player.start;
    std::string tail;
    if (player.ending) {
        tail = std::string(JobEndingName(*player.ending)) + "  " + FormatDuration(elapsed);
    } else {
        char share[8];
        std::snprintf(share, sizeof share, "%3d%%", std::clamp(player.percent, 0, 100));
        tail = share + std::string("  ") + FormatDuration(elapsed);
        if (player.percent > 0 && player.percent < 100) {
            const auto left = elapsed * (100 - player.percent) / player.percent;
            tail += "  ~" + FormatDuration(left) + " left";
        }
    }
    std::string line;
    int available = width;
    if (nameColumns > 0) {
        line = FitToWidth(player.name, nameColumns, true) + "  ";
        available -= nameColumns + 2;
    }
    // The figures first, then the phase (in a column as wide as the longest status text, so
    // that the bars of several players line up), then a bar in what is left.
    const int tailColumns = DisplayWidth(tail);
    int phaseColumns = kPhaseColumns;
    if (phaseColumns + 2 + tailColumns > available) {
        phaseColumns = std::max(0, available - tailColumns - 2);
    }
    int barColumns = std::min(available - phaseColumns - tailColumns - 4, 30);
    if (barColumns < 8 || player.ending) {
        barColumns = 0;  // a narrow terminal: the figures say it all
    }
    line += FitToWidth(player.phase, phaseColumns, true);
    if (barColumns > 0) {
        line += "  " + Bar(player.percent, barColumns - 2);
    }
    line = FitToWidth(line + "  " + tail, width, false);
    if (color && player.ending) {
        const std::string name = JobEndingName(*player.ending);
        const std::size_t at = line.rfind(name);
        if (at != std::string::npos) {
            const bool completed = *player.ending == JobEnding::Completed;
            line.replace(at, name.size(), (completed ? kGreen : kRed) + name + kPlain);
        }
    }
    return line;
}

void PlayerPorts::Show(const std::string& text) {
    m_reporter.Show(m_player, text, nullptr, nullptr);
}

void PlayerPorts::ShowForFile(const std::string& text, const std::string& file,
                              const std::string& reason) {
    m_reporter.Show(m_player, text, &file, &reason);
}

void PlayerPorts::SetEnabled(bool) {
    // The Start button has no counterpart here: the tool runs its jobs and ends.
}

bool PlayerPorts::SetText(const std::string& text) {
    return m_reporter.SetText(m_player, text);
}

bool PlayerPorts::SetPosition(int position, int percent) {
    return m_reporter.SetPosition(m_player, position, percent);
}

Reporter::Reporter(std::ostream& out, ReportMode mode, std::ostream* err, TerminalStyle style)
    : m_out(out), m_err(err), m_mode(mode), m_style(style) {}

Reporter::~Reporter() {
    EndLive();
}

void Reporter::EndLive() {
    std::lock_guard lock(m_mutex);
    DrawLocked(true);
    // What is drawn now stays as it is; later lines go below it.
    m_drawnLines = 0;
    std::fill(m_live.begin(), m_live.end(), false);
}

int Reporter::AddPlayer(const std::string& name) {
    std::lock_guard lock(m_mutex);
    const int index = static_cast<int>(m_players.size());
    m_players.push_back(PlayerView{name, "", 0, Clock::now(), std::nullopt, {}, ""});
    m_ports.emplace_back(*this, index);
    m_live.push_back(true);
    m_printed.push_back(-1);
    return index;
}

void Reporter::NamePlayers(bool named) {
    std::lock_guard lock(m_mutex);
    m_named = named;
}

PlayerPorts& Reporter::Ports(int player) {
    std::lock_guard lock(m_mutex);
    return m_ports[static_cast<std::size_t>(player)];
}

PlayerView Reporter::View(int player) const {
    std::lock_guard lock(m_mutex);
    return m_players[static_cast<std::size_t>(player)];
}

std::string Reporter::PrefixLocked(int player) const {
    return m_named ? "[" + m_players[static_cast<std::size_t>(player)].name + "] " : "";
}

void Reporter::EventLocked(int player, const char* kind, const std::string& key,
                           const std::string& value) {
    nlohmann::ordered_json event = {{"event", kind}};
    if (m_named) {
        event["player"] = m_players[static_cast<std::size_t>(player)].name;
    }
    event[key] = value;
    WriteEvent(m_out, event);
}

void Reporter::ClearLiveLocked() {
    if (m_drawnLines > 0) {
        m_out << "\x1b[" << m_drawnLines << "A\r\x1b[J";
        m_drawnLines = 0;
    }
}

void Reporter::DrawLocked(bool force) {
    if (m_mode != ReportMode::TerminalLive) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!force && now - m_lastDraw < kRedrawInterval) {
        return;
    }
    m_lastDraw = now;
    int nameColumns = 0;
    if (m_named) {
        for (std::size_t i = 0; i < m_players.size(); ++i) {
            if (m_live[i]) {
                nameColumns = std::max(nameColumns, DisplayWidth(m_players[i].name));
            }
        }
        nameColumns = std::min(nameColumns, std::max(8, m_style.width / 4));
    }
    ClearLiveLocked();
    for (std::size_t i = 0; i < m_players.size(); ++i) {
        if (m_live[i]) {
            m_out << RenderLiveLine(m_players[i], nameColumns, m_style.width - 1, m_style.color,
                                    now)
                  << '\n';
            ++m_drawnLines;
        }
    }
    m_out.flush();
}

void Reporter::Show(int player, const std::string& text, const std::string* file,
                    const std::string* reason) {
    std::lock_guard lock(m_mutex);
    PlayerView& view = m_players[static_cast<std::size_t>(player)];
    if (view.firstMessage.empty()) {
        view.firstMessage = text;
    }
    if (file != nullptr && reason != nullptr && m_err != nullptr) {
        if (m_mode == ReportMode::TerminalLive) {
            ClearLiveLocked();
        }
        *m_err << "qdxflash: " << PrefixLocked(player) << *file << ": " << *reason << '\n';
        m_err->flush();
    }
    switch (m_mode) {
        case ReportMode::Events: {
            nlohmann::ordered_json event = {{"event", "message"}};
            if (m_named) {
                event["player"] = view.name;
            }
            event["text"] = text;
            if (file != nullptr) {
                event["file"] = *file;
            }
            WriteEvent(m_out, event);
            break;
        }
        case ReportMode::TerminalLive:
            ClearLiveLocked();
            m_out << PrefixLocked(player) << "[message] " << text << '\n';
            DrawLocked(true);
            break;
        case ReportMode::TerminalPlain:
            m_out << PrefixLocked(player) << "[message] " << text << '\n';
            break;
    }
    m_out.flush();
}

bool Reporter::SetText(int player, const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_players[static_cast<std::size_t>(player)].phase = text;
    switch (m_mode) {
        case ReportMode::Events:
            EventLocked(player, "status", "text", text);
            break;
        case ReportMode::TerminalLive:
            DrawLocked(true);
            break;
        case ReportMode::TerminalPlain:
            if (!m_quietPlain) {
                m_out << PrefixLocked(player) << text << '\n';
            }
            break;
    }
    m_out.flush();
    return true;
}

bool Reporter::SetPosition(int player, int position, int percent) {
    std::lock_guard lock(m_mutex);
    PlayerView& view = m_players[static_cast<std::size_t>(player)];
    view.percent = percent;
    switch (m_mode) {
        case ReportMode::Events: {
            nlohmann::ordered_json event = {{"event", "progress"}};
            if (m_named) {
                event["player"] = view.name;
            }
            event["value"] = position;
            event["percent"] = percent;
            WriteEvent(m_out, event);
            break;
        }
        case ReportMode::TerminalLive:
            DrawLocked(false);
            break;
        case ReportMode::TerminalPlain: {
            // One line per change of the share done, not per engine step.
            int& printed = m_printed[static_cast<std::size_t>(player)];
            if (percent != printed && !m_quietPlain) {
                printed = percent;
                m_out << PrefixLocked(player) << "progress " << percent << "%\n";
            }
            break;
        }
    }
    m_out.flush();
    return true;
}

void Reporter::Finish(int player, JobEnding ending, std::optional<std::uint32_t> exitCode) {
    std::lock_guard lock(m_mutex);
    m_players[static_cast<std::size_t>(player)].ending = ending;
    m_players[static_cast<std::size_t>(player)].end = Clock::now();
    if (m_mode == ReportMode::Events) {
        nlohmann::ordered_json event = {{"event", "end"}};
        if (m_named) {
            event["player"] = m_players[static_cast<std::size_t>(player)].name;
        }
        event["ending"] = JobEndingName(ending);
        if (exitCode) {
            event["exitCode"] = *exitCode;
        }
        WriteEvent(m_out, event);
    } else if (m_mode == ReportMode::TerminalLive && m_named) {
        DrawLocked(true);  // the player's line shows its ending
    } else if (m_mode == ReportMode::TerminalPlain && m_quietPlain) {
        // The caller prints the finished player's own line.
    } else {
        if (m_mode == ReportMode::TerminalLive) {
            // The player's last line stays on the screen, the ending below it.
            DrawLocked(true);
            m_drawnLines = 0;
            m_live[static_cast<std::size_t>(player)] = false;
        }
        m_out << PrefixLocked(player) << "ending: " << JobEndingName(ending);
        if (exitCode) {
            m_out << " (worker exit code " << *exitCode << ")";
        }
        m_out << '\n';
    }
    m_out.flush();
}

void Reporter::Retire(int player) {
    std::lock_guard lock(m_mutex);
    m_live[static_cast<std::size_t>(player)] = false;
    DrawLocked(true);
}

void Reporter::Note(const std::string& line) {
    std::lock_guard lock(m_mutex);
    if (m_mode == ReportMode::Events) {
        if (m_err != nullptr) {
            *m_err << line << '\n';
            m_err->flush();
        }
        return;
    }
    ClearLiveLocked();
    m_out << line << '\n';
    DrawLocked(true);
    m_out.flush();
}

}  // namespace qdx::cli
