#include "sim/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qdx::sim {

namespace fs = std::filesystem;

namespace {

fs::path PathOf(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

std::string StringOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

// A short name beside the target, so that a target name near the system's limit still leaves
// room, and the rename stays on one file system.
std::string TempBeside(const fs::path& target, std::string* error) {
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path temp = dir / (".qdx-" + std::to_string(random()) + ".tmp");
        const HANDLE handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
            return StringOf(temp);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    *error = "cannot create a temporary file in " + StringOf(dir);
    return {};
#else
    std::string pattern = StringOf(dir / ".qdx-XXXXXX");
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        *error = "cannot create a temporary file in " + StringOf(dir) + ": " + ErrorText(errno);
        return {};
    }
    ::close(fd);
    return pattern;
#endif
}

}  // namespace

std::string FollowLinks(const std::string& path) {
    fs::path target = PathOf(path);
    std::error_code error;
    for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hop) {
        const fs::path link = fs::read_symlink(target, error);
        if (error) {
            break;
        }
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return StringOf(target);
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(PathOf(a), PathOf(b), error) && !error;
}

AtomicFile::~AtomicFile() {
    Discard();
}

bool AtomicFile::Open(const std::string& path, NonRegular nonRegular, std::string* error) {
    Discard();
    m_target = FollowLinks(path);
    const fs::path target = PathOf(m_target);
    std::error_code statusError;
    const fs::file_status status = fs::status(target, statusError);
    const bool exists = !statusError && fs::exists(status);
    if (exists && fs::is_directory(status)) {
        *error = path + " is a directory";
        return false;
    }
    if (exists && !fs::is_regular_file(status)) {
        if (nonRegular == NonRegular::Refuse) {
            *error = path + " is not a regular file (a device, FIFO or socket)";
            return false;
        }
        errno = 0;
        m_stream.open(target, std::ios::binary | std::ios::out);
        if (!m_stream) {
            *error = "cannot write " + path + (errno ? ": " + ErrorText(errno) : std::string());
            return false;
        }
        m_open = true;
        return true;
    }
    m_temp = TempBeside(target, error);
    if (m_temp.empty()) {
        return false;
    }
#ifndef _WIN32
    // The new file takes the old one's permissions and owner; a new file gets the usual ones.
    struct stat old {};
    if (exists && ::stat(m_target.c_str(), &old) == 0) {
        ::chmod(m_temp.c_str(), old.st_mode & 07777);
        if (::chown(m_temp.c_str(), old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; the file then stays the writer's.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(m_temp.c_str(), 0666 & ~mask);
    }
#endif
    m_stream.open(PathOf(m_temp), std::ios::binary | std::ios::out | std::ios::trunc);
    if (!m_stream) {
        *error = "cannot write " + m_temp;
        Discard();
        return false;
    }
    m_open = true;
    return true;
}

bool AtomicFile::Commit(std::string* error) {
    if (!m_open) {
        *error = "nothing to write";
        return false;
    }
    errno = 0;
    m_stream.flush();
    const int flushError = errno;
    const bool written = static_cast<bool>(m_stream);
    m_stream.close();
    const int closeError = errno;
    if (!written || m_stream.fail()) {
        const int cause = flushError != 0 ? flushError : closeError;
        *error = "cannot write " + m_target + (cause ? ": " + ErrorText(cause) : std::string());
        Discard();
        return false;
    }
    m_open = false;
    if (m_temp.empty()) {
        return true;
    }
#ifndef _WIN32
    // On disk before it takes the target's place, so a crash leaves the old file or the new one.
    const int fd = ::open(m_temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const bool synced = ::fsync(fd) == 0;
        const int syncError = errno;
        ::close(fd);
        if (!synced) {
            *error = "cannot write " + m_target + ": " + ErrorText(syncError);
            Discard();
            return false;
        }
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        const int renameError = errno;
        *error = "cannot replace " + m_target + ": " + ErrorText(renameError);
        Discard();
        return false;
    }
#else
    if (!MoveFileExW(PathOf(m_temp).c_str(), PathOf(m_target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error =
            "cannot replace " + m_target + " (system error " + std::to_string(GetLastError()) + ")";
        Discard();
        return false;
    }
#endif
    m_temp.clear();
    return true;
}

void AtomicFile::Discard() {
    if (m_stream.is_open()) {
        m_stream.close();
    }
    m_stream.clear();
    m_open = false;
    if (!m_temp.empty()) {
        std::error_code ignored;
        fs::remove(PathOf(m_temp), ignored);
        m_temp.clear();
    }
}

}  // namespace qdx::sim
