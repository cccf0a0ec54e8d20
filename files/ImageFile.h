// The image format of the IM/PM, UIT and font images: a 512-byte header with the key and a
// big-endian 16-bit byte sum of the payload at bytes 14-15, then the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/ImageFormat.h"

namespace qdx {

inline constexpr std::size_t kImageSectorBytes = 512;
inline constexpr std::size_t kImageMaxPayloadBytes = kImageMaxBytes - kImageHeaderBytes;
inline constexpr std::uint32_t kSmallPageSectorsPerBlock = 32;
inline constexpr std::uint32_t kLargePageSectorsPerBlock = 256;
inline constexpr std::uint32_t kMaxImageSegments = 100;

// Flash blocks (segments) a payload of that many sectors occupies from the first sector of a
// block; an empty payload still takes one.
std::uint32_t SegmentsNeeded(std::uint32_t payloadSectors, std::uint32_t sectorsPerBlock);

struct ImageCheck {
    bool valid = false;  // the writer accepts it: key, checksum and size hold
    bool keyOk = false;
    bool checksumOk = false;
    bool withinSizeLimit = false;
    bool wholeSectors = false;  // the payload needs no padding
    std::uint16_t storedChecksum = 0;
    std::uint16_t computedChecksum = 0;
    std::size_t payloadBytes = 0;
    std::uint32_t payloadSectors = 0;  // after padding to whole sectors
    std::uint32_t segmentsSmallPage = 0;
    std::uint32_t segmentsLargePage = 0;
    std::string verdict;  // one line for people
};

// Checks a whole image file as the writer would take it.
ImageCheck CheckImage(std::span<const std::uint8_t> image);

// Builds an image around a payload: key, zero header, checksum. False with *error set when the
// image would exceed the 5 MiB the writer reads.
bool PackImage(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& image,
               std::string* error);

}  // namespace qdx
