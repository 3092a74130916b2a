#include "platform/FileReading.h"
#include "support/TemporaryFolder.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

TEST(FileReadingTest, OnlyRegularFilesAreReadAndAFIFONeverBlocks) {
    TemporaryFolder folder;
    const std::string file = folder.write("config.toml", "model = \"x\"\n");
    EXPECT_EQ(readWholeFile(file), "model = \"x\"\n");
    EXPECT_EQ(readFileTail(file, 4)->bytes, "\"x\"\n"); // the last 4 bytes
    EXPECT_TRUE(readFileTail(file, 4)->startsInside);

    // A FIFO where a file is expected: nobody writes it, and the reader must not wait.
    const std::string fifo = folder.path() + "/auth.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(readWholeFile(fifo).has_value());
    EXPECT_FALSE(readUTF8File(fifo).has_value());
    EXPECT_FALSE(readFileTail(fifo, 100).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

    EXPECT_FALSE(readWholeFile(folder.path()).has_value()); // a folder
    EXPECT_FALSE(readWholeFile("/dev/zero").has_value());   // a device without end
    EXPECT_FALSE(readWholeFile(folder.path() + "/missing").has_value());
}
