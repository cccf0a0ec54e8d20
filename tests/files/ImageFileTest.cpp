#include "engine/ImageFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "files/BuiltinImage.h"

namespace qdx {
namespace {

std::vector<std::uint8_t> Payload(std::size_t size, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> payload(size);
    for (std::size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return payload;
}

std::vector<std::uint8_t> Packed(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> image;
    std::string error;
    EXPECT_TRUE(PackImage(payload, image, &error)) << error;
    return image;
}

TEST(PackImage, RoundTripsThroughCheckImage) {
    // A payload whose byte sum overflows 16 bits, so a missing modulo would show.
    std::vector<std::uint8_t> payload(1000, 0xFF);
    std::vector<std::uint8_t> image = Packed(payload);
    ASSERT_EQ(image.size(), 512u + 1000u);
    EXPECT_EQ(std::memcmp(image.data(), "velmora", 7), 0);
    EXPECT_EQ(std::memcmp(image.data() + 512, payload.data(), payload.size()), 0);
    const std::uint16_t expected = (1000 * 0xFF) % 65536;  // 0xE6E8: big-endian at 14-15
    EXPECT_EQ(image[14], expected >> 8);
    EXPECT_EQ(image[15], expected & 0xFF);
    for (std::size_t i = 7; i < 512; ++i) {
        if (i != 14 && i != 15) {
            ASSERT_EQ(image[i], 0) << "header byte " << i;
        }
    }

    ImageCheck check = CheckImage(image);
    EXPECT_TRUE(check.valid) << check.verdict;
    EXPECT_EQ(check.storedChecksum, expected);
    EXPECT_EQ(check.computedChecksum, expected);
    EXPECT_EQ(check.payloadBytes, 1000u);
    EXPECT_EQ(check.payloadSectors, 2u);
    EXPECT_FALSE(check.wholeSectors);
    EXPECT_EQ(check.verdict, "valid");
}

TEST(PackImage, RefusesAnImageOverFiveMiB) {
    std::vector<std::uint8_t> image;
    std::string error;
    EXPECT_TRUE(PackImage(Payload(kImageMaxBytes - 512), image, &error));
    EXPECT_EQ(image.size(), kImageMaxBytes);
    image.clear();
    EXPECT_FALSE(PackImage(Payload(kImageMaxBytes - 511), image, &error));
    EXPECT_TRUE(image.empty());
    EXPECT_NE(error.find("5242368"), std::string::npos) << error;
}

TEST(CheckImage, SegmentsOnSmallAndLargePageChips) {
    struct Case {
        std::size_t payloadBytes;
        std::uint32_t small;
        std::uint32_t large;
    };
    const Case cases[] = {
        {0, 1, 1},                // an empty payload still takes its start block
        {1, 1, 1},                // padded to one sector
        {32 * 512, 1, 1},         // ends exactly at a small block's end
        {32 * 512 + 1, 2, 1},     //
        {147968, 10, 2},          // the built-in image: 289 sectors
        {256 * 512, 8, 1},        //
        {256 * 512 + 512, 9, 2},  //
        {3200 * 512, 100, 13},    // the most a small-page chip takes
    };
    for (const Case& c : cases) {
        ImageCheck check = CheckImage(Packed(Payload(c.payloadBytes)));
        EXPECT_EQ(check.segmentsSmallPage, c.small) << c.payloadBytes;
        EXPECT_EQ(check.segmentsLargePage, c.large) << c.payloadBytes;
        EXPECT_TRUE(check.valid) << c.payloadBytes;
    }
}

TEST(CheckImage, TooLargeForSmallPageChipsStaysValidWithAWarning) {
    ImageCheck check = CheckImage(Packed(Payload(3200 * 512 + 1)));
    EXPECT_TRUE(check.valid);
    EXPECT_EQ(check.segmentsSmallPage, 101u);
    EXPECT_NE(check.verdict.find("small-page"), std::string::npos) << check.verdict;
}

TEST(CheckImage, RejectsWhatTheWriterRejects) {
    std::vector<std::uint8_t> good = Packed(Payload(4096));

    std::vector<std::uint8_t> wrongKey = good;
    wrongKey[6] = 'A';  // "velmorA": the last key byte matters too
    std::vector<std::uint8_t> upperKey = good;
    std::memcpy(upperKey.data(), "VELMORA", 7);
    std::vector<std::uint8_t> payloadFlip = good;
    payloadFlip[512 + 4095] ^= 0x01;  // the last payload byte
    std::vector<std::uint8_t> storedFlip = good;
    storedFlip[15] ^= 0x01;
    std::vector<std::uint8_t> shortFile(good.begin(), good.begin() + 6);
    std::vector<std::uint8_t> oversize = good;
    oversize.resize(kImageMaxBytes + 1, 0);

    struct Case {
        const char* why;
        std::vector<std::uint8_t> bytes;
        bool keyOk;
        bool checksumOk;
        bool withinSize;
    };
    const std::vector<Case> cases = {
        {"wrong last key byte", wrongKey, false, true, true},
        {"key in upper case", upperKey, false, true, true},
        {"payload byte changed", payloadFlip, true, false, true},
        {"stored checksum changed", storedFlip, true, false, true},
        {"shorter than the key", shortFile, false, true, true},
        {"empty file", {}, false, true, true},
        {"over 5 MiB", oversize, true, true, false},
    };
    for (const Case& c : cases) {
        ImageCheck check = CheckImage(c.bytes);
        EXPECT_FALSE(check.valid) << c.why;
        EXPECT_EQ(check.keyOk, c.keyOk) << c.why;
        EXPECT_EQ(check.checksumOk, c.checksumOk) << c.why;
        EXPECT_EQ(check.withinSizeLimit, c.withinSize) << c.why;
        EXPECT_EQ(check.verdict.rfind("invalid", 0), 0u) << c.why << ": " << check.verdict;
    }
}

TEST(CheckImage, AnImageShorterThanItsHeaderIsDamagedAndAnEmptyOneIsEmpty) {
    // The key alone, or a header cut short: not an image the writer may take.
    std::vector<std::uint8_t> sevenBytes = {'v', 'e', 'l', 'm', 'o', 'r', 'a'};
    EXPECT_FALSE(CheckImage(sevenBytes).valid);
    EXPECT_EQ(ImageFromBytes(sevenBytes).fault, ImageFault::ShorterThanHeader);
    EXPECT_NE(CheckImage(sevenBytes).verdict.find("shorter than its 512-byte header"),
              std::string::npos)
        << CheckImage(sevenBytes).verdict;
    EXPECT_EQ(ImageFromBytes({}).fault, ImageFault::Empty);
    EXPECT_EQ(CheckImage({}).verdict, "invalid: empty (0 bytes)");

    // A whole header with no payload: the sum is 0, so only a zero stored checksum holds.
    std::vector<std::uint8_t> header = Packed({});
    EXPECT_TRUE(CheckImage(header).valid);
    header[15] = 1;
    EXPECT_FALSE(CheckImage(header).valid);
}

TEST(CheckImage, ChecksumCoversOnlyTheFirstFiveMiB) {
    // The writer reads 5 MiB; bytes past it do not enter the sum, but the file is refused.
    std::vector<std::uint8_t> image = Packed(Payload(kImageMaxBytes - 512));
    image.push_back(0x55);
    ImageCheck check = CheckImage(image);
    EXPECT_TRUE(check.checksumOk);
    EXPECT_FALSE(check.withinSizeLimit);
    EXPECT_FALSE(check.valid);
}

TEST(BuiltinImage, IsAValidImageOfTheExpectedShape) {
    std::span<const std::uint8_t> image = BuiltinImage();
    ASSERT_EQ(image.size(), 148480u);
    EXPECT_EQ(std::memcmp(image.data(), "velmora", 7), 0);
    EXPECT_EQ(image[14] << 8 | image[15], 0xCF92);
    EXPECT_EQ(ImageChecksum(image.subspan(512)), 0xCF92);
    ImageCheck check = CheckImage(image);
    EXPECT_TRUE(check.valid);
    EXPECT_TRUE(check.wholeSectors);
    EXPECT_EQ(check.payloadSectors, 289u);
}

}  // namespace
}  // namespace qdx
