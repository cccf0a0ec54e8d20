// One program at a time per simulated player: a lock on the player file, held from the load to
// the save, as a real player's SCSI generic node is opened exclusively. (On Windows a file held
// open cannot be replaced, so there it is let go just before the save.)
#pragma once

#include <string>

namespace qdx::sim {

class PlayerFileLock {
public:
    PlayerFileLock() = default;
    ~PlayerFileLock();
    PlayerFileLock(const PlayerFileLock&) = delete;
    PlayerFileLock& operator=(const PlayerFileLock&) = delete;

    enum class Result { Locked, Busy, Failed };
    // Takes the lock of the player file path names, without waiting. Busy when another program
    // holds it; Failed with *error set when the file cannot be opened. A file that does not exist
    // yet is Locked with nothing held (nobody can hold what is not there).
    Result Acquire(const std::string& path, std::string* error);
    void Release();

private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

}  // namespace qdx::sim
