#include "app/SingleInstance.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#endif

namespace qdx::app {

#ifdef _WIN32

SingleInstance::~SingleInstance() {
    // The count is never given back; the guard lives as long as the program, and closing the last
    // handle at its end removes the semaphore, so the next start creates it afresh.
    if (m_hSingleInstance != nullptr) {
        CloseHandle(m_hSingleInstance);
    }
}

bool SingleInstance::Acquire(const std::string& name, const std::string& /*directory*/) {
    m_hSingleInstance = CreateSemaphoreA(nullptr, 1, 1, name.c_str());
    if (m_hSingleInstance == nullptr) {
        return false;
    }
    if (WaitForSingleObject(m_hSingleInstance, 0) == WAIT_TIMEOUT) {
        CloseHandle(m_hSingleInstance);
        m_hSingleInstance = nullptr;
        return false;
    }
    return true;
}

bool SingleInstance::Held() const {
    return m_hSingleInstance != nullptr;
}

std::string SingleInstanceDirectory() {
    return {};
}

#else

SingleInstance::~SingleInstance() {
    if (m_lockFd >= 0) {
        close(m_lockFd);
    }
}

bool SingleInstance::Acquire(const std::string& name, const std::string& directory) {
    const std::string dir = directory.empty() ? SingleInstanceDirectory() : directory;
    if (dir.empty()) {
        return false;
    }
    const std::string path = dir + "/" + name;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

bool SingleInstance::Held() const {
    return m_lockFd >= 0;
}

std::string SingleInstanceDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return runtime;
    }
    // A directory of our own, so another user's file of the same name cannot block us.
    std::error_code error;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path(error) / ("qdxclient-" + std::to_string(getuid()));
    if (error) {
        return {};
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        return {};
    }
    return dir.string();
}

#endif

}  // namespace qdx::app
