#pragma once
// Stands between the X library and an X server: the library allocates whatever length a reply
// announces and waits without limit for it, so the server's bytes reach it only while they keep
// to the limits below and until the deadline; after either the conversation is over for good.
// Linux only (XServerRelayLinux.cpp).

#include "platform/FileDescriptor.h"

#include <chrono>
#include <cstddef>
#include <thread>

namespace kestro {

class XServerRelay {
  public:
    // Relays between `server` (connected) and a new local socket pair on a thread of its own, until
    // the deadline, until either side hangs up, or until the server sends what no answer to this
    // client holds: a setup that is not a success, a reply with more than `largestReply` bytes
    // after its head or with no request left to answer, more than a few events, or an
    // extension's long event.
    XServerRelay(FileDescriptor server, std::chrono::steady_clock::time_point deadline, size_t largestReply);
    // Ends the relay and waits for its thread.
    ~XServerRelay();
    XServerRelay(const XServerRelay&) = delete;
    XServerRelay& operator=(const XServerRelay&) = delete;

    // The end for the X library, once; not open when the relay could not start.
    FileDescriptor takeLibrarySide() { return std::move(m_librarySide); }

  private:
    FileDescriptor m_librarySide;
    FileDescriptor m_stop; // closing it ends the relay
    std::thread m_thread;
};

} // namespace kestro
