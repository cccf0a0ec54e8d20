#include "cli/Interrupts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace qdx::cli {

namespace {

// Process-wide: a signal handler has no object to reach.
std::atomic<int> g_signals{0};

#ifdef _WIN32

HANDLE g_event = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        g_signals.fetch_add(1);
        SetEvent(g_event);
        return TRUE;
    }
    return FALSE;
}

#else

int g_pipe[2] = {-1, -1};
struct sigaction g_previous[3];
struct sigaction g_previousPipe;
constexpr int kHeld[3] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int) {
    g_signals.fetch_add(1);
    const char byte = 1;
    // Only async-signal-safe calls here; a full pipe already wakes the waiter.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

#endif

}  // namespace

DownloadInterrupts::DownloadInterrupts() {
    g_signals.store(0);
#ifdef _WIN32
    g_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    if (::pipe(g_pipe) == 0) {
        for (int fd : g_pipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kHeld[i], &action, &g_previous[i]);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &g_previousPipe);
#endif
}

DownloadInterrupts::~DownloadInterrupts() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    ::CloseHandle(g_event);
    g_event = nullptr;
#else
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kHeld[i], &g_previous[i], nullptr);
    }
    ::sigaction(SIGPIPE, &g_previousPipe, nullptr);
    for (int& fd : g_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
#endif
}

int DownloadInterrupts::Wait(std::chrono::milliseconds timeout) {
#ifdef _WIN32
    WaitForSingleObject(g_event, static_cast<DWORD>(timeout.count()));
#else
    pollfd wake{g_pipe[0], POLLIN, 0};
    if (g_pipe[0] >= 0 && ::poll(&wake, 1, static_cast<int>(timeout.count())) > 0) {
        char drained[16];
        while (::read(g_pipe[0], drained, sizeof drained) > 0) {
        }
    }
#endif
    return g_signals.load();
}

int DownloadInterrupts::Count() const {
    return g_signals.load();
}

}  // namespace qdx::cli
