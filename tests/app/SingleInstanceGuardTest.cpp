// The single-instance guard on its own: a second holder is refused until the first one goes.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "app/SingleInstance.h"

namespace qdx::app {
namespace {

class Guard : public testing::Test {
protected:
    void SetUp() override {
        const std::string unique = std::to_string(std::random_device{}());
        // A name of its own per run, so that a running program or another test is not involved.
        m_name = std::string(kSingleInstanceName) + " test " + unique;
        m_dir = std::filesystem::temp_directory_path() / ("qdx-instance-" + unique);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Dir() const { return m_dir.string(); }

    std::string m_name;
    std::filesystem::path m_dir;
};

TEST_F(Guard, SecondHolderIsRefusedUntilTheFirstGoes) {
    auto first = std::make_unique<SingleInstance>();
    ASSERT_TRUE(first->Acquire(m_name, Dir()));
    EXPECT_TRUE(first->Held());

    SingleInstance second;
    EXPECT_FALSE(second.Acquire(m_name, Dir()));
    EXPECT_FALSE(second.Held());

    first.reset();
#ifndef _WIN32
    // The lock file stays behind, as after a crash, and still blocks nothing.
    EXPECT_TRUE(std::filesystem::exists(m_dir / m_name));
#endif
    SingleInstance third;
    EXPECT_TRUE(third.Acquire(m_name, Dir()));
}

#ifndef _WIN32
TEST_F(Guard, AnUnusableDirectoryRefuses) {
    SingleInstance guard;
    EXPECT_FALSE(guard.Acquire(m_name, Dir() + "/missing"));
}
#endif

}  // namespace
}  // namespace qdx::app
