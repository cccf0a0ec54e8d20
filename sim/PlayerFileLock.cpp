#include "sim/PlayerFileLock.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "sim/AtomicFile.h"

namespace qdx::sim {

PlayerFileLock::~PlayerFileLock() {
    Release();
}

#ifdef _WIN32

namespace {
// A byte range far past any player file: locking it keeps other programs' locks out without
// keeping anyone from reading the file.
constexpr DWORD kLockOffsetHigh = 0x40000000;
}  // namespace

PlayerFileLock::Result PlayerFileLock::Acquire(const std::string& path, std::string* error) {
    Release();
    const std::filesystem::path target(std::u8string(path.begin(), path.end()));
    // Deleting and renaming stay allowed: the save replaces the file.
    HANDLE handle = CreateFileW(target.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            return Result::Locked;
        }
        *error = "cannot open " + path + " (system error " + std::to_string(code) + ")";
        return Result::Failed;
    }
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        ::CloseHandle(handle);
        return Result::Busy;
    }
    m_handle = handle;
    return Result::Locked;
}

void PlayerFileLock::Release() {
    if (m_handle != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
}

#else

PlayerFileLock::Result PlayerFileLock::Acquire(const std::string& path, std::string* error) {
    Release();
    const std::string target = FollowLinks(path);
    // The save puts a new file in the old one's place: a lock taken on the old file just before
    // is on a file nobody uses any more, so the lock is taken again on the new one.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) {
                return Result::Locked;
            }
            *error = "cannot open " + path + ": " + std::strerror(errno);
            return Result::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int lockError = errno;
            ::close(fd);
            if (lockError == EWOULDBLOCK) {
                return Result::Busy;
            }
            *error = "cannot lock " + path + ": " + std::strerror(lockError);
            return Result::Failed;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(target.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_fd = fd;
            return Result::Locked;
        }
        ::close(fd);
    }
    *error = path + " keeps changing; is another program writing it?";
    return Result::Failed;
}

void PlayerFileLock::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

#endif

}  // namespace qdx::sim
