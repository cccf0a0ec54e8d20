#include "transport/linux/SgDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "transport/PlatformDevice.h"

namespace qdx {

namespace {

class PosixSgSystem final : public SgSystem {
public:
    int Open(const std::string& path, int flags) override {
        int fd = ::open(path.c_str(), flags);
        return fd >= 0 ? fd : -errno;
    }

    int SgIo(int fd, sg_io_hdr_t* header) override {
        return ::ioctl(fd, SG_IO, header) == 0 ? 0 : errno;
    }

    void Close(int fd) override { ::close(fd); }

    std::string RealPath(const std::string& path, int* error) override {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr) {
            *error = errno;
            return {};
        }
        return resolved;
    }

    std::vector<std::string> ListDirectory(const std::string& path) override {
        std::vector<std::string> names;
        DIR* dir = ::opendir(path.c_str());
        if (dir == nullptr) {
            return names;
        }
        while (const dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }
};

int SgDirection(DataDirection direction) {
    switch (direction) {
        case DataDirection::FromDevice:
            return SG_DXFER_FROM_DEV;
        case DataDirection::ToDevice:
            return SG_DXFER_TO_DEV;
        case DataDirection::None:
            break;
    }
    return SG_DXFER_NONE;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// sg nodes are named sg followed by digits only.
bool IsSgNodeName(const std::string& name) {
    return name.size() > 2 && name.compare(0, 2, "sg") == 0 &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const char kSysBlock[] = "/sys/class/block/";

// The driver status bit that only says sense data came back with the device's status.
constexpr unsigned kDriverSense = 0x08;

const char kPermissionFix[] =
    "install the udev rule 70-qdx-player.rules (cmake --install puts it in lib/udev/rules.d), "
    "which gives the plugdev group read-write access to the "
    "player's SCSI generic node, and add your user to plugdev (sudo usermod -aG plugdev $USER, "
    "then log in again)";

}  // namespace

std::shared_ptr<SgSystem> RealSgSystem() {
    // One stateless instance serves every device.
    static const std::shared_ptr<SgSystem> system = std::make_shared<PosixSgSystem>();
    return system;
}

SgDevice::SgDevice(int fd, std::shared_ptr<SgSystem> system)
    : m_fd(fd), m_system(std::move(system)) {}

SgDevice::~SgDevice() {
    Close();
}

bool SgDevice::Send(const CommandDescription& command) {
    m_last = TransportStatus{};
    if (m_fd < 0) {
        m_last.osError = EBADF;
        return false;
    }

    // SG_IO takes a non-const command block pointer; the caller's description stays untouched.
    std::array<unsigned char, kCdbLength> cdb;
    std::copy(command.cdb.begin(), command.cdb.end(), cdb.begin());
    m_sense.fill(0);

    // The kernel copies the whole transfer length back into a data-in buffer, also the part the
    // device never sent (on a refused command, the bytes of an earlier answer). What the caller
    // had there is kept to be put back.
    auto* data = static_cast<std::uint8_t*>(command.buffer);
    const bool dataIn = command.direction == DataDirection::FromDevice && data != nullptr;
    if (dataIn) {
        m_callerBytes.assign(data, data + command.transferLength);
    }

    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    header.dxfer_direction = SgDirection(command.direction);
    header.cmd_len = static_cast<unsigned char>(cdb.size());
    header.mx_sb_len = static_cast<unsigned char>(m_sense.size());
    header.dxfer_len = command.transferLength;
    header.dxferp = command.buffer;
    header.cmdp = cdb.data();
    header.sbp = m_sense.data();
    header.timeout = command.timeoutSeconds * 1000;

    int error = m_system->SgIo(m_fd, &header);
    if (error != 0) {
        m_last.osError = error;
        if (dataIn) {
            std::copy(m_callerBytes.begin(), m_callerBytes.end(), data);
        }
        return false;
    }
    m_last.scsiStatus = header.status;
    m_last.hostStatus = header.host_status;
    m_last.driverStatus = header.driver_status;
    m_last.residue = static_cast<std::uint32_t>(
        std::clamp<long long>(header.resid, 0, static_cast<long long>(command.transferLength)));
    std::size_t senseBytes = std::min<std::size_t>(header.sb_len_wr, m_sense.size());
    m_last.sense.assign(m_sense.begin(), m_sense.begin() + senseBytes);

    // A host status, or a driver status beyond "sense data present", means the command did not
    // complete on the device (reset, lost connection, timeout): nothing in the buffer is data.
    m_last.delivered = header.host_status == 0 && (header.driver_status & ~kDriverSense) == 0;
    if (dataIn) {
        const std::size_t sent = m_last.delivered ? command.transferLength - m_last.residue : 0;
        std::copy(m_callerBytes.begin() + static_cast<std::ptrdiff_t>(sent), m_callerBytes.end(),
                  data + sent);
    }
    return m_last.delivered;
}

void SgDevice::Close() {
    if (m_fd >= 0) {
        m_system->Close(m_fd);
        m_fd = -1;
    }
}

std::string FindSgNode(const std::string& path, SgSystem& system, std::string* why) {
    int error = 0;
    std::string node = system.RealPath(path, &error);
    if (node.empty()) {
        *why = path + ": " + (error == ENOENT ? "no such device" : std::strerror(error));
        return {};
    }
    std::string name = BaseName(node);
    if (IsSgNodeName(name)) {
        return node;
    }

    std::string block = kSysBlock + name;
    if (!system.Exists(block)) {
        *why = path + ": not a disk";
        return {};
    }
    std::string disk = name;
    if (system.Exists(block + "/partition")) {
        // /sys/class/block/sdb1 resolves to .../block/sdb/sdb1: the parent names the disk.
        disk = BaseName(DirName(system.RealPath(block, &error)));
    }

    for (const std::string& entry :
         system.ListDirectory(kSysBlock + disk + "/device/scsi_generic")) {
        if (IsSgNodeName(entry)) {
            return "/dev/" + entry;
        }
    }
    if (!system.Exists("/sys/class/scsi_generic")) {
        *why = path + ": no SCSI generic node; the sg driver is not loaded (sudo modprobe sg)";
    } else {
        *why = path + ": not a SCSI disk (it has no SCSI generic node)";
    }
    return {};
}

DeviceHandle OpenSgDevice(const std::string& path, std::string* why,
                          std::shared_ptr<SgSystem> system) {
    std::string unused;
    if (why == nullptr) {
        why = &unused;
    }
    std::string node = FindSgNode(path, *system, why);
    if (node.empty()) {
        return nullptr;
    }
    // One program at a time per player: the sg driver's O_EXCL keeps every other open out until
    // we close, and with O_NONBLOCK a node held by another program answers EBUSY at once
    // instead of waiting. SG_IO itself is synchronous regardless.
    int fd = system->Open(node, O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (fd < 0) {
        int error = -fd;
        std::string where = node == path ? path : path + " (" + node + ")";
        if (error == EACCES || error == EPERM) {
            *why = where + ": permission denied; " + kPermissionFix;
        } else if (error == EBUSY) {
            *why = where +
                   ": the player is in use by another program; wait until it has "
                   "finished, or close it";
        } else if (error == ENOENT || error == ENXIO || error == ENODEV) {
            *why = where + ": no such device";
        } else {
            *why = where + ": " + std::strerror(error);
        }
        return nullptr;
    }
    return std::make_shared<SgDevice>(fd, std::move(system));
}

DeviceHandle OpenPlatformDevice(const std::string& path, std::string* why) {
    return OpenSgDevice(path, why);
}

}  // namespace qdx
