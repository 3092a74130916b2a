#pragma once
// Runs operations one at a time, each to its end, on one dedicated thread: the executor of the
// central state's fields, and the router's reader of large bodies. Its operations are short; work
// that waits on something outside (child programs, the display) belongs on the WorkerPool.

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/use_future.hpp>
#include <thread>
#include <type_traits>

namespace kestro {

class SerialExecutor {
  public:
    SerialExecutor() : m_work(asio::make_work_guard(m_context)), m_thread([this] { m_context.run(); }) {}
    ~SerialExecutor() {
        m_work.reset();
        m_context.stop();
        m_thread.join();
    }
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // From a coroutine: runs `operation` in turn and resumes the caller on its own executor.
    // Exceptions thrown by the operation reach the caller.
    template <class Operation> asio::awaitable<std::invoke_result_t<Operation>> run(Operation operation) {
        using Result = std::invoke_result_t<Operation>;
        co_return co_await asio::co_spawn(
            m_context,
            [operation = std::move(operation)]() mutable -> asio::awaitable<Result> {
                co_return operation();
            },
            asio::use_awaitable);
    }

    // From a plain thread (start-up): blocks until the operation has run in turn.
    template <class Operation> std::invoke_result_t<Operation> runBlocking(Operation operation) {
        using Result = std::invoke_result_t<Operation>;
        return asio::co_spawn(
                   m_context,
                   [operation = std::move(operation)]() mutable -> asio::awaitable<Result> {
                       co_return operation();
                   },
                   asio::use_future)
            .get();
    }

    // Fire and forget: runs `operation` in turn; the caller does not wait.
    template <class Operation> void post(Operation operation) { asio::post(m_context, std::move(operation)); }

  private:
    asio::io_context m_context{1};
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::thread m_thread;
};

} // namespace kestro
