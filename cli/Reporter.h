// qdxflash's side of the engine's ports: the controls and the message box, shown on a terminal
// or written as JSON events. The worker calls them, so every call holds one lock.
#pragma once

#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "engine/JobEnding.h"
#include "engine/Ports.h"

namespace qdx::cli {

enum class ReportMode {
    Events,        // one JSON object a line
    TerminalLive,  // status lines, a progress bar redrawn in place
    TerminalPlain  // status lines, one line per progress position
};

class Reporter : public IMessageBox,
                 public IButtonControl,
                 public ITextControl,
                 public IProgressControl {
public:
    // Messages about one file also name it and say why on err.
    Reporter(std::ostream& out, ReportMode mode, std::ostream* err = nullptr)
        : m_out(out), m_err(err), m_mode(mode) {}

    void Show(const std::string& text) override;
    void ShowForFile(const std::string& text, const std::string& file,
                     const std::string& reason) override;
    void SetEnabled(bool enabled) override;
    bool SetText(const std::string& text) override;
    bool SetPosition(int position, int percent) override;

    // The last line: the ending, with the worker's exit code when a worker ran.
    void Finish(JobEnding ending, std::optional<std::uint32_t> exitCode);

private:
    void EndBarLine();

    mutable std::mutex m_mutex;
    void ShowLocked(const std::string& text, const std::string* file);

    std::ostream& m_out;
    std::ostream* m_err;
    ReportMode m_mode;
    bool m_barOnLine = false;
};

}  // namespace qdx::cli
