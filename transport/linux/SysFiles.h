// Reading the kernel's small text files (sysfs attributes, /proc tables).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qdx {

// The first line of a file without its trailing blanks; empty when it cannot be read.
inline std::string ReadFirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// The whole text of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace qdx
