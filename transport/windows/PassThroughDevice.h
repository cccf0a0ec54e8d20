// The Windows pass-through backend: each vendor command is one synchronous DeviceIoControl with
// IOCTL_SCSI_PASS_THROUGH_DIRECT on the player's volume, the request record serving as both the
// input and the output buffer.
#pragma once

#include "transport/Device.h"
#include "transport/windows/PassThroughRecord.h"

namespace qdx {

class PassThroughDevice final : public IDevice {
public:
    // Takes ownership of volume, opened read-write.
    explicit PassThroughDevice(HANDLE volume);
    ~PassThroughDevice() override;
    PassThroughDevice(const PassThroughDevice&) = delete;
    PassThroughDevice& operator=(const PassThroughDevice&) = delete;

    // Returns DeviceIoControl's success; the SCSI status the device answered is kept in
    // LastStatus() and does not change the result.
    bool Send(const CommandDescription& command) override;
    TransportStatus LastStatus() const override { return m_last; }
    void Close() override;

private:
    HANDLE m_volume;
    TransportStatus m_last;
};

}  // namespace qdx
