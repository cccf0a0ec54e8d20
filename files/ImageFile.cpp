#include "files/ImageFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qdx {

std::uint32_t SegmentsNeeded(std::uint32_t payloadSectors, std::uint32_t sectorsPerBlock) {
    if (payloadSectors == 0) {
        return 1;
    }
    return (payloadSectors + sectorsPerBlock - 1) / sectorsPerBlock;
}

ImageCheck CheckImage(std::span<const std::uint8_t> image) {
    ImageCheck check;
    check.withinSizeLimit = image.size() <= kImageMaxBytes;
    // The writer reads at most 5 MiB; describe what it would see.
    std::span<const std::uint8_t> read = image.first(std::min(image.size(), kImageMaxBytes));

    check.keyOk =
        read.size() >= kImageKeyBytes && std::memcmp(read.data(), kImageKey, kImageKeyBytes) == 0;
    // Missing header bytes count as zero, as in the writer's zero-filled buffer.
    auto byteAt = [&read](std::size_t i) -> std::uint16_t { return i < read.size() ? read[i] : 0; };
    check.storedChecksum = static_cast<std::uint16_t>((byteAt(kImageChecksumOffset) << 8) |
                                                      byteAt(kImageChecksumOffset + 1));
    std::span<const std::uint8_t> payload = read.size() > kImageHeaderBytes
                                                ? read.subspan(kImageHeaderBytes)
                                                : std::span<const std::uint8_t>();
    check.computedChecksum = ImageChecksum(payload);
    check.checksumOk = check.storedChecksum == check.computedChecksum;
    check.payloadBytes = payload.size();
    check.wholeSectors = payload.size() % kImageSectorBytes == 0;
    check.payloadSectors =
        static_cast<std::uint32_t>((payload.size() + kImageSectorBytes - 1) / kImageSectorBytes);
    check.segmentsSmallPage = SegmentsNeeded(check.payloadSectors, kSmallPageSectorsPerBlock);
    check.segmentsLargePage = SegmentsNeeded(check.payloadSectors, kLargePageSectorsPerBlock);
    check.valid = check.keyOk && check.checksumOk && check.withinSizeLimit;

    char line[160];
    if (!check.withinSizeLimit) {
        std::snprintf(line, sizeof line, "invalid: %zu bytes, more than the %zu bytes allowed",
                      image.size(), kImageMaxBytes);
    } else if (!check.keyOk) {
        std::snprintf(line, sizeof line, "invalid: the key is not \"%s\"", kImageKey);
    } else if (!check.checksumOk) {
        std::snprintf(line, sizeof line, "invalid: checksum 0x%04X stored, 0x%04X computed",
                      check.storedChecksum, check.computedChecksum);
    } else if (check.segmentsSmallPage > kMaxImageSegments) {
        std::snprintf(line, sizeof line,
                      "valid; too large for small-page chips (%u segments, at most %u)",
                      check.segmentsSmallPage, kMaxImageSegments);
    } else {
        std::snprintf(line, sizeof line, "valid");
    }
    check.verdict = line;
    return check;
}

bool PackImage(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& image,
               std::string* error) {
    if (payload.size() > kImageMaxPayloadBytes) {
        if (error) {
            *error = "payload of " + std::to_string(payload.size()) +
                     " bytes: an image holds at most " + std::to_string(kImageMaxPayloadBytes) +
                     " bytes of payload (5 MiB with its header)";
        }
        return false;
    }
    image.assign(kImageHeaderBytes, 0);
    std::memcpy(image.data(), kImageKey, kImageKeyBytes);
    std::uint16_t checksum = ImageChecksum(payload);
    image[kImageChecksumOffset] = static_cast<std::uint8_t>(checksum >> 8);
    image[kImageChecksumOffset + 1] = static_cast<std::uint8_t>(checksum & 0xFF);
    image.insert(image.end(), payload.begin(), payload.end());
    return true;
}

}  // namespace qdx
