#pragma once
// A Codex home with the weight of real use, for the benchmarks: a state database of 400 threads
// in 80 project folders, the session log of thread "t0" (60 messages), and a git repository at
// `repo` with one changed file.

#include "platform/ProcessRunner.h"

#include <filesystem>
#include <fstream>
#include <string>

inline void makeBusyCodexHome(const std::string& home, const std::string& repo) {
    namespace fs = std::filesystem;
    using kestro::runProcess;
    fs::create_directories(home + "/.codex");
    std::string sql =
        "CREATE TABLE threads (id TEXT PRIMARY KEY, cwd TEXT, title TEXT, first_user_message TEXT, "
        "updated_at INTEGER, updated_at_ms INTEGER, archived INTEGER DEFAULT 0, model TEXT, "
        "reasoning_effort TEXT, sandbox_policy TEXT, approval_mode TEXT, git_branch TEXT);\n"
        "PRAGMA journal_mode=WAL;\nBEGIN;\n";
    for (int i = 0; i < 400; ++i) {
        const std::string folder = home + "/code/project" + std::to_string(i % 80);
        fs::create_directories(folder);
        sql += "INSERT INTO threads VALUES ('t" + std::to_string(i) + "','" + folder + "','Task number " +
               std::to_string(i) + "','Please do task " + std::to_string(i) + "'," +
               std::to_string(1796000000 + i) + "," + std::to_string(1796000000000LL + i * 1000LL) +
               ",0,'gpt-5','high','workspace-write','never','main');\n";
    }
    sql += "COMMIT;\n";
    std::ofstream(home + "/schema.sql") << sql;
    runProcess({.executable = "/usr/bin/sqlite3",
                .arguments = {home + "/.codex/state_5.sqlite", ".read " + home + "/schema.sql"}});

    const std::string sessions = home + "/.codex/sessions/2026/12/01";
    fs::create_directories(sessions);
    std::ofstream log(sessions + "/rollout-2026-12-01T09-00-00-t0.jsonl", std::ios::binary);
    for (int i = 0; i < 60; ++i)
        log << R"({"timestamp":"2026-12-01T09:00:)" << (10 + i % 50)
            << R"(Z","type":"event_msg","payload":{"type":")" << (i % 2 ? "agent_message" : "user_message")
            << R"(","message":"Message number )" << i
            << R"( of the conversation, long enough to be a real sentence."}})" << '\n';

    fs::create_directories(repo);
    runProcess({.executable = "/usr/bin/git", .arguments = {"-C", repo, "init", "-q"}});
    for (int i = 0; i < 50; ++i)
        std::ofstream(repo + "/file" + std::to_string(i) + ".txt") << "line\n";
    runProcess({.executable = "/usr/bin/git", .arguments = {"-C", repo, "add", "."}});
    runProcess({.executable = "/usr/bin/git",
                .arguments = {"-C", repo, "-c", "user.name=B", "-c", "user.email=b@example.invalid", "commit",
                              "-q", "-m", "x"}});
    std::ofstream(repo + "/file1.txt") << "changed\n";
}
