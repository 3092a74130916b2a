#pragma once
// Runs a coroutine to its end on a one-thread context of its own, which serves as its strand, and
// gives what it returned or throws what it threw.

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

namespace kestro::testing {

template <class Result> Result awaited(asio::awaitable<Result> operation) {
    asio::io_context context(1);
    auto result = asio::co_spawn(context, std::move(operation), asio::use_future);
    context.run();
    return result.get();
}

} // namespace kestro::testing
