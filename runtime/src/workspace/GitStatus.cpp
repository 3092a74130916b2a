#include "workspace/GitStatus.h"

#include "core/KestroAgentError.h"
#include "platform/FileChecks.h"
#include "platform/ProcessRunner.h"
#include "platform/SystemError.h"
#include "text/Text.h"
#include "text/TextPatterns.h"
#include "text/TimeText.h"

#include <cerrno>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kestro {

namespace {

int64_t signedDecimal(const std::string& text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 18) return 0;
    int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::string firstNonEmpty(std::initializer_list<std::string> texts) {
    for (const auto& text : texts)
        if (!text.empty()) return text;
    return "";
}

} // namespace

std::pair<int64_t, int64_t> numstatTotals(const std::string& numstat) {
    int64_t added = 0, deleted = 0;
    for (const auto& line : splitLines(numstat)) {
        const auto pieces = splitOn(line, "\t");
        if (pieces.size() < 3) continue;
        added += signedDecimal(pieces[0]);
        deleted += signedDecimal(pieces[1]);
    }
    return {added, deleted};
}

std::optional<KestroAgentGitStatusPayload> detectGitStatus(const std::string& workingDirectory,
                                                           const SystemTools& tools) {
    if (!pathExists(tools.git) || !pathExists(workingDirectory)) return std::nullopt;
    const std::string& git = tools.git;
    // The four queries are independent and run at the same time; the other three answers are
    // only used inside a work tree. The status and diff queries leave the index alone: git would
    // otherwise refresh and rewrite it (under its lock) on every poll, and a user's own git
    // command running at that moment would fail on the lock.
    auto branch = std::async(std::launch::async, [&] {
        return trimmed(runCommand(git, {"-C", workingDirectory, "rev-parse", "--abbrev-ref", "HEAD"}));
    });
    auto numstat = std::async(std::launch::async, [&] {
        return runCommand(
            git, {"-C", workingDirectory, "-c", "diff.autoRefreshIndex=false", "diff", "--numstat", "HEAD"});
    });
    auto porcelain = std::async(std::launch::async, [&] {
        return runCommand(git, {"--no-optional-locks", "-C", workingDirectory, "status", "--porcelain"});
    });
    if (trimmed(runCommand(git, {"-C", workingDirectory, "rev-parse", "--is-inside-work-tree"})) != "true")
        return KestroAgentGitStatusPayload{.isRepository = false};
    KestroAgentGitStatusPayload status{.isRepository = true};
    for (const auto& line : splitLines(porcelain.get()))
        if (!trimmed(line).empty()) ++status.changedFiles;
    std::tie(status.addedLines, status.deletedLines) = numstatTotals(numstat.get());
    if (std::string name = branch.get(); !name.empty()) status.branchName = name;
    return status;
}

std::string slugifiedName(const std::string& name) {
    const std::string lower = lowercased(name);
    const auto* bytes = reinterpret_cast<const uint8_t*>(lower.data());
    const auto length = static_cast<int32_t>(lower.size());
    std::string slug, piece;
    int32_t index = 0;
    while (index < length) {
        const int32_t start = index;
        UChar32 c;
        U8_NEXT(bytes, index, length, c);
        if (c >= 0 && (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0) {
            piece.append(lower, static_cast<size_t>(start), static_cast<size_t>(index - start));
            continue;
        }
        if (!piece.empty()) slug += (slug.empty() ? "" : "-") + piece;
        piece.clear();
    }
    if (!piece.empty()) slug += (slug.empty() ? "" : "-") + piece;
    return slug.empty() ? "worktree" : slug;
}

std::string createWorktreeFolder(const std::string& parent, const std::string& repoName,
                                 const std::string& slug) {
    for (int n = 1;; ++n) {
        std::string name = repoName + "-" + slug;
        if (n > 1) name.append("-").append(std::to_string(n));
        const std::string candidate = (fs::path(parent) / name).string();
        if (::mkdir(candidate.c_str(), 0777) == 0) {
            // In a folder others may write to, ours could have been swapped meanwhile.
            if (!isOwnFolder(candidate))
                throw KestroAgentError::processFailed("The new worktree folder " + candidate +
                                                      " was replaced by someone else.");
            return candidate;
        }
        if (errno != EEXIST)
            throw KestroAgentError::processFailed("Could not create the worktree folder " + candidate + ": " +
                                                  errnoText(errno));
    }
}

std::string worktreeTimeStamp() {
    std::string stamp = replacingAll(replacingAll(isoTimeTextNow(), ":", ""), "-", "");
    return replacingAll(replacingAll(stamp, "T", "-"), "Z", "");
}

KestroAgentWorktreePayload createGitWorktree(const std::string& sourceDirectory, const std::string& name,
                                             const SystemTools& tools) {
    const ProcessRunResult top =
        runProcess({.executable = tools.env,
                    .arguments = {"git", "-C", sourceDirectory, "rev-parse", "--show-toplevel"}});
    if (top.status != 0)
        throw KestroAgentError::processFailed(
            firstNonEmpty({top.standardError, top.standardOutput, "This project is not a Git repository."}));
    const std::string root = trimmed(top.standardOutput);
    if (root.empty())
        throw KestroAgentError::processFailed("Could not resolve the repository root for this workspace.");
    const fs::path rootPath = fs::path(root).lexically_normal();
    const std::string repoName = rootPath.filename().string();
    const std::string parent = rootPath.parent_path().string();
    const std::string slug = slugifiedName(name);
    const std::string branch = "kestro/" + slug + "-" + worktreeTimeStamp();
    const std::string folder = createWorktreeFolder(parent, repoName, slug);
    const ProcessRunResult added = runProcess(
        {.executable = tools.env, .arguments = {"git", "-C", root, "worktree", "add", "-b", branch, folder}},
        // Checking out a large tree takes a while; a hook that never ends must not hold the runtime.
        {.time = std::chrono::minutes(10)});
    if (added.status != 0) {
        ::rmdir(folder.c_str()); // still empty: git fills it only when it succeeds
        throw KestroAgentError::processFailed(firstNonEmpty(
            {added.standardError, added.standardOutput, "Git could not create the new worktree."}));
    }
    return {
        .workingDirectory = folder, .branch = branch, .displayName = fs::path(folder).filename().string()};
}

} // namespace kestro
