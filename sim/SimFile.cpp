#include "sim/SimFile.h"

#include <array>
#include <cstring>
#include <istream>
#include <ostream>

#include "transport/VendorCommand.h"

namespace qdx::sim {

namespace {

constexpr char kMagic[8] = {'Q', 'D', 'X', 'S', 'I', 'M', 'P', 'L'};
constexpr std::uint8_t kTwoChipsFlag = 0x01;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
    static constexpr std::array<std::uint32_t, 256> kTable = MakeCrcTable();
    crc = ~crc;
    for (std::size_t i = 0; i < count; ++i) {
        crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void FileWriter::Put(const std::uint8_t* bytes, std::size_t count) {
    m_crc = Crc32Update(m_crc, bytes, count);
    m_out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
}

void FileWriter::Put32(std::uint32_t value) {
    std::uint8_t bytes[4];
    PutBigEndian32(bytes, value);
    Put(bytes, sizeof bytes);
}

void FileWriter::FinishWithCrc() {
    std::uint8_t bytes[4];
    PutBigEndian32(bytes, m_crc);
    m_out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void FileReader::Get(std::uint8_t* bytes, std::size_t count) {
    if (!m_failed) {
        m_in.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
        m_failed = static_cast<std::size_t>(m_in.gcount()) != count;
    }
    if (m_failed) {
        std::memset(bytes, 0, count);
        return;
    }
    m_crc = Crc32Update(m_crc, bytes, count);
}

std::uint32_t FileReader::Get32() {
    std::uint8_t bytes[4];
    Get(bytes, sizeof bytes);
    return GetBigEndian32(bytes);
}

bool FileReader::CheckCrc() {
    const std::uint32_t computed = m_crc;
    const std::uint32_t stored = Get32();
    return !m_failed && stored == computed;
}

void WriteHeader(FileWriter& writer, const FileHeader& header) {
    std::uint8_t bytes[kFileHeaderBytes] = {};
    std::memcpy(bytes, kMagic, sizeof kMagic);
    PutBigEndian16(&bytes[8], kFileVersion);
    bytes[10] = header.deviceCode;
    bytes[11] = header.twoChips ? kTwoChipsFlag : 0;
    PutBigEndian32(&bytes[12], header.badBlockCount);
    PutBigEndian32(&bytes[16], header.sectorCount);
    writer.Put(bytes, sizeof bytes);
}

bool ReadHeader(FileReader& reader, std::uint64_t fileSize, FileHeader* header,
                std::string* problem) {
    if (fileSize < kFileHeaderBytes + 4) {
        *problem = "too short for a simulated player file (" + std::to_string(fileSize) +
                   " bytes; truncated?)";
        return false;
    }
    std::uint8_t bytes[kFileHeaderBytes];
    reader.Get(bytes, sizeof bytes);
    if (reader.Failed() || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) {
        *problem = "not a simulated player file";
        return false;
    }
    const std::uint16_t version = GetBigEndian16(&bytes[8]);
    if (version != kFileVersion) {
        *problem = "unsupported simulated player file version " + std::to_string(version);
        return false;
    }
    if ((bytes[11] & ~kTwoChipsFlag) != 0) {
        *problem = "unknown flags in the header (corrupt file)";
        return false;
    }
    header->deviceCode = bytes[10];
    header->twoChips = (bytes[11] & kTwoChipsFlag) != 0;
    header->badBlockCount = GetBigEndian32(&bytes[12]);
    header->sectorCount = GetBigEndian32(&bytes[16]);
    return true;
}

std::uint64_t FileSize(const FileHeader& header) {
    return kFileHeaderBytes + 4ull * header.badBlockCount +
           kSectorRecordBytes * header.sectorCount + 4;
}

}  // namespace qdx::sim
