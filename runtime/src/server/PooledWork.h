#pragma once
// Work handed to the worker pool and awaited, until a deadline, by coroutines on a strand (each
// connection's own, or a one-thread context): the outcome is posted back to that strand, and a
// waiter whose deadline comes first goes on without it while the work runs to its end on its
// worker. SharedInspection runs at most one piece of work per key at a time, and everybody who
// asks for that key meanwhile shares its outcome; startOnWorker runs work of the caller's own.
// (Work is handed over by plain calls: GCC 12 destroys a lambda passed into a coroutine twice.)

#include "server/AsioSupport.h"
#include "server/WorkerPool.h"

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace kestro {

using WorkClock = std::chrono::steady_clock;

// The outcome of one piece of work and the waiters to tell of it. Thread-safe.
template <class Result> class WorkFlight {
  public:
    // `wake` is called once, on the worker, when the outcome is in; not after `removeWaiter`.
    uint64_t addWaiter(std::function<void()> wake) {
        const std::lock_guard lock(m_mutex);
        const uint64_t id = ++m_lastWaiter;
        if (!m_finished) m_waiters.emplace(id, std::move(wake));
        return id;
    }
    void removeWaiter(uint64_t id) {
        std::function<void()> removed;
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_waiters.find(id); found != m_waiters.end()) {
            removed = std::move(found->second);
            m_waiters.erase(found);
        }
    }
    bool hasWaiters() const {
        const std::lock_guard lock(m_mutex);
        return !m_waiters.empty();
    }
    bool finished() const {
        const std::lock_guard lock(m_mutex);
        return m_finished;
    }
    // Records the outcome (a result, a failure, or neither when the work was refused or skipped)
    // and wakes every waiter.
    void finish(std::optional<Result> result, std::exception_ptr failure) {
        std::map<uint64_t, std::function<void()>> waiters;
        {
            const std::lock_guard lock(m_mutex);
            m_result = std::move(result);
            m_failure = std::move(failure);
            m_finished = true;
            waiters.swap(m_waiters);
        }
        for (auto& [id, wake] : waiters)
            wake();
    }
    // Runs `work` and records what it gave or threw.
    template <class Work> void run(Work& work) {
        std::optional<Result> result;
        std::exception_ptr failure;
        try {
            result.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
        finish(std::move(result), std::move(failure));
    }
    std::optional<Result> result() const {
        const std::lock_guard lock(m_mutex);
        return m_result;
    }
    std::exception_ptr failure() const {
        const std::lock_guard lock(m_mutex);
        return m_failure;
    }

  private:
    mutable std::mutex m_mutex;
    bool m_finished = false;
    std::optional<Result> m_result;
    std::exception_ptr m_failure;
    uint64_t m_lastWaiter = 0;
    std::map<uint64_t, std::function<void()>> m_waiters;
};

// One waiter's claim on a flight's outcome, until its deadline. Create it, await it and let it go
// on one strand; letting it go withdraws the claim.
template <class Result> class PendingWork {
  public:
    PendingWork(std::shared_ptr<WorkFlight<Result>> flight, const asio::any_io_executor& executor,
                WorkClock::time_point deadline)
        : m_flight(std::move(flight)), m_timer(std::make_shared<asio::steady_timer>(executor, deadline)) {
        // The worker only posts; the timer is touched on the waiter's strand alone, and lives
        // exactly as long as this waiter.
        m_waiter = m_flight->addWaiter([timer = std::weak_ptr(m_timer), executor] {
            asio::post(executor, [timer] {
                if (const auto alive = timer.lock()) alive->cancel();
            });
        });
    }
    ~PendingWork() {
        if (m_flight) m_flight->removeWaiter(m_waiter);
    }
    PendingWork(PendingWork&&) noexcept = default;
    PendingWork& operator=(PendingWork&&) = delete;
    PendingWork(const PendingWork&) = delete;
    PendingWork& operator=(const PendingWork&) = delete;

    // The work's result once it is in, or nothing: the deadline came first, the work threw, or
    // it was refused for want of room on its lane.
    asio::awaitable<std::optional<Result>> result() {
        co_await settled();
        co_return m_flight->result();
    }
    // As `result`, but what the work threw is thrown here.
    asio::awaitable<std::optional<Result>> value() {
        co_await settled();
        if (const auto failure = m_flight->failure()) std::rethrow_exception(failure);
        co_return m_flight->result();
    }
    // Whether the work has ended (or was refused); false after a deadline that came first.
    bool finished() const { return m_flight->finished(); }

  private:
    asio::awaitable<void> settled() {
        // The check and the wait begin in one step on the strand, where the wake-up also runs.
        if (!m_flight->finished()) co_await m_timer->async_wait(useTupleAwaitable);
    }

    std::shared_ptr<WorkFlight<Result>> m_flight;
    std::shared_ptr<asio::steady_timer> m_timer;
    uint64_t m_waiter = 0;
};

// At most one piece of work per key in flight on one lane of the pool; a request for a key whose
// work is in flight waits for that work instead of starting its own. Thread-safe.
template <class Result> class SharedInspection {
  public:
    SharedInspection(WorkerPool& pool, WorkerPool::LaneId lane)
        : m_pool(pool), m_lane(lane), m_shared(std::make_shared<Shared>()) {}

    // Joins the work in flight for `key`, else starts `work` for it; the wait ends by `deadline`
    // and is awaited on `strand`. Work whose waiters all gave up before it could start is skipped.
    PendingWork<Result> start(const asio::any_io_executor& strand, const std::string& key,
                              WorkClock::time_point deadline, std::function<Result()> work) {
        std::shared_ptr<WorkFlight<Result>> flight;
        bool started = false;
        {
            const std::lock_guard lock(m_shared->mutex);
            auto& slot = m_shared->inFlight[key];
            if (!slot) {
                slot = std::make_shared<WorkFlight<Result>>();
                started = true;
            }
            flight = slot;
        }
        PendingWork<Result> pending(flight, strand, deadline);
        if (started) {
            auto job = [shared = m_shared, flight, key, work = std::move(work)]() mutable {
                if (flight->hasWaiters())
                    flight->run(work);
                else
                    flight->finish(std::nullopt, nullptr);
                shared->forget(key, flight);
            };
            if (!m_pool.submit(m_lane, std::move(job))) {
                m_shared->forget(key, flight);
                flight->finish(std::nullopt, nullptr);
            }
        }
        return pending;
    }

    // Keys with work in flight (for tests and diagnostics).
    size_t inFlight() const {
        const std::lock_guard lock(m_shared->mutex);
        return m_shared->inFlight.size();
    }

  private:
    struct Shared {
        mutable std::mutex mutex;
        std::map<std::string, std::shared_ptr<WorkFlight<Result>>> inFlight;
        void forget(const std::string& key, const std::shared_ptr<WorkFlight<Result>>& flight) {
            const std::lock_guard lock(mutex);
            if (const auto found = inFlight.find(key); found != inFlight.end() && found->second == flight)
                inFlight.erase(found);
        }
    };

    WorkerPool& m_pool;
    WorkerPool::LaneId m_lane;
    std::shared_ptr<Shared> m_shared;
};

// Runs `work` on a worker of `lane` for this caller alone; the wait ends by `deadline` and is
// awaited on `strand`.
template <class Result>
PendingWork<Result> startOnWorker(WorkerPool& pool, WorkerPool::LaneId lane,
                                  const asio::any_io_executor& strand, WorkClock::time_point deadline,
                                  std::function<Result()> work) {
    auto flight = std::make_shared<WorkFlight<Result>>();
    PendingWork<Result> pending(flight, strand, deadline);
    if (!pool.submit(lane, [flight, work = std::move(work)]() mutable { flight->run(work); }))
        flight->finish(std::nullopt, nullptr);
    return pending;
}

} // namespace kestro
