// Ctrl-C, SIGTERM and SIGHUP while a download runs, and an output that is closed under it. A
// player interrupted in the middle of a download is left part-written, so the first signal is
// held (the download finishes) and only a second one stops it; a closed pipe (| head) never ends
// a download.
#pragma once

#include <atomic>
#include <chrono>

namespace qdx::cli {

class DownloadInterrupts {
public:
    // From now on until destruction: the signals are counted instead of ending the program, and
    // writing to a closed pipe fails instead of ending it.
    DownloadInterrupts();
    ~DownloadInterrupts();
    DownloadInterrupts(const DownloadInterrupts&) = delete;
    DownloadInterrupts& operator=(const DownloadInterrupts&) = delete;

    // Waits until a signal comes or the time is up; returns the number of signals so far.
    int Wait(std::chrono::milliseconds timeout);
    int Count() const;
};

}  // namespace qdx::cli
