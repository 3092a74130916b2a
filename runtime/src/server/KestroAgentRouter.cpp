#include "server/KestroAgentRouter.h"

#include "core/Authorization.h"
#include "core/KestroAgentError.h"
#include "server/KestroAgentService.h"
#include "server/SerialExecutor.h"

namespace kestro {

namespace {

constexpr const char* kJSON = "application/json";

// A body this small decodes in microseconds where it arrived; larger ones go to the body reader.
constexpr size_t kInlineBodyBytes = 16 * 1024;

enum class Route { status, threadHistory, surfacePreview, worktree, run, none };

Route matchRoute(const HTTPRequest& request) {
    if (request.path == "/status" && (request.method == "GET" || request.method == "POST"))
        return Route::status;
    if (request.method != "POST") return Route::none;
    if (request.path == "/thread-history") return Route::threadHistory;
    if (request.path == "/surface-preview") return Route::surfacePreview;
    if (request.path == "/worktree") return Route::worktree;
    if (request.path == "/run") return Route::run;
    return Route::none;
}

HTTPResponse errorResponse(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const KestroAgentError& error) {
        return {.status = error.httpStatus(), .contentType = kJSON, .body = errorBody(error.what())};
    } catch (const std::exception& error) {
        return {.status = 400, .contentType = kJSON, .body = errorBody(error.what())};
    } catch (...) {
        return {.status = 400, .contentType = kJSON, .body = errorBody("The request failed.")};
    }
}

HTTPResponse notFound() {
    return {.status = 404, .contentType = kJSON, .body = R"({"error":"Not Found"})"};
}

HTTPResponse okResponse(std::string body) {
    return {.status = 200, .contentType = kJSON, .body = std::move(body)};
}

} // namespace

KestroAgentRouter::KestroAgentRouter(KestroAgentService& service, SerialExecutor& bodyReader,
                                     RunRequestHandler& runHandler)
    : m_service(service), m_bodyReader(bodyReader), m_runHandler(runHandler) {}

std::optional<HTTPResponse> KestroAgentRouter::answerBeforeBody(const HTTPRequest& head) const {
    if (matchRoute(head) == Route::none) return notFound();
    try {
        authorize(head.headers, m_service.configuration().token);
    } catch (const KestroAgentError&) {
        return errorResponse(std::current_exception());
    }
    return std::nullopt;
}

template <class Record> asio::awaitable<Record> KestroAgentRouter::decoded(const std::string& body) {
    if (body.size() <= kInlineBodyBytes) co_return decodeRecord<Record>(body);
    co_return co_await m_bodyReader.run([&body] { return decodeRecord<Record>(body); });
}

asio::awaitable<void> KestroAgentRouter::handle(HTTPRequest request,
                                                KestroHTTPConnectionHandler& connection) {
    std::exception_ptr failure;
    try {
        co_await route(request, connection);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        try {
            const HTTPResponse answer = errorResponse(failure);
            co_await connection.send(answer);
        } catch (...) {
            // The peer is gone; nothing more can be said.
        }
    }
    co_await connection.finishConnection();
}

asio::awaitable<void> KestroAgentRouter::route(const HTTPRequest& request,
                                               KestroHTTPConnectionHandler& connection) {
    const Route route = matchRoute(request);
    if (route == Route::none) {
        const HTTPResponse answer = notFound();
        co_await connection.send(answer);
        co_return;
    }
    authorize(request.headers, m_service.configuration().token);

    switch (route) {
    case Route::status: {
        std::optional<std::string> workingDirectory;
        try {
            workingDirectory = (co_await decoded<KestroAgentStatusRequest>(request.body)).workingDirectory;
        } catch (const DecodingError&) {
            // An empty or unreadable body simply names no directory.
        }
        const HTTPResponse answer = okResponse(co_await m_service.encodedStatus(std::move(workingDirectory)));
        co_await connection.send(answer);
        break;
    }
    case Route::threadHistory: {
        auto history = co_await decoded<KestroAgentThreadHistoryRequest>(request.body);
        const HTTPResponse answer =
            okResponse(co_await m_service.encodedThreadHistory(std::move(history.threadID)));
        co_await connection.send(answer);
        break;
    }
    case Route::surfacePreview: {
        auto preview = co_await decoded<KestroAgentSurfacePreviewRequest>(request.body);
        const HTTPResponse answer =
            okResponse(co_await m_service.encodedSurfacePreview(std::move(preview.kind)));
        co_await connection.send(answer);
        break;
    }
    case Route::worktree: {
        auto worktree = co_await decoded<KestroAgentWorktreeRequest>(request.body);
        const auto created =
            co_await m_service.createWorktree(std::move(worktree.name), std::move(worktree.workingDirectory));
        const HTTPResponse answer = okResponse(encodeRecord(created));
        co_await connection.send(answer);
        break;
    }
    case Route::run:
        co_await m_runHandler.handleRun(co_await decoded<KestroAgentRunRequest>(request.body), connection);
        break;
    case Route::none:
        break;
    }
}

} // namespace kestro
