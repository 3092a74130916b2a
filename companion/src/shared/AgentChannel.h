#pragma once
// The private channel between the keeper and its window: JSON objects, one per line, over a local
// socket in a folder only this user can enter (AgentPrivateFolder). The keeper sends a snapshot of
// every published object when a window connects, then each object again whenever it changes;
// every message it sends carries the next sequence number ("seq"), so a window notices anything
// out of order. The window sends requests, each with an "id" the keeper's reply carries back.

namespace kestro::companion::channel {

// Raised whenever a message changes meaning; a window of another version does not carry on.
inline constexpr int kVersion = 2;

// Keeper to window ("type").
inline constexpr char kHello[] = "hello";        // first: {"version"}
inline constexpr char kSettings[] = "settings";  // {"values": launch settings and validation}
inline constexpr char kToken[] = "token";        // {"values": masked token and its note}
inline constexpr char kRuntime[] = "runtime";    // {"values": the runtime's state and banner facts}
inline constexpr char kDesktop[] = "desktop";    // {"values": start at login, tray}
inline constexpr char kBanner[] = "banner";      // {"message"}, empty when none
inline constexpr char kLogReset[] = "log.reset"; // the session log starts again empty
inline constexpr char kLogLine[] = "log.line";   // {"line"} appended to the session log
inline constexpr char kReady[] = "ready";        // the snapshot is complete
inline constexpr char kRaise[] = "raise";        // come to the front
inline constexpr char kReply[] = "reply";        // {"id", "error" when refused}

// Window to keeper ("request"), each with its "id".
inline constexpr char kStart[] = "start";
inline constexpr char kStop[] = "stop";
inline constexpr char kRestart[] = "restart";
inline constexpr char kSet[] = "set"; // {"field", "value"}: one launch setting
inline constexpr char kCopyToken[] = "copyToken";
inline constexpr char kRegenerateToken[] = "regenerateToken";
inline constexpr char kCopyPairLink[] = "copyPairLink";
inline constexpr char kOpenPairingPage[] = "openPairingPage";
inline constexpr char kSetStartsAtLogin[] = "setStartsAtLogin"; // {"enabled"}
// The window turned active: check the settings and the login item again.
inline constexpr char kRevalidate[] = "revalidate";
inline constexpr char kRetrySecretStore[] = "retrySecretStore"; // ask the secret store again
inline constexpr char kQuit[] = "quit";                         // quit the keeper and the runtime

// The window's exit status when the keeper speaks another version (the program was updated while
// the keeper ran).
inline constexpr int kOtherVersionExit = 3;

} // namespace kestro::companion::channel
