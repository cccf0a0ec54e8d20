// A small thread base: one worker at a time, ended early only through Exit().
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace qdx {

class CWorkerThread {
public:
    // Exit code of a worker that ended through Exit().
    static constexpr std::uint32_t kExitCodeStillActive = 259;

    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts a worker running Run(). True when one was started or is still running (then nothing
    // changes); false when the thread could not be created.
    bool Start();
    // True while the last started worker has not ended.
    bool IsRunning() const;
    // Waits until the last started worker has ended; returns at once when none runs.
    void Join();
    // Exit code of the last worker once it has ended: 0, or 259 after Exit().
    std::uint32_t ExitCode() const;
    bool HasThread() const { return m_hThread != nullptr; }

    // Ends the calling worker at once with exit code 259 by unwinding to the thread procedure, so
    // what the callers hold is released on the way. Must be called on a worker of this class.
    [[noreturn]] static void Exit();

protected:
    virtual void Run() = 0;
    // Derived classes wait for their worker in their own destructor, before their parts go.
    void JoinBeforeDestruction() { Join(); }

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
        std::atomic<std::uint32_t> exitCode{0};
    };
    static void ThreadProc(CWorkerThread* self, Worker* worker);

    std::unique_ptr<Worker> m_hThread;
    std::thread::id m_threadId;
};

}  // namespace qdx
