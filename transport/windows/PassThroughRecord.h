// The 80-byte request record of one vendor command on Windows: a SCSI_PASS_THROUGH_DIRECT header,
// zero filler to the next 8-byte boundary, then a 32-byte sense area. Off Windows a stand-in of
// the header with the same field types and order takes its place, so that the record and its
// filling are checked in every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "transport/VendorCommand.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on
#endif

namespace qdx {

#ifdef _WIN32
using ScsiPassThroughDirect = SCSI_PASS_THROUGH_DIRECT;
inline constexpr std::uint8_t kScsiDataIn = SCSI_IOCTL_DATA_IN;
inline constexpr std::uint8_t kScsiDataOut = SCSI_IOCTL_DATA_OUT;
inline constexpr DWORD kIoctlScsiPassThroughDirect = IOCTL_SCSI_PASS_THROUGH_DIRECT;
static_assert(kIoctlScsiPassThroughDirect == 0x4D014);
static_assert(kScsiDataIn == 1 && kScsiDataOut == 0);
#else
struct ScsiPassThroughDirect {
    std::uint16_t Length;
    std::uint8_t ScsiStatus;
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
    std::uint8_t CdbLength;
    std::uint8_t SenseInfoLength;
    std::uint8_t DataIn;
    std::uint32_t DataTransferLength;
    std::uint32_t TimeOutValue;
    void* DataBuffer;
    std::uint32_t SenseInfoOffset;
    std::uint8_t Cdb[16];
};
inline constexpr std::uint8_t kScsiDataIn = 1;
inline constexpr std::uint8_t kScsiDataOut = 0;
#endif

inline constexpr std::size_t kPassThroughSenseBytes = 32;
inline constexpr std::uint8_t kPassThroughTargetId = 1;

struct PassThroughRecord {
    ScsiPassThroughDirect header;
    // The alignment puts the zero filler between the header and the sense area.
    alignas(8) std::uint8_t sense[kPassThroughSenseBytes];
};

inline constexpr std::size_t kPassThroughSenseOffset = offsetof(PassThroughRecord, sense);

static_assert(kPassThroughSenseOffset == (sizeof(ScsiPassThroughDirect) + 7) / 8 * 8);
static_assert(sizeof(PassThroughRecord) == kPassThroughSenseOffset + kPassThroughSenseBytes);
// The 32-bit figures the controller's command set is written against.
static_assert(sizeof(void*) != 4 || sizeof(ScsiPassThroughDirect) == 44);
static_assert(sizeof(void*) != 4 || kPassThroughSenseOffset == kSenseInfoOffset);
static_assert(sizeof(void*) != 4 || sizeof(PassThroughRecord) == 80);

// Zero-fills *record, then fills it for command. A nonzero sense offset in the command names the
// record's sense area (byte 48 on 32-bit); no sense bytes are requested either way.
inline void FillPassThroughRecord(const CommandDescription& command, PassThroughRecord* record) {
    std::memset(record, 0, sizeof *record);
    ScsiPassThroughDirect& header = record->header;
    header.Length = sizeof header;
    header.PathId = 0;
    header.TargetId = kPassThroughTargetId;
    header.Lun = 0;
    header.CdbLength = kCdbLength;
    header.SenseInfoLength = 0;
    header.DataIn = command.direction == DataDirection::FromDevice ? kScsiDataIn : kScsiDataOut;
    header.DataTransferLength = command.transferLength;
    header.TimeOutValue = command.timeoutSeconds;
    header.DataBuffer = command.buffer;
    header.SenseInfoOffset = command.senseInfoOffset == 0 ? 0 : kPassThroughSenseOffset;
    std::memcpy(header.Cdb, command.cdb.data(), kCdbLength);
}

// Returns the volume path \\.\X: for "X:", "X" or "\\.\X:" (X a drive letter of either case), or
// an empty string for anything else.
inline std::string VolumePathFor(const std::string& path) {
    std::string rest = path;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest.erase(0, 4);
        if (rest.size() != 2) {
            return {};
        }
    }
    if (rest.empty() || rest.size() > 2 || (rest.size() == 2 && rest[1] != ':')) {
        return {};
    }
    char letter = rest[0];
    if (letter >= 'a' && letter <= 'z') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    if (letter < 'A' || letter > 'Z') {
        return {};
    }
    return std::string("\\\\.\\") + letter + ':';
}

}  // namespace qdx
