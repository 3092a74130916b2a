#include "platform/FileReading.h"
#include "platform/ProcessRunner.h"
#include "support/TemporaryFolder.h"
#include "workspace/Projects.h"
#include "workspace/StateDatabase.h"
#include "workspace/Threads.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

namespace {

// A second sqlite3 with `database` open until it is destroyed: its SQL (`script`, which ends by
// selecting 'held') comes from a pipe that stays open.
class OpenSession {
  public:
    OpenSession(const std::string& database, const std::string& script) {
        int input[2], output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        const char* argv[] = {"/usr/bin/sqlite3", database.c_str(), nullptr};
        const int failure =
            ::posix_spawn(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        m_input = input[1];
        if (failure != 0) throw std::runtime_error("spawn sqlite3");
        if (::write(m_input, script.data(), script.size()) != static_cast<ssize_t>(script.size()))
            throw std::runtime_error("write");
        std::string answer;
        char chunk[64];
        ssize_t got;
        while (answer.find("held") == std::string::npos && (got = ::read(output[0], chunk, sizeof chunk)) > 0)
            answer.append(chunk, static_cast<size_t>(got));
        ::close(output[0]);
        if (answer.find("held") == std::string::npos) throw std::runtime_error("no session");
    }
    ~OpenSession() {
        ::close(m_input); // end of its input: sqlite3 rolls back and exits
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    OpenSession(const OpenSession&) = delete;
    OpenSession& operator=(const OpenSession&) = delete;

  private:
    pid_t m_pid = -1;
    int m_input = -1;
};

} // namespace

TEST(StateDatabaseTest, ABusyDatabaseIsAskedAgain) {
    TemporaryFolder folder;
    const std::string counter = folder.path() + "/attempts";
    // Busy twice, then rows: the arguments are echoed to show they arrive unchanged.
    const std::string script =
        folder.write("sqlite3", "#!/bin/sh\necho x >> " + counter + "\nif [ $(wc -l < " + counter +
                                    ") -lt 3 ]; then echo "
                                    "'Error: in prepare, database is locked (5)' >&2; exit 1; fi\n"
                                    "printf '%s|' \"$@\"\n");
    ::chmod(script.c_str(), 0755);
    SystemTools tools;
    tools.sqlite3 = script;
    EXPECT_EQ(queryStateDatabase("/db", "SELECT 1;", tools), "-readonly|-separator|\t|/db|SELECT 1;|");

    const std::string failing =
        folder.write("broken", "#!/bin/sh\necho 'Error: no such table: threads' >&2\nexit 1\n");
    ::chmod(failing.c_str(), 0755);
    tools.sqlite3 = failing;
    EXPECT_EQ(queryStateDatabase("/db", "SELECT 1;", tools), "Error: no such table: threads\n");
}

// A lock held longer than the retries leave the lists as if there were no database: the configured
// and current folders stay, the threads are empty, and nothing waits for the lock.
TEST(StateDatabaseTest, ADatabaseLockedForLongGivesNoRows) {
    TemporaryFolder home;
    home.write(".codex/config.toml", "[projects.\"" + home.path() + "/declared\"]\n");
    const std::string database = home.path() + "/.codex/state_5.sqlite";
    const auto made = runProcess(
        {.executable = "/usr/bin/sqlite3",
         .arguments = {database,
                       "CREATE TABLE threads (id TEXT, cwd TEXT, title TEXT, first_user_message TEXT, "
                       "updated_at INTEGER, updated_at_ms INTEGER, archived INTEGER, model TEXT, "
                       "reasoning_effort TEXT, sandbox_policy TEXT, approval_mode TEXT, git_branch TEXT);"
                       "INSERT INTO threads VALUES ('t1', '" +
                           home.path() +
                           "/recent', 'Title', NULL, 1, "
                           "1000, 0, NULL, NULL, NULL, NULL, NULL);"}});
    ASSERT_EQ(made.status, 0) << made.standardError;
    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& project : detectProjects(home.path() + "/here", home.path(), SystemTools{}))
            found.push_back(project.displayName);
        return found;
    };
    ASSERT_EQ(names(), (std::vector<std::string>{"here", "recent", "declared"}));
    ASSERT_EQ(detectThreads(home.path(), home.path(), SystemTools{}).size(), 1u);

    const OpenSession lock(database, "BEGIN EXCLUSIVE;\nSELECT 'held';\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"here", "declared"}));
    EXPECT_TRUE(detectThreads(home.path(), home.path(), SystemTools{}).empty());
}

// A log left beside the database by a writer that stopped (as Codex may) is read, not folded into
// the database: the runtime never writes Codex's files.
TEST(StateDatabaseTest, TheDatabaseAndItsLogAreOnlyRead) {
    TemporaryFolder folder;
    const std::string live = folder.path() + "/live.sqlite";
    const std::string left = folder.path() + "/left.sqlite";
    {
        const OpenSession writer(live,
                                 "PRAGMA journal_mode=WAL;\nCREATE TABLE t (x);\nINSERT INTO t VALUES (42);\n"
                                 "SELECT 'held';\n");
        std::filesystem::copy_file(live, left);
        std::filesystem::copy_file(live + "-wal", left + "-wal");
    }
    const auto database = readWholeFile(left, 16 << 20);
    const auto log = readWholeFile(left + "-wal", 16 << 20);
    ASSERT_TRUE(database && log && !log->empty());
    EXPECT_EQ(queryStateDatabase(left, "SELECT x FROM t;", SystemTools{}), "42\n");
    EXPECT_EQ(readWholeFile(left, 16 << 20), database);
    EXPECT_EQ(readWholeFile(left + "-wal", 16 << 20), log);
}
