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
    m_messages.push_back(text);
    if (m_mode == ReportMode::Events) {
        WriteEvent(m_out, {{"event", "message"}, {"text", text}});
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
    m_lastStatus = text;
    m_imageStageReached = m_imageStageReached || IsImageStageStatus(text);
    if (m_mode == ReportMode::Events) {
        WriteEvent(m_out, {{"event", "status"}, {"text", text}});
    } else {
        EndBarLine();
        m_out << text << '\n';
    }
    m_out.flush();
    return true;
}

bool Reporter::SetPosition(int position) {
    std::lock_guard lock(m_mutex);
    switch (m_mode) {
        case ReportMode::Events:
            WriteEvent(m_out, {{"event", "progress"}, {"value", position}});
            break;
        case ReportMode::TerminalPlain:
            m_out << "progress " << position << '\n';
            break;
        case ReportMode::TerminalLive: {
            // The bar shows at most 100, as the window's control does; the number is as given.
            int filled = std::clamp(position, 0, 100) * kBarWidth / 100;
            m_out << "\r[" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ')
                  << "] " << position << "   ";
            m_barOnLine = true;
            break;
        }
    }
    m_out.flush();
    return true;
}

void Reporter::Finish(Ending ending, std::optional<std::uint32_t> exitCode) {
    std::lock_guard lock(m_mutex);
    if (m_mode == ReportMode::Events) {
        nlohmann::ordered_json event = {{"event", "end"}, {"ending", EndingName(ending)}};
        if (exitCode) {
            event["exitCode"] = *exitCode;
        }
        WriteEvent(m_out, event);
    } else {
        EndBarLine();
        m_out << "ending: " << EndingName(ending);
        if (exitCode) {
            m_out << " (worker exit code " << *exitCode << ")";
        }
        m_out << '\n';
    }
    m_out.flush();
}

std::string Reporter::LastStatus() const {
    std::lock_guard lock(m_mutex);
    return m_lastStatus;
}

bool Reporter::ImageStageReached() const {
    std::lock_guard lock(m_mutex);
    return m_imageStageReached;
}

bool Reporter::MessageShown(const std::string& text) const {
    std::lock_guard lock(m_mutex);
    return std::find(m_messages.begin(), m_messages.end(), text) != m_messages.end();
}

}  // namespace qdx::cli
