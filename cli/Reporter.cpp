#include "cli/Reporter.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace qdx::cli {

namespace {

constexpr int kBarWidth = 40;

// One event, one line: the keys in the order given, no spaces, UTF-8 as it is. Texts are not
// checked for UTF-8 elsewhere (a file name may hold any bytes); invalid bytes become U+FFFD.
void WriteEvent(std::ostream& out, const nlohmann::ordered_json& event) {
    out << event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

}  // namespace

void Reporter::EndBarLine() {
    if (m_barOnLine) {
        m_out << '\n';
        m_barOnLine = false;
    }
}

void Reporter::Show(const std::string& text) {
    std::lock_guard lock(m_mutex);
    ShowLocked(text, nullptr);
}

void Reporter::ShowForFile(const std::string& text, const std::string& file,
                           const std::string& reason) {
    std::lock_guard lock(m_mutex);
    if (m_err != nullptr) {
        *m_err << "qdxflash: " << file << ": " << reason << '\n';
        m_err->flush();
    }
    ShowLocked(text, &file);
}

void Reporter::ShowLocked(const std::string& text, const std::string* file) {
    if (m_mode == ReportMode::Events) {
        nlohmann::ordered_json event = {{"event", "message"}, {"text", text}};
        if (file != nullptr) {
            event["file"] = *file;
        }
        WriteEvent(m_out, event);
    } else {
        EndBarLine();
        m_out << "[message] " << text << '\n';
    }
    m_out.flush();
}

void Reporter::SetEnabled(bool) {
    // The Start button has no counterpart here: the tool runs one job and ends.
}

bool Reporter::SetText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_mode == ReportMode::Events) {
        WriteEvent(m_out, {{"event", "status"}, {"text", text}});
    } else {
        EndBarLine();
        m_out << text << '\n';
    }
    m_out.flush();
    return true;
}

bool Reporter::SetPosition(int position, int percent) {
    std::lock_guard lock(m_mutex);
    switch (m_mode) {
        case ReportMode::Events:
            WriteEvent(m_out, {{"event", "progress"}, {"value", position}, {"percent", percent}});
            break;
        case ReportMode::TerminalPlain:
            m_out << "progress " << position << '\n';
            break;
        case ReportMode::TerminalLive: {
            // The bar shows the job's share; the number is the engine's own count.
            int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
            m_out << "\r[" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ')
                  << "] " << position << "   ";
            m_barOnLine = true;
            break;
        }
    }
    m_out.flush();
    return true;
}

void Reporter::Finish(JobEnding ending, std::optional<std::uint32_t> exitCode) {
    std::lock_guard lock(m_mutex);
    if (m_mode == ReportMode::Events) {
        nlohmann::ordered_json event = {{"event", "end"}, {"ending", JobEndingName(ending)}};
        if (exitCode) {
            event["exitCode"] = *exitCode;
        }
        WriteEvent(m_out, event);
    } else {
        EndBarLine();
        m_out << "ending: " << JobEndingName(ending);
        if (exitCode) {
            m_out << " (worker exit code " << *exitCode << ")";
        }
        m_out << '\n';
    }
    m_out.flush();
}

}  // namespace qdx::cli
