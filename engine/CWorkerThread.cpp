#include "engine/CWorkerThread.h"

#include <system_error>

namespace qdx {

namespace {

// Thrown by Exit() and caught only by the thread procedure, so that every frame between them
// releases what it holds.
struct WorkerExit {};

}  // namespace

CWorkerThread::CWorkerThread() = default;

CWorkerThread::~CWorkerThread() {
    Join();
}

bool CWorkerThread::Start() {
    if (IsRunning()) {
        return true;
    }
    Join();  // releases the ended worker
    m_hThread.reset();
    auto worker = std::make_unique<Worker>();
    try {
        worker->thread = std::thread(&CWorkerThread::ThreadProc, this, worker.get());
    } catch (const std::system_error&) {
        return false;
    }
    m_threadId = worker->thread.get_id();
    m_hThread = std::move(worker);
    return true;
}

bool CWorkerThread::IsRunning() const {
    return m_hThread != nullptr && !m_hThread->finished.load(std::memory_order_acquire);
}

void CWorkerThread::Join() {
    if (m_hThread && m_hThread->thread.joinable() &&
        m_hThread->thread.get_id() != std::this_thread::get_id()) {
        m_hThread->thread.join();
    }
}

std::uint32_t CWorkerThread::ExitCode() const {
    return m_hThread ? m_hThread->exitCode.load(std::memory_order_acquire) : 0;
}

void CWorkerThread::Exit() {
    throw WorkerExit{};
}

void CWorkerThread::ThreadProc(CWorkerThread* self, Worker* worker) {
    std::uint32_t exitCode = 0;
    try {
        if (self != nullptr) {
            self->Run();
        }
    } catch (const WorkerExit&) {
        exitCode = kExitCodeStillActive;
    }
    worker->exitCode.store(exitCode, std::memory_order_release);
    worker->finished.store(true, std::memory_order_release);
}

}  // namespace qdx
