// The device port: one open player that carries vendor commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/VendorCommand.h"

namespace qdx {

// What became of the last request. The three kinds of failure are kept apart: the platform
// refused or could not carry the request (delivered false, osError), the transport reported an
// error (delivered false, host or driver status), or the device answered with an error status
// (delivered, scsiStatus and sense).
struct TransportStatus {
    bool delivered = false;
    int osError = 0;              // errno or GetLastError() when the platform call failed
    std::uint8_t scsiStatus = 0;  // 0 good, 2 check condition
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    std::uint32_t residue = 0;  // bytes of the data phase the device did not transfer
    std::vector<std::uint8_t> sense;

    // A one-line description for messages and logs.
    std::string Describe() const;
};

class IDevice {
public:
    virtual ~IDevice() = default;

    // Carries one command to the player and waits for it. Returns true when the platform
    // delivered it, whatever status the device answered with; false otherwise, and always
    // after Close.
    virtual bool Send(const CommandDescription& command) = 0;

    // The outcome of the last Send.
    virtual TransportStatus LastStatus() const = 0;

    // Releases the platform handle; later sends fail. Closing twice is harmless.
    virtual void Close() = 0;
};

// An open player, or null: null stands where the platform would return an invalid handle.
using DeviceHandle = std::shared_ptr<IDevice>;

// Closes the device behind a handle, if any.
inline void CloseHandle(const DeviceHandle& handle) {
    if (handle) {
        handle->Close();
    }
}

}  // namespace qdx
