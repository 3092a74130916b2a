// kestro-agent: configuration -> state -> listener -> banner, then serve until killed.

#include "agent/KestroAgentState.h"
#include "agent/RunEndpoint.h"
#include "core/Banner.h"
#include "core/KestroAgentConfiguration.h"
#include "core/KestroAgentListener.h"
#include "core/KestroAgentRouter.h"
#include "core/SerialExecutor.h"

#include <asio/io_context.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
    using namespace kestro;
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const std::vector<std::string> arguments(argv, argv + argc);
        const KestroAgentConfiguration configuration = buildConfiguration(arguments, processEnvironment());

        SerialExecutor serial;
        auto state = serial.runBlocking([&] { return std::make_unique<KestroAgentState>(configuration); });

        asio::io_context io(2);
        RunEndpoint runEndpoint(*state, serial);
        KestroAgentRouter router(*state, serial, runEndpoint);
        KestroAgentListener listener(io, configuration.port,
                                     [&router](HTTPRequest request, KestroHTTPConnectionHandler& connection) {
                                         return router.handle(std::move(request), connection);
                                     });
        listener.start();
        std::thread second([&io] { io.run(); });
        std::thread first([&io] { io.run(); });

        const auto snapshot = serial.runBlocking([&] { return state->statusPayload(std::nullopt); });
        const auto link = serial.runBlocking([&] { return state->pairingLink(); });
        const auto page = serial.runBlocking(
            [&] { return state->openPairingPageIfAvailable(configuration.opensPairingPageAutomatically); });
        for (const auto& line : bannerLines(configuration, snapshot, link, page)) {
            std::fputs((line + "\n").c_str(), stdout);
            std::fflush(stdout);
        }
        // Serves until killed; the I/O threads never run out of work while the listener is open.
        first.join();
        second.join();
    } catch (const std::exception& error) {
        std::cerr << "kestro-agent: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
