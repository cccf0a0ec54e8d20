// The Linux pass-through backend: vendor commands sent with the SG_IO ioctl on the player's SCSI
// generic node. The kernel refuses vendor opcodes on /dev/sdX to processes without CAP_SYS_RAWIO,
// but filters nothing on an sg node opened read-write, so access is a plain file permission.
#pragma once

#include <scsi/sg.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/Device.h"

namespace qdx {

// The system calls of this backend, behind one seam so that tests drive it without a disk.
class SgSystem {
public:
    virtual ~SgSystem() = default;

    // Opens a node; returns the file descriptor, or -errno.
    virtual int Open(const std::string& path, int flags) = 0;
    // Issues one SG_IO request; returns 0, or the errno of the failed ioctl.
    virtual int SgIo(int fd, sg_io_hdr_t* header) = 0;
    virtual void Close(int fd) = 0;
    // Returns the path with every symbolic link resolved, or an empty string with *error set.
    virtual std::string RealPath(const std::string& path, int* error) = 0;
    // Returns the entry names of a directory without "." and ".."; empty when it cannot be read.
    virtual std::vector<std::string> ListDirectory(const std::string& path) = 0;
    // Returns whether anything exists at path.
    virtual bool Exists(const std::string& path) = 0;
};

// The real system calls.
std::shared_ptr<SgSystem> RealSgSystem();

inline constexpr std::size_t kSgSenseBytes = 32;

class SgDevice final : public IDevice {
public:
    // Takes ownership of fd, an sg node opened read-write.
    explicit SgDevice(int fd, std::shared_ptr<SgSystem> system = RealSgSystem());
    ~SgDevice() override;
    SgDevice(const SgDevice&) = delete;
    SgDevice& operator=(const SgDevice&) = delete;

    // Returns true when the device completed the command, whatever SCSI status it answered
    // with; false when the ioctl failed or the host or driver reported a transport error. The
    // statuses, the residue and the sense bytes are kept in LastStatus() for messages. Of a
    // data-in buffer only the bytes the device sent are overwritten; the rest keeps what the
    // caller left there.
    bool Send(const CommandDescription& command) override;
    TransportStatus LastStatus() const override { return m_last; }
    void Close() override;

private:
    int m_fd;
    std::shared_ptr<SgSystem> m_system;
    TransportStatus m_last;
    std::array<std::uint8_t, kSgSenseBytes> m_sense{};
    std::vector<std::uint8_t> m_callerBytes;  // a data-in buffer as it was before the command
};

// Returns the sg node that carries commands for path: /dev/sgN as it is; a disk such as /dev/sdb,
// a symbolic link to one (/dev/disk/by-id/...) or one of its partitions (/dev/sdb1, mapped to
// its disk, since vendor commands address the whole device) through
// /sys/class/block/DISK/device/scsi_generic. Returns an empty string with the reason and the fix
// in *why when there is none.
std::string FindSgNode(const std::string& path, SgSystem& system, std::string* why);

// Opens the sg node of path read-write. Returns null with the reason and the fix in *why.
DeviceHandle OpenSgDevice(const std::string& path, std::string* why,
                          std::shared_ptr<SgSystem> system = RealSgSystem());

}  // namespace qdx
