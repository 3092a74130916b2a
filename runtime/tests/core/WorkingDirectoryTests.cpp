#include "core/WorkingDirectory.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kestro;
namespace fs = std::filesystem;

namespace {

class WorkingDirectoryTest : public ::testing::Test {
  protected:
    std::string make(const std::string& relative) {
        const fs::path path = fs::path(m_home) / relative;
        fs::create_directories(path);
        return path.string();
    }

    kestro::testing::TemporaryFolder m_folder;
    const std::string m_home = m_folder.path();
};

} // namespace

TEST_F(WorkingDirectoryTest, NormalizesTildeDotsAndTrailingSlashes) {
    EXPECT_EQ(normalizedKestroPath("  ~/Projects/app/  ", m_home), m_home + "/Projects/app");
    EXPECT_EQ(normalizedKestroPath("~", m_home), m_home);
    EXPECT_EQ(normalizedKestroPath("/tmp/../tmp/./x", m_home), fs::canonical("/tmp").string() + "/x");
    EXPECT_FALSE(normalizedKestroPath("   ", m_home).has_value());
    EXPECT_FALSE(normalizedKestroPath(std::nullopt, m_home).has_value());
    EXPECT_EQ(normalizedKestroPath("relative/dir", m_home), fs::current_path().string() + "/relative/dir");
    EXPECT_EQ(normalizedKestroPath("~root/x", m_home), "/root/x");
}

TEST_F(WorkingDirectoryTest, ResolvesLinksAlongTheExistingPart) {
    const std::string real = make("real");
    fs::create_directory_symlink(real, fs::path(m_home) / "link");
    EXPECT_EQ(normalizedKestroPath(m_home + "/link/missing/../child", m_home), real + "/child");
}

TEST_F(WorkingDirectoryTest, RepairsMovedDesktopPaths) {
    const std::string insideDesktop = make("Desktop/Desktop - Lab Mac/app");
    EXPECT_EQ(normalizedKestroPath("/Users/me/Desktop/app", m_home), insideDesktop);
    EXPECT_EQ(normalizedKestroPath("/Users/me/desktop/app", m_home), insideDesktop);
    fs::remove_all(fs::path(m_home) / "Desktop" / "Desktop - Lab Mac");
    const std::string besideDesktop = make("DESKTOP - Studio/app");
    EXPECT_EQ(normalizedKestroPath("/Users/me/Desktop/app", m_home), besideDesktop);
}

TEST_F(WorkingDirectoryTest, LeavesPathsAloneWhenNoRepairApplies) {
    make("Desktop-Old/app");
    make("Desktop (2)/app");
    make(".Desktop - Hidden/app");
    EXPECT_EQ(normalizedKestroPath("/Users/me/Desktop/app", m_home), "/Users/me/Desktop/app");
    EXPECT_EQ(normalizedKestroPath("/Users/me/Desktop", m_home), "/Users/me/Desktop");
    EXPECT_EQ(normalizedKestroPath("/nowhere/at/all", m_home), "/nowhere/at/all");
    const std::string nested = make("Desktop/a/Desktop/b");
    EXPECT_EQ(repairedDesktopPathIfPossible("/gone/Desktop/a/Desktop/b", m_home), nested);
}

TEST_F(WorkingDirectoryTest, CandidatesComeInOrder) {
    make("Desktop/Desktop - One");
    make("Desktop - Two");
    make("Desktop/notes");
    const auto candidates = currentDesktopPathCandidates(m_home);
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0], m_home + "/Desktop");
    EXPECT_EQ(candidates[1], m_home + "/Desktop/Desktop - One");
    EXPECT_EQ(candidates[2], m_home + "/Desktop - Two");
}

TEST_F(WorkingDirectoryTest, RequestsFallBackToTheDefault) {
    EXPECT_EQ(resolvedWorkingDirectory("  ", "/tmp/./"), fs::canonical("/tmp").string());
    EXPECT_EQ(resolvedWorkingDirectory(std::nullopt, ""), "");
    EXPECT_EQ(nonEmpty(""), std::nullopt);
    EXPECT_EQ(nonEmpty(" "), " ");
}
