// Ports that remember what the engine and the worker reported.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/IProgressSink.h"
#include "engine/Ports.h"

namespace qdx::test {

class RecordingMessageBox : public IMessageBox {
public:
    void Show(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        shown.push_back(text);
    }
    std::vector<std::string> shown;

private:
    std::mutex m_mutex;
};

// One log of every control call, in order, as "status:TEXT", "progress:N", "enable:0/1".
class RecordingControls : public IButtonControl, public ITextControl, public IProgressControl {
public:
    void SetEnabled(bool enabled) override { Add("enable:" + std::to_string(enabled ? 1 : 0)); }
    bool SetText(const std::string& text) override {
        Add("status:" + text);
        return true;
    }
    bool SetPosition(int position, int percent) override {
        Add("progress:" + std::to_string(position));
        std::lock_guard lock(m_mutex);
        m_percents.push_back(percent);
        return true;
    }
    // The share each position stood for, in order.
    std::vector<int> Percents() {
        std::lock_guard lock(m_mutex);
        return m_percents;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_events.clear();
        m_percents.clear();
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<std::string> Statuses() {
        std::vector<std::string> result;
        for (const std::string& e : Events()) {
            if (e.rfind("status:", 0) == 0) {
                result.push_back(e.substr(7));
            }
        }
        return result;
    }

private:
    void Add(std::string event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::vector<int> m_percents;
};

// A sink for engine calls made outside a worker: ExitWorker throws, so the caller's frames unwind
// as they do on a worker.
class RecordingSink : public IProgressSink {
public:
    struct Exited {};
    void OnDone() override { controls.SetEnabled(true); }
    void SetStatus(const std::string& text) override { controls.SetText(text); }
    void SetProgress(std::int32_t position) override { controls.SetPosition(position, position); }
    void ExitWorker() override { throw Exited{}; }
    RecordingControls controls;
};

}  // namespace qdx::test
