// One instance per session: a second start of the real program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

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

// Runs the program with the runtime directory set; returns its exit status, or -1 when it was
// still running after the time-out (and has been killed).
int RunClient(const std::string& runtimeDir, std::chrono::milliseconds timeout) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(QDXCLIENT_PATH, "qdxclient", static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
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

TEST_F(LockDir, FirstStartOfTheProgramKeepsRunning) {
    // With the guard free the program opens its window and stays until it is closed.
    EXPECT_EQ(RunClient(Dir(), std::chrono::milliseconds(1500)), -1);
}

}  // namespace
}  // namespace qdx::app
