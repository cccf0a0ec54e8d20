// Image files for writer and job tests, written into a fresh temporary directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "transport/VendorCommand.h"

namespace qdx::test {

// Payload byte k of a test image: varies with the seed so two images never match by accident.
inline std::uint8_t PayloadByte(std::size_t k, std::uint32_t seed) {
    return static_cast<std::uint8_t>((k * 131 + (k >> 9) * 7 + seed * 29) ^ (k >> 3));
}

inline std::vector<std::uint8_t> MakeImage(std::size_t payloadBytes, std::uint32_t seed = 1) {
    std::vector<std::uint8_t> image(512 + payloadBytes, 0);
    const char key[] = "velmora";
    std::copy(key, key + 7, image.begin());
    std::uint16_t sum = 0;
    for (std::size_t k = 0; k < payloadBytes; ++k) {
        image[512 + k] = PayloadByte(k, seed);
        sum = static_cast<std::uint16_t>(sum + image[512 + k]);
    }
    PutBigEndian16(&image[14], sum);
    return image;
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        m_path = std::filesystem::temp_directory_path() /
                 ("qdx-test-" + std::to_string(std::random_device{}()) + "-" +
                  std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        const std::filesystem::path file = m_path / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file.string();
    }
    std::filesystem::path Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace qdx::test
