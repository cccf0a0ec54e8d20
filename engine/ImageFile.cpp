#include "engine/ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "engine/Texts.h"
#include "engine/facts/ChipTable.h"

namespace qdx {

namespace fs = std::filesystem;

namespace {

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::uint16_t StoredChecksum(std::span<const std::uint8_t> bytes) {
    // Missing header bytes count as zero.
    auto byteAt = [&bytes](std::size_t i) -> std::uint16_t {
        return i < bytes.size() ? bytes[i] : 0;
    };
    return static_cast<std::uint16_t>((byteAt(kImageChecksumOffset) << 8) |
                                      byteAt(kImageChecksumOffset + 1));
}

std::span<const std::uint8_t> PayloadOf(std::span<const std::uint8_t> bytes) {
    return bytes.size() > kImageHeaderBytes ? bytes.subspan(kImageHeaderBytes)
                                            : std::span<const std::uint8_t>();
}

bool KeyMatches(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kImageKeyBytes &&
           std::memcmp(bytes.data(), kImageKey, kImageKeyBytes) == 0;
}

// Judges bytes read from the start of an image whose whole size is fileBytes.
void Judge(ImageData& image) {
    const std::span<const std::uint8_t> bytes = image.bytes;
    if (image.fileBytes > kImageMaxBytes) {
        image.fault = ImageFault::TooLarge;
        image.reason = std::to_string(image.fileBytes) + " bytes, more than the " +
                       std::to_string(kImageMaxBytes) + " bytes allowed";
    } else if (image.fileBytes == 0) {
        image.fault = ImageFault::Empty;
        image.reason = "empty (0 bytes)";
    } else if (!KeyMatches(bytes)) {
        image.fault = ImageFault::Key;
        image.reason = std::string("the key is not \"") + kImageKey + "\"";
    } else if (image.fileBytes < kImageHeaderBytes) {
        image.fault = ImageFault::ShorterThanHeader;
        image.reason = std::to_string(image.fileBytes) + " bytes, shorter than its " +
                       std::to_string(kImageHeaderBytes) + "-byte header: damaged or cut short";
    } else if (const std::uint16_t computed = ImageChecksum(PayloadOf(bytes)),
               stored = StoredChecksum(bytes);
               computed != stored) {
        image.fault = ImageFault::Checksum;
        image.reason = "checksum " + Hex16(stored) + " stored, " + Hex16(computed) + " computed";
    } else {
        image.fault = ImageFault::None;
        image.reason.clear();
    }
}

std::string SystemErrorText(int error) {
    return error == ENOENT ? "no such file" : std::strerror(error);
}

}  // namespace

const char* ImageFaultMessage(ImageFault fault) {
    switch (fault) {
        case ImageFault::None:
            return nullptr;
        case ImageFault::Unreadable:
            return texts::kFileOpen;
        case ImageFault::TooLarge:
        case ImageFault::ShorterThanHeader:
            return texts::kFileSize;
        case ImageFault::Empty:  // the key is the first thing missing
        case ImageFault::Key:
            return texts::kFileKey;
        case ImageFault::Checksum:
            return texts::kFileChecksum;
    }
    return texts::kFileOpen;
}

std::size_t ImageData::PayloadBytes() const {
    return bytes.size() > kImageHeaderBytes ? bytes.size() - kImageHeaderBytes : 0;
}

ImageData ReadImageFile(const std::string& path) {
    ImageData image;
    image.fault = ImageFault::Unreadable;
    const fs::path filePath(std::u8string(path.begin(), path.end()));
    std::error_code error;
    const fs::file_status status = fs::status(filePath, error);
    if (error) {
        image.reason = error.value() == ENOENT || error == std::errc::no_such_file_or_directory
                           ? "no such file"
                           : error.message();
        return image;
    }
    if (fs::is_directory(status)) {
        image.reason = "is a directory, not an image file";
        return image;
    }
    // A FIFO would block until a writer comes, a device would stream without end.
    if (!fs::is_regular_file(status)) {
        image.reason = "is not a regular file (a FIFO, device or socket)";
        return image;
    }
    image.fileBytes = fs::file_size(filePath, error);
    if (error) {
        image.reason = error.message();
        return image;
    }
    errno = 0;
    std::ifstream file(filePath, std::ios::binary);
    if (!file) {
        image.reason = errno != 0 ? SystemErrorText(errno) : "cannot be opened";
        return image;
    }
    image.bytes.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(image.fileBytes, kImageMaxBytes)));
    file.read(reinterpret_cast<char*>(image.bytes.data()),
              static_cast<std::streamsize>(image.bytes.size()));
    if (file.bad() || static_cast<std::size_t>(file.gcount()) != image.bytes.size()) {
        image.reason = "read error (the file changed or shrank while it was read)";
        image.bytes.clear();
        return image;
    }
    Judge(image);
    return image;
}

ImageData ImageFromBytes(std::span<const std::uint8_t> bytes) {
    ImageData image;
    image.fileBytes = bytes.size();
    image.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(
                                                          std::min(bytes.size(), kImageMaxBytes)));
    Judge(image);
    return image;
}

std::uint32_t SegmentsNeeded(std::size_t payloadBytes, std::uint32_t sectorOffset,
                             std::uint32_t sectorsPerBlock) {
    const std::uint64_t sectors = (payloadBytes + kImageSectorBytes - 1) / kImageSectorBytes;
    if (sectors == 0) {
        return 1;
    }
    return static_cast<std::uint32_t>((sectorOffset + sectors + sectorsPerBlock - 1) /
                                      sectorsPerBlock);
}

ImageCheck DescribeImage(const ImageData& image) {
    ImageCheck check;
    const std::span<const std::uint8_t> bytes = image.bytes;
    const std::span<const std::uint8_t> payload = PayloadOf(bytes);
    check.fileBytes = image.fileBytes;
    check.withinSizeLimit = image.fileBytes <= kImageMaxBytes;
    check.keyOk = KeyMatches(bytes);
    check.storedChecksum = StoredChecksum(bytes);
    check.computedChecksum = ImageChecksum(payload);
    check.checksumOk = check.storedChecksum == check.computedChecksum;
    check.payloadBytes = payload.size();
    check.wholeSectors = payload.size() % kImageSectorBytes == 0;
    check.payloadSectors =
        static_cast<std::uint32_t>((payload.size() + kImageSectorBytes - 1) / kImageSectorBytes);
    check.segmentsSmallPage = SegmentsNeeded(payload.size(), 0, kSmallPageSectorsPerBlock);
    check.segmentsLargePage = SegmentsNeeded(payload.size(), 0, kLargePageSectorsPerBlock);
    check.valid = image.Valid();

    if (!check.valid) {
        check.verdict = "invalid: " + image.reason;
    } else if (check.segmentsSmallPage > static_cast<std::uint32_t>(kMaxSegments)) {
        check.verdict = "valid; too large for small-page chips (" +
                        std::to_string(check.segmentsSmallPage) + " segments, at most " +
                        std::to_string(kMaxSegments) + ")";
    } else {
        check.verdict = "valid";
    }
    return check;
}

ImageCheck CheckImage(std::span<const std::uint8_t> image) {
    return DescribeImage(ImageFromBytes(image));
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
