// One instance per session: a second start of the real program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/SingleInstance.h"

namespace qdx::app {
namespace {

class LockDir : public testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("qdx-instance-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Dir() const { return m_dir.string(); }

private:
    std::filesystem::path m_dir;
};

// True once the process has a handler of its own for the signal (its SigCgt mask in /proc).
bool Catches(pid_t process, int signalNumber) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (signalNumber - 1)) & 1u;
        }
    }
    return false;
}

// Runs the program with the runtime and data directories set to dir and the arguments given.
// Sends it signalNumber (when not 0) once it catches that signal. Returns its exit status, or -1
// when it was still running after the time-out (and has been killed).
int RunClient(const std::string& dir, std::chrono::milliseconds timeout,
              std::vector<std::string> args = {}, int signalNumber = 0) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        setenv("XDG_DATA_HOME", dir.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> argv{const_cast<char*>("qdxclient")};
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(QDXCLIENT_PATH, argv.data());
        _exit(127);
    }
    const auto started = std::chrono::steady_clock::now();
    bool signalled = signalNumber == 0;
    int status = 0;
    while (std::chrono::steady_clock::now() < started + timeout) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (!signalled && Catches(child, signalNumber)) {
            kill(child, signalNumber);
            signalled = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

TEST_F(LockDir, SecondStartOfTheProgramEndsAtOnce) {
    SingleInstance running;
    ASSERT_TRUE(running.Acquire(kSingleInstanceName, Dir()));
    EXPECT_EQ(RunClient(Dir(), std::chrono::seconds(5)), 0);
}

TEST_F(LockDir, FirstStartKeepsRunningAndMakesTheUserDataFolder) {
    // With the guard free the program opens its window and stays until it is closed, whatever
    // arguments it does not know it was given.
    EXPECT_EQ(RunClient(Dir(), std::chrono::milliseconds(1500), {"--no-such-option", "x"}), -1);
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(Dir()) / "qdxclient"));
}

TEST_F(LockDir, AMalformedOptionEndsWithStatusTwo) {
    EXPECT_EQ(RunClient(Dir(), std::chrono::seconds(5), {"--simulate", "p.sim", "--fault", "x"}),
              2);
}

TEST_F(LockDir, TerminationEndsTheIdleProgramCleanly) {
    EXPECT_EQ(RunClient(Dir(), std::chrono::seconds(10), {}, SIGTERM), 0);
}

}  // namespace
}  // namespace qdx::app
