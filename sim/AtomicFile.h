// An output file written so that a failure never leaves part of it behind: the bytes go to a
// temporary file beside the target, which replaces the target only once everything was written
// and flushed. The target is the file the path names: a symbolic link is followed and stays a
// link, and an existing target's permissions (and, where allowed, owner) are kept. A target that
// exists and is no regular file (a FIFO, a terminal, /dev/null) is written directly when the
// caller allows it, since replacing a device node with a file would be wrong.
#pragma once

#include <array>
#include <ostream>
#include <streambuf>
#include <string>

namespace qdx::sim {

// The target of a path after following symbolic links, also through a link whose target does
// not exist yet. The path itself when it is no link.
std::string FollowLinks(const std::string& path);

// True when both paths exist and name the same file (through links and hard links).
bool SameFile(const std::string& a, const std::string& b);

// A buffered output on a file descriptor that remembers why a write failed.
class DescriptorBuffer : public std::streambuf {
public:
    DescriptorBuffer() { setp(m_buffer.data(), m_buffer.data() + m_buffer.size()); }
    // Writes to fd from now on; whatever was buffered for the previous one is dropped.
    void Attach(int fd) {
        m_fd = fd;
        m_error = 0;
        setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    }
    // Writes what is buffered; false with Error() set when the system refused.
    bool Flush();
    int Error() const { return m_error; }

protected:
    int_type overflow(int_type c) override;
    int sync() override { return Flush() ? 0 : -1; }

private:
    int m_fd = -1;
    int m_error = 0;
    std::array<char, 65536> m_buffer{};
};

class AtomicFile {
public:
    enum class NonRegular { Refuse, WriteDirectly };

    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Prepares writing path. False with *error set (the system's own words) when it cannot be
    // written, or when it exists, is no regular file and nonRegular is Refuse.
    bool Open(const std::string& path, NonRegular nonRegular, std::string* error);
    std::ostream& Stream() { return m_stream; }
    // Flushes and puts the file in place. False with *error set when anything failed; the
    // target is then as it was and the temporary file is gone.
    bool Commit(std::string* error);
    // Drops what was written (the destructor does this when Commit was not called).
    void Discard();

private:
    void CloseDescriptor();

    DescriptorBuffer m_buffer;
    std::ostream m_stream{&m_buffer};
    int m_fd = -1;
    std::string m_target;
    std::string m_temp;  // empty when writing directly
    bool m_open = false;
};

}  // namespace qdx::sim
