#include "sim/linux/FunctionFsGadget.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace qdx::sim {

namespace fs = std::filesystem;

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutInterfaceAndEndpoints(std::vector<std::uint8_t>& out, std::uint16_t maxPacket) {
    // Mass storage, SCSI transparent command set, bulk-only transport; string 1.
    out.insert(out.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE,
                           0x06, 0x50, 1});
    // The first endpoint becomes ep1 (bulk-in), the second ep2 (bulk-out).
    out.insert(out.end(),
               {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 1 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK});
    Put16(out, maxPacket);
    out.push_back(0);
    out.insert(out.end(),
               {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK});
    Put16(out, maxPacket);
    out.push_back(0);
}

std::vector<std::uint8_t> Descriptors() {
    std::vector<std::uint8_t> out;
    Put32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Put32(out, 0);  // length, filled in below
    Put32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Put32(out, 3);  // full-speed descriptors
    Put32(out, 3);  // high-speed descriptors
    PutInterfaceAndEndpoints(out, 64);
    PutInterfaceAndEndpoints(out, 512);
    const auto length = static_cast<std::uint32_t>(out.size());
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    return out;
}

std::vector<std::uint8_t> Strings() {
    const char name[] = "Bulk-only mass storage";
    std::vector<std::uint8_t> out;
    Put32(out, FUNCTIONFS_STRINGS_MAGIC);
    Put32(out, static_cast<std::uint32_t>(16 + 2 + sizeof name));
    Put32(out, 1);  // strings
    Put32(out, 1);  // languages
    Put16(out, 0x0409);
    out.insert(out.end(), name, name + sizeof name);
    return out;
}

bool WriteText(const fs::path& file, const std::string& text, std::string* error) {
    std::ofstream out(file);
    out << text;
    out.flush();
    if (!out) {
        *error = "cannot write " + file.string();
        return false;
    }
    return true;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void NoOp(int) {}

// Interrupts blocked transfers: a handler without SA_RESTART makes them return EINTR.
constexpr int kInterruptSignal = SIGUSR2;

}  // namespace

std::unique_ptr<FunctionFsGadget> FunctionFsGadget::Create(const GadgetSettings& settings,
                                                           std::string* error) {
    struct sigaction action {};
    action.sa_handler = NoOp;
    sigemptyset(&action.sa_mask);
    ::sigaction(kInterruptSignal, &action, nullptr);

    auto gadget = std::unique_ptr<FunctionFsGadget>(new FunctionFsGadget);
    if (!gadget->Build(settings, error)) {
        return nullptr;  // the destructor removes what was made
    }
    return gadget;
}

bool FunctionFsGadget::Build(const GadgetSettings& settings, std::string* error) {
    std::error_code code;
    const fs::path gadgets = fs::path(settings.configfs) / "usb_gadget";
    if (!fs::is_directory(gadgets, code)) {
        *error = gadgets.string() +
                 " is missing: load the gadget modules and mount configfs (sudo modprobe "
                 "libcomposite usb_f_fs; a controller such as dummy_hcd; mount -t configfs none " +
                 settings.configfs + ")";
        return false;
    }
    m_udc = settings.udc;
    if (m_udc.empty()) {
        for (const auto& entry : fs::directory_iterator("/sys/class/udc", code)) {
            m_udc = entry.path().filename().string();
            break;
        }
        if (m_udc.empty()) {
            *error =
                "no USB device controller in /sys/class/udc (on a machine without a device "
                "port: sudo modprobe dummy_hcd)";
            return false;
        }
    }

    const std::string name = "qdxsim" + std::to_string(::getpid());
    m_gadgetDir = (gadgets / name).string();
    m_functionName = "ffs." + name;
    const fs::path dir = m_gadgetDir;
    if (!fs::create_directory(dir, code)) {
        *error = "cannot create " + dir.string() + ": " + code.message();
        m_gadgetDir.clear();
        return false;
    }
    const fs::path strings = dir / "strings" / "0x409";
    const fs::path config = dir / "configs" / "c.1";
    for (const fs::path& folder :
         {strings, config / "strings" / "0x409", dir / "functions" / m_functionName}) {
        fs::create_directories(folder, code);
        if (code) {
            *error = "cannot create " + folder.string() + ": " + code.message();
            return false;
        }
    }
    if (!WriteText(dir / "idVendor", Hex4(settings.vendorId), error) ||
        !WriteText(dir / "idProduct", Hex4(settings.productId), error) ||
        !WriteText(dir / "bcdDevice", "0x0201", error) ||
        !WriteText(dir / "bcdUSB", "0x0200", error) ||
        !WriteText(strings / "manufacturer", settings.manufacturer, error) ||
        !WriteText(strings / "product", settings.product, error) ||
        !WriteText(strings / "serialnumber", settings.serial, error) ||
        !WriteText(config / "strings" / "0x409" / "configuration", "Mass storage", error) ||
        !WriteText(config / "MaxPower", "100", error)) {
        return false;
    }
    fs::create_directory_symlink(dir / "functions" / m_functionName, config / m_functionName, code);
    if (code) {
        *error = "cannot add the function to the configuration: " + code.message();
        return false;
    }

    m_mountPoint = (fs::path(settings.runDirectory) / name).string();
    fs::create_directories(m_mountPoint, code);
    if (::mount(name.c_str(), m_mountPoint.c_str(), "functionfs", 0, nullptr) != 0) {
        *error = "cannot mount the function's file system on " + m_mountPoint + ": " +
                 std::strerror(errno);
        return false;
    }
    m_mounted = true;
    m_ep0 = ::open((m_mountPoint + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (m_ep0 < 0 || !WriteAll(m_ep0, Descriptors()) || !WriteAll(m_ep0, Strings())) {
        *error = "the function refused its descriptors: " + std::string(std::strerror(errno));
        return false;
    }
    m_in = ::open((m_mountPoint + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    m_out = ::open((m_mountPoint + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    if (m_in < 0 || m_out < 0) {
        *error = "cannot open the function's endpoints: " + std::string(std::strerror(errno));
        return false;
    }
    m_control = std::thread([this] { ControlLoop(); });
    return true;
}

FunctionFsGadget::~FunctionFsGadget() {
    Teardown();
}

bool FunctionFsGadget::Attach(std::string* error) {
    return WriteText(fs::path(m_gadgetDir) / "UDC", m_udc, error);
}

void FunctionFsGadget::Detach() {
    std::string ignored;
    if (!m_gadgetDir.empty()) {
        WriteText(fs::path(m_gadgetDir) / "UDC", "\n", &ignored);
    }
}

void FunctionFsGadget::Interrupt(std::thread& thread) {
    if (thread.joinable()) {
        ::pthread_kill(thread.native_handle(), kInterruptSignal);
    }
}

void FunctionFsGadget::Teardown() {
    m_stopping = true;
    Detach();
    // The signal may come just before the thread blocks again, so it is repeated.
    while (m_control.joinable() && !m_controlDone) {
        Interrupt(m_control);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (m_control.joinable()) {
        m_control.join();
    }
    for (int* fd : {&m_in, &m_out, &m_ep0}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    if (m_mounted) {
        ::umount(m_mountPoint.c_str());
        m_mounted = false;
    }
    if (!m_mountPoint.empty()) {
        ::rmdir(m_mountPoint.c_str());
    }
    if (!m_gadgetDir.empty()) {
        const fs::path dir = m_gadgetDir;
        const fs::path config = dir / "configs" / "c.1";
        ::unlink((config / m_functionName).c_str());
        ::rmdir((config / "strings" / "0x409").c_str());
        ::rmdir(config.c_str());
        ::rmdir((dir / "functions" / m_functionName).c_str());
        ::rmdir((dir / "strings" / "0x409").c_str());
        ::rmdir(dir.c_str());
        m_gadgetDir.clear();
    }
}

void FunctionFsGadget::ControlLoop() {
    usb_functionfs_event events[4];
    while (!m_stopping) {
        const ssize_t got = ::read(m_ep0, events, sizeof events);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof events[0]; ++i) {
            if (events[i].type != FUNCTIONFS_SETUP) {
                continue;
            }
            const usb_ctrlrequest& setup = events[i].u.setup;
            const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
            const bool classRequest = (setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS;
            if (classRequest && setup.bRequest == usb::kRequestGetMaxLun && in) {
                const std::uint8_t lastLun = 0;
                [[maybe_unused]] ssize_t ignored = ::write(m_ep0, &lastLun, 1);
            } else if (classRequest && setup.bRequest == usb::kRequestReset && !in) {
                if (m_onReset) {
                    m_onReset();
                }
                [[maybe_unused]] ssize_t ignored = ::read(m_ep0, nullptr, 0);  // status stage
            } else if (in) {
                // A transfer in the wrong direction stalls the control pipe: not supported.
                [[maybe_unused]] ssize_t ignored = ::read(m_ep0, nullptr, 0);
            } else {
                [[maybe_unused]] ssize_t ignored = ::write(m_ep0, nullptr, 0);
            }
        }
    }
    m_controlDone = true;
}

long FunctionFsGadget::Receive(std::uint8_t* data, std::size_t count) {
    const ssize_t got = ::read(m_out, data, count);
    return got < 0 ? -1 : static_cast<long>(got);
}

bool FunctionFsGadget::Send(const std::uint8_t* data, std::size_t count) {
    return ::write(m_in, data, count) == static_cast<ssize_t>(count);
}

void FunctionFsGadget::HaltIn() {
    // Reading from an IN endpoint (or writing to an OUT one) halts it.
    std::uint8_t unused;
    [[maybe_unused]] ssize_t ignored = ::read(m_in, &unused, 0);
}

void FunctionFsGadget::HaltOut() {
    std::uint8_t unused = 0;
    [[maybe_unused]] ssize_t ignored = ::write(m_out, &unused, 0);
}

}  // namespace qdx::sim
