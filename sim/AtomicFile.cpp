#include "sim/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
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

#ifdef _WIN32
int OpenForWriting(const fs::path& path, bool create) {
    return ::_wopen(path.c_str(), _O_WRONLY | _O_BINARY | (create ? _O_CREAT | _O_EXCL : 0),
                    _S_IREAD | _S_IWRITE);
}
int WriteSome(int fd, const char* bytes, std::size_t count) {
    return ::_write(fd, bytes, static_cast<unsigned>(count));
}
int CloseFd(int fd) {
    return ::_close(fd);
}
#else
int OpenForWriting(const fs::path& path, bool create) {
    return ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600);
}
ssize_t WriteSome(int fd, const char* bytes, std::size_t count) {
    return ::write(fd, bytes, count);
}
int CloseFd(int fd) {
    return ::close(fd);
}
#endif

}  // namespace

bool DescriptorBuffer::Flush() {
    const char* next = pbase();
    while (next < pptr()) {
        const auto written = WriteSome(m_fd, next, static_cast<std::size_t>(pptr() - next));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_error = errno;
            break;
        }
        next += written;
    }
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    return m_error == 0;
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
    if (m_error != 0 || !Flush()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

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

void AtomicFile::CloseDescriptor() {
    if (m_fd >= 0) {
        CloseFd(m_fd);
        m_fd = -1;
    }
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
        m_fd = OpenForWriting(target, false);
        if (m_fd < 0) {
            *error = "cannot write " + path + ": " + ErrorText(errno);
            return false;
        }
    } else {
        // A short name beside the target: a target name near the system's limit still leaves
        // room, and the rename stays on one file system.
        const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
        std::random_device random;
        for (int attempt = 0; attempt < 32 && m_fd < 0; ++attempt) {
            const fs::path temp = dir / (".qdx-" + std::to_string(random() % 100000000u));
            m_fd = OpenForWriting(temp, true);
            if (m_fd >= 0) {
                m_temp = StringOf(temp);
            } else if (errno != EEXIST) {
                *error = "cannot create a file in " + StringOf(dir) + ": " + ErrorText(errno);
                return false;
            }
        }
        if (m_fd < 0) {
            *error = "cannot create a file in " + StringOf(dir);
            return false;
        }
#ifndef _WIN32
        // The new file takes the old one's permissions and owner; a new file the usual ones.
        struct stat old {};
        if (exists && ::stat(m_target.c_str(), &old) == 0) {
            ::fchmod(m_fd, old.st_mode & 07777);
            if (::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
                // Only root may give a file away; the file then stays the writer's.
            }
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(m_fd, 0666 & ~mask);
        }
#endif
    }
    m_buffer.Attach(m_fd);
    m_stream.clear();
    m_open = true;
    return true;
}

bool AtomicFile::Commit(std::string* error) {
    if (!m_open) {
        *error = "nothing to write";
        return false;
    }
    m_open = false;
    bool written = m_buffer.Flush() && m_stream.good();
    int cause = m_buffer.Error();
#ifndef _WIN32
    // On disk before it takes the target's place, so a crash leaves the old file or the new one.
    if (written && !m_temp.empty() && ::fsync(m_fd) != 0) {
        written = false;
        cause = errno;
    }
#endif
    if (CloseFd(m_fd) != 0 && written) {
        written = false;
        cause = errno;
    }
    m_fd = -1;
    if (!written) {
        *error = "cannot write " + m_target + (cause ? ": " + ErrorText(cause) : std::string());
        Discard();
        return false;
    }
    if (m_temp.empty()) {
        return true;
    }
#ifndef _WIN32
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        cause = errno;
        *error = "cannot replace " + m_target + ": " + ErrorText(cause);
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
    CloseDescriptor();
    m_buffer.Attach(-1);
    m_stream.clear();
    m_open = false;
    if (!m_temp.empty()) {
        std::error_code ignored;
        fs::remove(PathOf(m_temp), ignored);
        m_temp.clear();
    }
}

}  // namespace qdx::sim
