// The single-instance guard: one running program per user session.
#pragma once

#include <string>

namespace qdx::app {

inline constexpr const char* kSingleInstanceName = "QDX Client V2.01";

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the guard named name. False when another instance holds it or it cannot be made.
    // Linux: an advisory lock on the file name in directory (empty: the user's runtime
    // directory, else a per-user temporary one); the kernel drops it when the process ends, so a
    // crashed instance never blocks the next start. Windows: the named semaphore, count 1.
    bool Acquire(const std::string& name = kSingleInstanceName, const std::string& directory = {});
    bool Held() const;

private:
#ifdef _WIN32
    void* m_hSingleInstance = nullptr;
#else
    int m_lockFd = -1;
#endif
};

// The directory of the lock file: $XDG_RUNTIME_DIR, else a per-user directory under the
// temporary directory. Empty on Windows.
std::string SingleInstanceDirectory();

}  // namespace qdx::app
