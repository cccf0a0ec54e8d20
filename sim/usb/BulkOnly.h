// USB mass-storage bulk-only transport, device side: a command block wrapper (CBW) from the host,
// an optional data phase, then a command status wrapper (CSW). Plain code over two small
// interfaces, the bulk pipes and the SCSI target, so that it runs without a USB controller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qdx::sim::usb {

inline constexpr std::size_t kCbwBytes = 31;
inline constexpr std::size_t kCswBytes = 13;
inline constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC", little-endian
inline constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"

// Class requests on the interface (control pipe).
inline constexpr std::uint8_t kRequestReset = 0xFF;
inline constexpr std::uint8_t kRequestGetMaxLun = 0xFE;

enum class CswStatus : std::uint8_t { Passed = 0, Failed = 1, PhaseError = 2 };

struct Cbw {
    std::uint32_t tag = 0;
    std::uint32_t dataLength = 0;
    bool dataIn = false;
    std::uint8_t lun = 0;
    std::uint8_t cbLength = 0;
    std::array<std::uint8_t, 16> cb{};
};

// Empty when the bytes are not a valid, meaningful CBW: wrong size or signature, a command block
// length outside 1..16, or reserved bits set.
std::optional<Cbw> ParseCbw(const std::uint8_t* bytes, std::size_t count);

std::array<std::uint8_t, kCswBytes> BuildCsw(std::uint32_t tag, std::uint32_t residue,
                                             CswStatus status);

enum class DataPhase { None, In, Out };

// What became of one command in the SCSI target.
struct ScsiOutcome {
    enum class Kind {
        Good,            // status GOOD
        CheckCondition,  // status CHECK CONDITION; the sense waits for REQUEST SENSE
        NotCarried,      // the command did not complete: the host must see a transport failure
        Unplugged,       // the device leaves the bus now
    };
    Kind kind = Kind::Good;
    std::uint32_t dataBytes = 0;  // data-in bytes produced, or data-out bytes taken
};

class IScsiTarget {
public:
    virtual ~IScsiTarget() = default;
    // Carries out one command. For DataPhase::In the target fills up to length bytes of data;
    // for DataPhase::Out data holds the length bytes the host sent.
    virtual ScsiOutcome Execute(const std::uint8_t* cdb, std::size_t cdbLength, DataPhase phase,
                                std::uint8_t* data, std::uint32_t length) = 0;
    // The host reset the interface (class request): pending state such as sense is dropped.
    virtual void Reset() {}
};

// The two bulk endpoints.
class IBulkPipes {
public:
    virtual ~IBulkPipes() = default;
    // Receives one transfer of at most count bytes from bulk-out; returns the bytes received
    // (fewer when the host ended with a short packet), or -1 when the function left the bus.
    virtual long Receive(std::uint8_t* data, std::size_t count) = 0;
    // Sends count bytes on bulk-in; false when the function left the bus.
    virtual bool Send(const std::uint8_t* data, std::size_t count) = 0;
    // Stalls an endpoint until the host clears the halt.
    virtual void HaltIn() = 0;
    virtual void HaltOut() = 0;
};

class BulkOnlyServer {
public:
    enum class Result { Served, BusGone, Unplug };

    // maxTransfer bounds the data phase a CBW may ask for; larger ones are phase errors.
    BulkOnlyServer(IBulkPipes& pipes, IScsiTarget& target, std::uint32_t maxTransfer = 1u << 20);

    // Waits for one CBW and carries the command through its data phase to the CSW.
    Result ServeOne();

    std::uint64_t Commands() const { return m_commands; }

private:
    bool ReceiveAll(std::uint8_t* data, std::uint32_t length);
    bool SendCsw(std::uint32_t tag, std::uint32_t residue, CswStatus status);

    IBulkPipes& m_pipes;
    IScsiTarget& m_target;
    std::uint32_t m_maxTransfer;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_commands = 0;
};

}  // namespace qdx::sim::usb
