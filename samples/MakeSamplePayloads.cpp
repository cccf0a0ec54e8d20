// Writes the payloads of the sample images: a UIT table and a 16x16 GB2312 bitmap font. Both are
// made up but shaped like the real thing, and the same on every run.
// Usage: qdx_make_sample_payloads UIT_PAYLOAD HZK_PAYLOAD
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr std::size_t kUitBytes = 96 * 1024;
// GB2312 rows 0xA1..0xF7 (87) by columns 0xA1..0xFE (94), 32 bytes a glyph.
constexpr std::size_t kFontRows = 87;
constexpr std::size_t kFontColumns = 94;
constexpr std::size_t kGlyphBytes = 32;
constexpr std::size_t kFontBytes = kFontRows * kFontColumns * kGlyphBytes;  // 261,696
static_assert(kFontBytes == 261696);

void PutBigEndian32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

// A table of 256 screen records: an index of offsets, then each record's fields and some
// pseudo-random resource bytes.
std::vector<std::uint8_t> UitPayload() {
    std::vector<std::uint8_t> out(kUitBytes, 0);
    constexpr std::uint32_t kRecords = 256;
    constexpr std::uint32_t kIndexBytes = 16 + kRecords * 4;
    constexpr std::uint32_t kRecordBytes = (kUitBytes - kIndexBytes) / kRecords;
    const char magic[] = "UITTABLE";
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(magic[i]);
    }
    PutBigEndian32(out, 8, kRecords);
    PutBigEndian32(out, 12, kRecordBytes);
    std::uint32_t state = 0x2545F491u;
    for (std::uint32_t r = 0; r < kRecords; ++r) {
        const std::uint32_t at = kIndexBytes + r * kRecordBytes;
        PutBigEndian32(out, 16 + r * 4, at);
        PutBigEndian32(out, at, r);                   // screen id
        PutBigEndian32(out, at + 4, (r * 7) % 128);   // x
        PutBigEndian32(out, at + 8, (r * 13) % 160);  // y
        PutBigEndian32(out, at + 12, 0xA1A1 + r);     // first character code
        for (std::uint32_t i = 16; i < kRecordBytes; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            out[at + i] = static_cast<std::uint8_t>(state);
        }
    }
    return out;
}

// Each glyph is a frame with strokes that depend on its code, so neighbouring glyphs differ.
std::vector<std::uint8_t> FontPayload() {
    std::vector<std::uint8_t> out;
    out.reserve(kFontBytes);
    for (std::size_t row = 0; row < kFontRows; ++row) {
        for (std::size_t column = 0; column < kFontColumns; ++column) {
            std::array<std::uint16_t, 16> lines{};
            const unsigned across = 2 + row % 12;
            const unsigned down = 2 + column % 12;
            for (unsigned y = 1; y < 15; ++y) {
                std::uint16_t bits = 0;
                if (y == 1 || y == 14 || y == across) {
                    bits = 0x7FFE;  // frame top, bottom and a horizontal stroke
                } else {
                    bits = 0x4002 | static_cast<std::uint16_t>(0x8000 >> down);
                }
                if ((row + column + y) % 5 == 0) {
                    bits |= static_cast<std::uint16_t>(0x8000 >> y);  // a diagonal dot
                }
                lines[y] = bits;
            }
            for (std::uint16_t bits : lines) {
                out.push_back(static_cast<std::uint8_t>(bits >> 8));
                out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            }
        }
    }
    return out;
}

bool Write(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s UIT_PAYLOAD HZK_PAYLOAD\n", argv[0]);
        return 2;
    }
    return Write(argv[1], UitPayload()) && Write(argv[2], FontPayload()) ? 0 : 1;
}
