// kestro-agent: configuration -> listener -> state -> banner, then serve until a signal ends it.

#include "agent/KestroAgentState.h"
#include "agent/RunEndpoint.h"
#include "agent/RuntimeShutdown.h"
#include "core/Banner.h"
#include "core/KestroAgentConfiguration.h"
#include "core/PairingPage.h"
#include "core/TerminalQRCode.h"
#include "platform/DescriptorLimit.h"
#include "platform/LargeAllocations.h"
#include "run/RunProcessGroups.h"
#include "server/KestroAgentListener.h"
#include "server/KestroAgentRouter.h"
#include "server/SerialExecutor.h"
#include "text/Text.h"

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <asio/use_future.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace kestro;
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const std::vector<std::string> arguments(argv, argv + argc);
        switch (commandLineRequest(arguments)) {
        case CommandLineRequest::help:
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case CommandLineRequest::version:
            std::puts("kestro-agent " KESTRO_VERSION);
            return 0;
        case CommandLineRequest::serve:
            break;
        }
        for (const auto& warning : configurationWarnings(arguments, processEnvironment()))
            std::cerr << "kestro-agent: " << warning << std::endl;
        KestroAgentConfiguration configuration = buildConfiguration(arguments, processEnvironment());
        // Before any thread starts: the environment is changed and the limit raised only here.
        withdrawTokenFromEnvironment();
        hideTokenFromCommandLine(argc, argv);
        const rlim_t descriptors = raiseDescriptorLimit();
        returnLargeAllocationsWhenFreed();

        // The port is bound first, so that the banner and the pairing link name the port really
        // bound (port 0 picks a free one) and a port in use fails before any inspection.
        asio::io_context io(2);
        std::optional<KestroAgentRouter> router;
        KestroAgentListener listener(
            io, configuration.bindAddress, configuration.port,
            [&router](const HTTPRequest& head) { return router->answerBeforeBody(head); },
            [&router](HTTPRequest request, KestroHTTPConnectionHandler& connection) {
                return router->handle(std::move(request), connection);
            },
            {}, admissionLimitsFor(descriptors));
        configuration.port = listener.port();
        RunProcessGroups runGroups;
        RuntimeShutdown shutdown(io, runGroups, [&listener] { listener.stop(); });
        // Before any child starts: none may hold the supervisor's pipe.
        if (configuration.supervisorDescriptor) shutdown.endWhenClosed(*configuration.supervisorDescriptor);

        SerialExecutor bodyReader;
        auto state = std::make_unique<KestroAgentState>(configuration);
        RunEndpoint runEndpoint(*state, runGroups);
        router.emplace(*state, bodyReader, runEndpoint);
        listener.start();
        std::thread second([&io] { io.run(); });
        std::thread first([&io] { io.run(); });

        const auto snapshot =
            asio::co_spawn(asio::make_strand(io), state->statusPayload(std::nullopt), asio::use_future).get();
        const auto link = state->pairingLink();
        const auto page = state->openPairingPageIfAvailable(configuration.opensPairingPageAutomatically);
        shutdown.removeOnExit(state->pairingFilePaths());
        if (!page)
            std::cerr << "kestro-agent: " << pairingPageUnavailableReason(link, state->pairingFilePaths())
                      << std::endl;
        for (const auto& line : bannerLines(configuration, snapshot, link, page)) {
            std::fputs((line + "\n").c_str(), stdout);
            std::fflush(stdout);
        }
        // A person at a terminal scans the code there; a pipe (the companion, a service) gets the
        // banner alone.
        if (configuration.printsTerminalQRCode && ::isatty(STDOUT_FILENO) == 1) {
            if (const auto code = terminalQRCode(link)) std::fputs(code->c_str(), stdout);
            std::fflush(stdout);
        }
        // Serves until a signal ends the process; the I/O threads never run out of work while the
        // signals are watched.
        first.join();
        second.join();
    } catch (const std::exception& error) {
        std::cerr << "kestro-agent: " << escapedControlCharacters(error.what()) << std::endl;
        return 1;
    }
    return 0;
}
