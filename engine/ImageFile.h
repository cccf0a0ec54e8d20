// Reading and judging an image as the writer takes it. One judgement serves the job (before the
// flash is touched), the writer and qdxflash check, so they never disagree about a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/facts/ImageFormat.h"

namespace qdx {

// Why an image cannot be written; None when it can.
enum class ImageFault {
    None,
    Unreadable,         // missing, not a regular file, no permission, a read error
    TooLarge,           // more than the 5 MiB the writer reads
    Empty,              // no byte at all
    Key,                // does not start with the key
    ShorterThanHeader,  // the key, but not a whole 512-byte header
    Checksum,           // the stored sum does not match the payload
};

// The message the writer shows for a fault (null for None).
const char* ImageFaultMessage(ImageFault fault);

// An image as read for writing: the file's first bytes (at most kImageMaxBytes), its real size,
// and the judgement.
struct ImageData {
    std::vector<std::uint8_t> bytes;
    std::uint64_t fileBytes = 0;
    ImageFault fault = ImageFault::None;
    std::string reason;  // for people, e.g. "is a directory", "checksum 0x1234 stored, ..."

    bool Valid() const { return fault == ImageFault::None; }
    // Payload bytes after the header (0 when there is none).
    std::size_t PayloadBytes() const;
};

// Reads an image file. Only a regular file is opened, so a FIFO or a device never blocks or
// streams forever; a path that does not exist is named as such.
ImageData ReadImageFile(const std::string& path);
// Judges bytes already in memory (the built-in image, a test's image).
ImageData ImageFromBytes(std::span<const std::uint8_t> bytes);

// Flash blocks (segments) a payload of that many bytes takes from sectorOffset in its first
// block; an empty payload still takes one.
std::uint32_t SegmentsNeeded(std::size_t payloadBytes, std::uint32_t sectorOffset,
                             std::uint32_t sectorsPerBlock);

// What qdxflash check shows of one image.
struct ImageCheck {
    bool valid = false;
    bool keyOk = false;
    bool checksumOk = false;
    bool withinSizeLimit = false;
    bool wholeSectors = false;  // the payload needs no padding
    std::uint16_t storedChecksum = 0;
    std::uint16_t computedChecksum = 0;
    std::uint64_t fileBytes = 0;
    std::size_t payloadBytes = 0;
    std::uint32_t payloadSectors = 0;  // after padding to whole sectors
    std::uint32_t segmentsSmallPage = 0;
    std::uint32_t segmentsLargePage = 0;
    std::string verdict;  // one line for people
};

ImageCheck DescribeImage(const ImageData& image);
// Shorthand for bytes in memory.
ImageCheck CheckImage(std::span<const std::uint8_t> image);

// Builds an image around a payload: key, zero header, checksum. False with *error set when the
// image would exceed the 5 MiB the writer reads.
bool PackImage(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& image,
               std::string* error);

}  // namespace qdx
