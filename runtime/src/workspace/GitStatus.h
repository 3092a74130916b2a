#pragma once
// The git state of a folder and new worktrees beside a repository, through the outside git.

#include "core/WireRecords.h"
#include "platform/SystemTools.h"

#include <optional>
#include <string>

namespace kestro {

// Absent without git or without the folder; isRepository false outside a work tree. Never throws.
std::optional<KestroAgentGitStatusPayload> detectGitStatus(const std::string& workingDirectory,
                                                           const SystemTools& tools);

// Sums of the added and deleted columns of `git diff --numstat`; "-" (binary) counts 0.
std::pair<int64_t, int64_t> numstatTotals(const std::string& numstat);

// Lower case, split at everything but Unicode letters and digits, joined with "-"; "worktree" when empty.
std::string slugifiedName(const std::string& name);

// Makes the folder parent/repo-slug, or the first of parent/repo-slug-2, -3, … at which nothing
// exists yet, and returns its path. The runtime makes it itself (and checks it is its own), so that
// nobody else can have made it first for git to fill. Throws KestroAgentError::processFailed when
// no folder can be made there.
std::string createWorktreeFolder(const std::string& parent, const std::string& repoName,
                                 const std::string& slug);

// "20261208-013456" for the current UTC time.
std::string worktreeTimeStamp();

// Throws KestroAgentError::processFailed with git's own text when git refuses.
KestroAgentWorktreePayload createGitWorktree(const std::string& sourceDirectory, const std::string& name,
                                             const SystemTools& tools);

} // namespace kestro
