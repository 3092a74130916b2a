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
    EXPECT_EQ(readWholeFile(file, 64), "model = \"x\"\n");
    EXPECT_EQ(readFileTail(file, 4)->bytes, "\"x\"\n"); // the last 4 bytes
    EXPECT_TRUE(readFileTail(file, 4)->startsInside);

    // A FIFO where a file is expected: nobody writes it, and the reader must not wait.
    const std::string fifo = folder.path() + "/auth.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(readWholeFile(fifo, 64).has_value());
    EXPECT_FALSE(readUTF8File(fifo, 64).has_value());
    EXPECT_FALSE(readFileTail(fifo, 100).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

    EXPECT_FALSE(readWholeFile(folder.path(), 64).has_value()); // a folder
    EXPECT_FALSE(readWholeFile("/dev/zero", 64).has_value());   // a device without end
    EXPECT_FALSE(readWholeFile(folder.path() + "/missing", 64).has_value());
}

TEST(FileReadingTest, EveryReadStopsAtItsCapWhateverSizeTheFileReports) {
    TemporaryFolder folder;
    // Over its cap a whole file is unreadable, never a cut prefix; at its cap it is whole.
    const std::string file = folder.write("config.toml", "model = \"gpt\"\n");
    EXPECT_EQ(readWholeFile(file, 14), "model = \"gpt\"\n");
    EXPECT_FALSE(readWholeFile(file, 13).has_value());
    EXPECT_FALSE(readUTF8File(file, 13).has_value());

    // /proc files report a size of 0: they are read up to the cap all the same.
    const auto status = readWholeFile("/proc/self/status", 64 << 10);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->starts_with("Name:")) << *status;
    const auto statusTail = readFileTail("/proc/self/status", 64 << 10);
    ASSERT_TRUE(statusTail.has_value());
    EXPECT_FALSE(statusTail->startsInside);
    EXPECT_TRUE(statusTail->bytes.starts_with("Name:"));

    // /proc/self/pagemap reports no size and goes on for hundreds of gigabytes: neither reading
    // whole nor reading a tail goes further than the cap allows.
    EXPECT_FALSE(readWholeFile("/proc/self/pagemap", 1 << 20).has_value());
    EXPECT_FALSE(readFileTail("/proc/self/pagemap", 1 << 20).has_value());

    // A tail that starts inside the file gives its lines from the first whole one.
    const std::string log = folder.write("session.jsonl", "{\"a\":1}\n{\"b\":2}\n{\"c\":3}\n");
    const auto tail = readFileTail(log, 12);
    ASSERT_TRUE(tail.has_value());
    EXPECT_EQ(tail->bytes, ":2}\n{\"c\":3}\n");
    EXPECT_EQ(tail->wholeLines(), "{\"c\":3}\n");
    EXPECT_EQ(readFileTail(log, 100)->wholeLines(), "{\"a\":1}\n{\"b\":2}\n{\"c\":3}\n");
    EXPECT_EQ(readFileTail(log, 5)->wholeLines(), ""); // no line starts inside the tail
}
