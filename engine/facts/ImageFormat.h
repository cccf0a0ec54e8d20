// The format of every image the player takes (the built-in IM/PM image, *.uit, *.hzk): a 512-byte
// header that carries a 7-byte key and, at bytes 14 and 15, the big-endian 16-bit sum of the
// payload bytes; then the payload, which alone is written to flash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qdx {

inline constexpr char kImageKey[] = "velmora";  // 7 bytes, no terminator in the file
inline constexpr std::size_t kImageKeyBytes = 7;
inline constexpr std::size_t kImageHeaderBytes = 512;
inline constexpr std::size_t kImageChecksumOffset = 14;
inline constexpr std::size_t kImageSectorBytes = 512;
// The writer reads at most this much of a file.
inline constexpr std::size_t kImageMaxBytes = 5 * 1024 * 1024;
inline constexpr std::size_t kImageMaxPayloadBytes = kImageMaxBytes - kImageHeaderBytes;
// A copy is cut into at most this many per-block segments (the SegmentTable).
inline constexpr int kMaxSegments = 100;

// The 16-bit sum of the bytes, each unsigned.
inline std::uint16_t ImageChecksum(std::span<const std::uint8_t> payload) {
    std::uint16_t sum = 0;
    for (std::uint8_t byte : payload) {
        sum = static_cast<std::uint16_t>(sum + byte);
    }
    return sum;
}

}  // namespace qdx
