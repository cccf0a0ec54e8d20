// Writes the placeholder IM/PM image kept in files/data: 148,480 bytes in the image format, with
// a deterministic payload whose 16-bit sum is 0xCF92. We carry no player firmware; the
// placeholder lets every download path run. Usage: qdx_make_placeholder_image OUTPUT
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

#include "engine/ImageFile.h"

namespace {

constexpr std::size_t kPayloadBytes = 148480 - qdx::kImageHeaderBytes;
constexpr std::uint16_t kChecksum = 0xCF92;
constexpr std::size_t kAdjustBytes = 512;  // the last sector brings the sum to kChecksum

std::vector<std::uint8_t> PlaceholderPayload() {
    std::vector<std::uint8_t> payload(kPayloadBytes);
    std::uint32_t state = 0x1D2C3B4Au;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kPayloadBytes - kAdjustBytes; ++i) {
        state = state * 1664525u + 1013904223u;  // the classic 32-bit LCG
        payload[i] = static_cast<std::uint8_t>(state >> 24);
        sum += payload[i];
    }
    // Spread the missing amount (0..65535) evenly over the last sector: at most 128 per byte.
    std::uint32_t missing = (kChecksum - (sum & 0xFFFF)) & 0xFFFF;
    for (std::size_t i = 0; i < kAdjustBytes; ++i) {
        std::uint32_t share = missing / kAdjustBytes + (i < missing % kAdjustBytes ? 1 : 0);
        payload[kPayloadBytes - kAdjustBytes + i] = static_cast<std::uint8_t>(share);
    }
    return payload;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<std::uint8_t> image;
    std::string error;
    if (!qdx::PackImage(PlaceholderPayload(), image, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (qdx::ImageChecksum(std::span(image).subspan(qdx::kImageHeaderBytes)) != kChecksum) {
        std::fprintf(stderr, "placeholder checksum does not come out as 0x%04X\n", kChecksum);
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
