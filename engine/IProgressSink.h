// How a running job reports to whoever shows it.
#pragma once

#include <cstdint>
#include <string>

namespace qdx {

class IProgressSink {
public:
    // Enables the Start button: the job ended in a way that allows the next one.
    virtual void OnDone() = 0;
    virtual void SetStatus(const std::string& text) = 0;
    // Position in units of the progress bar (0..100); passed on unclamped.
    virtual void SetProgress(std::int32_t position) = 0;
    // Ends the worker thread from inside the calling operation; does not return when a worker
    // runs the job.
    virtual void ExitWorker() = 0;

protected:
    // Nothing is ever deleted through this interface.
    ~IProgressSink() = default;
};

}  // namespace qdx
