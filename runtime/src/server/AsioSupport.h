#pragma once
// Completion tokens shared by the coroutines: errors as values instead of exceptions.

#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>

namespace kestro {

inline constexpr auto useTupleAwaitable = asio::experimental::as_tuple(asio::use_awaitable);

} // namespace kestro
