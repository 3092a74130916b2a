#pragma once
// What one line of the runtime's standard output says: which banner line it is, and its value.
// A pure function; any thread.

#include <QString>

namespace kestro::companion {

struct AgentBannerLine {
    enum class Kind {
        listening,           // "kestro Agent listening on …"
        machine,             // "Machine: " + value
        codex,               // "Codex: " + value
        diagnostic,          // "Diagnostic: " + value
        pairLink,            // "Pair Link: " + value
        pairPageUnavailable, // exactly "Pair Page: unavailable"
        pairPage,            // "Pair Page: " + the page's path
        pageOpened,          // mentions "Pairing page opened in your browser"
        other,               // anything else: only logged
    };

    Kind kind = Kind::other;
    QString value; // the text after the prefix, not trimmed again; empty for the kinds without one
};

// The first rule that matches, tried in the order of the kinds above (exact, case-sensitive).
AgentBannerLine parseBannerLine(const QString& line);

} // namespace kestro::companion
