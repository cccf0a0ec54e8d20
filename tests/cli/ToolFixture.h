// Runs the built qdxflash in a folder of its own per test, the way scripts run it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace qdx::test {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The folder is kept when a test fails, for a look at what the tool left there.
class ToolFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                (std::string("qdxflash_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        if (!HasFailure()) {
            std::filesystem::remove_all(m_dir);
        }
    }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    ToolRun Qdxflash(const std::string& args) const {
        const std::string outFile = Path("stdout.txt");
        const std::string errFile = Path("stderr.txt");
        const std::string line = std::string("\"") + QDXFLASH_PATH + "\" " + args + " >\"" +
                                 outFile + "\" 2>\"" + errFile + "\"";
        const int status = std::system(line.c_str());
        ToolRun run;
#ifdef _WIN32
        run.exitCode = status;
#else
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        run.out = ReadText(outFile);
        run.err = ReadText(errFile);
        return run;
    }

    std::filesystem::path m_dir;
};

}  // namespace qdx::test
