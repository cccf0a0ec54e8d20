// A USB device made of one configfs gadget with one FunctionFS function: a mass-storage
// interface with a bulk-in and a bulk-out endpoint, served from this process. On a machine with
// a USB device controller (or the dummy host-and-device controller) the host sees a USB disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sim/usb/BulkOnly.h"

namespace qdx::sim {

struct GadgetSettings {
    std::uint16_t vendorId = 0x1D6B;
    std::uint16_t productId = 0x0104;
    std::string manufacturer = "QDX";
    std::string product = "Simulated player";
    std::string serial = "QDXSIM0001";
    std::string udc;  // the device controller under /sys/class/udc; empty: the first one
    std::string configfs = "/sys/kernel/config";
    std::string runDirectory = "/run/qdxsim";  // where the function's file system is mounted
};

class FunctionFsGadget final : public usb::IBulkPipes {
public:
    // Makes the gadget and its function and writes the function's descriptors; the device is
    // not on the bus yet. Null with *error set (what is missing and how to provide it).
    static std::unique_ptr<FunctionFsGadget> Create(const GadgetSettings& settings,
                                                    std::string* error);
    // Leaves the bus and removes the gadget.
    ~FunctionFsGadget() override;
    FunctionFsGadget(const FunctionFsGadget&) = delete;
    FunctionFsGadget& operator=(const FunctionFsGadget&) = delete;

    // Binds the gadget to the controller: the host sees the device arrive.
    bool Attach(std::string* error);
    // Unbinds it: the host sees the device leave, and blocked transfers end.
    void Detach();
    const std::string& Udc() const { return m_udc; }

    // Called on the control thread when the host resets the mass-storage interface.
    void SetResetHandler(std::function<void()> handler) { m_onReset = std::move(handler); }

    long Receive(std::uint8_t* data, std::size_t count) override;
    bool Send(const std::uint8_t* data, std::size_t count) override;
    void HaltIn() override;
    void HaltOut() override;

    // Interrupts a transfer blocked in that thread: it returns as if the bus were gone. The
    // thread may not have blocked yet, so callers repeat this until it ends.
    static void Interrupt(std::thread& thread);

private:
    FunctionFsGadget() = default;
    bool Build(const GadgetSettings& settings, std::string* error);
    void ControlLoop();
    void Teardown();

    std::string m_gadgetDir;
    std::string m_functionName;
    std::string m_mountPoint;
    std::string m_udc;
    bool m_mounted = false;
    int m_ep0 = -1;
    int m_in = -1;
    int m_out = -1;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_controlDone{false};
    std::thread m_control;
    std::function<void()> m_onReset;
};

}  // namespace qdx::sim
