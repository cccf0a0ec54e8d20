// Fixed-format sense data (response code 0x70) and the codes the simulated players answer with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qdx::sim {

inline constexpr std::uint8_t kCheckCondition = 0x02;

inline constexpr std::uint8_t kNoSense = 0x00;
inline constexpr std::uint8_t kMediumError = 0x03;
inline constexpr std::uint8_t kIllegalRequest = 0x05;

inline constexpr std::uint8_t kWriteError = 0x0C;
inline constexpr std::uint8_t kUnrecoveredReadError = 0x11;
inline constexpr std::uint8_t kInvalidOpcode = 0x20;
inline constexpr std::uint8_t kLbaOutOfRange = 0x21;
inline constexpr std::uint8_t kInvalidFieldInCdb = 0x24;
inline constexpr std::uint8_t kUnitNotSupported = 0x25;

inline constexpr std::size_t kFixedSenseBytes = 18;

// Fills `sense` in place, so a buffer kept between refusals keeps its capacity.
inline void FillFixedSense(std::vector<std::uint8_t>& sense, std::uint8_t key, std::uint8_t asc,
                           std::uint8_t ascq = 0) {
    sense.assign(kFixedSenseBytes, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = kFixedSenseBytes - 8;
    sense[12] = asc;
    sense[13] = ascq;
}

}  // namespace qdx::sim
