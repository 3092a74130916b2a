#include "AgentBannerLine.h"

namespace kestro::companion {

namespace {

struct PrefixRule {
    QLatin1String prefix;
    AgentBannerLine::Kind kind;
};

// "Pair Page: unavailable" is told apart before the general "Pair Page: " rule.
constexpr PrefixRule kValueRules[] = {{QLatin1String("Machine: "), AgentBannerLine::Kind::machine},
                                      {QLatin1String("Codex: "), AgentBannerLine::Kind::codex},
                                      {QLatin1String("Diagnostic: "), AgentBannerLine::Kind::diagnostic},
                                      {QLatin1String("Pair Link: "), AgentBannerLine::Kind::pairLink}};

} // namespace

AgentBannerLine parseBannerLine(const QString& line) {
    using Kind = AgentBannerLine::Kind;
    if (line.startsWith(QLatin1String("kestro Agent listening on "))) return {Kind::listening, {}};
    for (const PrefixRule& rule : kValueRules)
        if (line.startsWith(rule.prefix)) return {rule.kind, line.mid(rule.prefix.size())};
    if (line == QLatin1String("Pair Page: unavailable")) return {Kind::pairPageUnavailable, {}};
    if (const QLatin1String page("Pair Page: "); line.startsWith(page))
        return {Kind::pairPage, line.mid(page.size())};
    if (line.contains(QLatin1String("Pairing page opened in your browser"))) return {Kind::pageOpened, {}};
    return {};
}

} // namespace kestro::companion
