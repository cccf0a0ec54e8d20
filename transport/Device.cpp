#include "transport/Device.h"

#include <cstdio>

namespace qdx {

std::string TransportStatus::Describe() const {
    char text[160];
    if (!delivered && (hostStatus != 0 || driverStatus != 0)) {
        std::snprintf(text, sizeof text,
                      "not delivered (transport error: host 0x%04X, driver 0x%04X)", hostStatus,
                      driverStatus);
    } else if (!delivered) {
        std::snprintf(text, sizeof text, "not delivered (system error %d)", osError);
    } else {
        std::snprintf(text, sizeof text,
                      "delivered, SCSI status 0x%02X, host 0x%04X, driver 0x%04X", scsiStatus,
                      hostStatus, driverStatus);
    }
    std::string result = text;
    if (residue != 0) {
        std::snprintf(text, sizeof text, ", residue %u", static_cast<unsigned>(residue));
        result += text;
    }
    if (!sense.empty()) {
        result += ", sense";
        for (std::uint8_t byte : sense) {
            std::snprintf(text, sizeof text, " %02X", byte);
            result += text;
        }
    }
    return result;
}

}  // namespace qdx
