// The simulated player's file: framing, integers and the CRC that guards it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace qdx::sim {

// Layout, all integers big-endian:
//   0   8  magic "QDXSIMPL"
//   8   2  format version (1)
//  10   1  device code
//  11   1  flags: bit 0 two chips; other bits 0
//  12   4  number of factory bad blocks B
//  16   4  number of sector records R
//  20  4B  bad block numbers, strictly ascending
//   ..     R records: sector number (4), then its 512 data and 16 spare bytes, sectors strictly
//          ascending; sectors left out are erased (all 0xFF)
//   ..  4  CRC-32 (IEEE) of every byte before it
inline constexpr std::uint16_t kFileVersion = 1;
inline constexpr std::uint64_t kFileHeaderBytes = 20;
inline constexpr std::uint64_t kSectorRecordBytes = 4 + 512 + 16;

struct FileHeader {
    std::uint8_t deviceCode = 0;
    bool twoChips = false;
    std::uint32_t badBlockCount = 0;
    std::uint32_t sectorCount = 0;
};

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// Writes bytes and keeps the running CRC.
class FileWriter {
public:
    explicit FileWriter(std::ostream& out) : m_out(out) {}
    void Put(const std::uint8_t* bytes, std::size_t count);
    void Put32(std::uint32_t value);
    void FinishWithCrc();

private:
    std::ostream& m_out;
    std::uint32_t m_crc = 0;
};

// Reads bytes and keeps the running CRC; after a short read it yields zeros and Failed() is true.
class FileReader {
public:
    explicit FileReader(std::istream& in) : m_in(in) {}
    void Get(std::uint8_t* bytes, std::size_t count);
    std::uint32_t Get32();
    // Reads the stored CRC and compares it with the bytes read so far.
    bool CheckCrc();
    bool Failed() const { return m_failed; }

private:
    std::istream& m_in;
    std::uint32_t m_crc = 0;
    bool m_failed = false;
};

void WriteHeader(FileWriter& writer, const FileHeader& header);
// False with *problem set when the file is too short for a header or the header is not ours.
bool ReadHeader(FileReader& reader, std::uint64_t fileSize, FileHeader* header,
                std::string* problem);
// The exact size of a file with this header.
std::uint64_t FileSize(const FileHeader& header);

}  // namespace qdx::sim
