// Runs the built qdxflash with a bound, output and errors captured together.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qdx::test {

// The exit status, or -1 when the program had to be stopped after 60 s (a hang).
inline int RunQdxflash(const std::string& args, std::string* output) {
    const std::string outFile = std::filesystem::temp_directory_path() /
                                ("qdx-reliability-" + std::to_string(::getpid()) + ".txt");
    const std::string line =
        std::string("timeout 60 \"") + QDXFLASH_PATH + "\" " + args + " >\"" + outFile + "\" 2>&1";
    const int status = std::system(line.c_str());
    std::ifstream in(outFile);
    std::ostringstream text;
    text << in.rdbuf();
    *output = text.str();
    std::filesystem::remove(outFile);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return code == 124 ? -1 : code;
}

inline std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace qdx::test
