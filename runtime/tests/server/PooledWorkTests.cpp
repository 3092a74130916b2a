#include "server/PooledWork.h"
#include "support/LoopbackHTTP.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/this_coro.hpp>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace kestro;
using kestro::testing::eventually;
using namespace std::chrono;

namespace {

// Work that holds its worker until the test opens the gate (or ten seconds pass).
class Gate {
  public:
    void wait() const { m_opened.wait_for(seconds(10)); }
    void open() { m_open.set_value(); }

  private:
    std::promise<void> m_open;
    std::shared_future<void> m_opened = m_open.get_future().share();
};

// A one-thread context, which serves as the waiters' strand, running on a thread of its own.
class Waiters {
  public:
    ~Waiters() { finish(); }
    template <class Coroutine> void spawn(Coroutine coroutine) {
        asio::co_spawn(m_context, std::move(coroutine), asio::detached);
    }
    void start() {
        m_thread = std::thread([this] { m_context.run(); });
    }
    void finish() {
        if (m_thread.joinable()) m_thread.join();
    }

  private:
    asio::io_context m_context{1};
    std::thread m_thread;
};

} // namespace

TEST(PooledWorkTest, OneInspectionPerKeyIsSharedByEveryWaiterWhileItRuns) {
    WorkerPool pool({{.workers = 2, .waiting = 4}});
    SharedInspection<std::string> inspection(pool, 0);
    Gate gate;
    std::atomic<int> runs{0}, started{0};
    const auto work = [&](std::string answer) {
        return [&, answer] {
            ++runs;
            gate.wait();
            return answer;
        };
    };
    std::vector<std::optional<std::string>> shared(8);
    std::optional<std::string> impatient = "unset", other;
    std::atomic<bool> impatientDone{false};
    Waiters waiters;
    for (size_t i = 0; i < shared.size(); ++i)
        waiters.spawn([&, i]() -> asio::awaitable<void> {
            const asio::any_io_executor strand = co_await asio::this_coro::executor;
            auto pending = inspection.start(strand, "repo", WorkClock::now() + seconds(20), work("repo"));
            ++started;
            shared[i] = co_await pending.result();
        });
    // Gives up long before the work ends; the work goes on for the others.
    waiters.spawn([&]() -> asio::awaitable<void> {
        const asio::any_io_executor strand = co_await asio::this_coro::executor;
        auto pending = inspection.start(strand, "repo", WorkClock::now() + milliseconds(50), work("late"));
        ++started;
        impatient = co_await pending.result();
        EXPECT_FALSE(pending.finished());
        impatientDone = true;
    });
    waiters.spawn([&]() -> asio::awaitable<void> {
        const asio::any_io_executor strand = co_await asio::this_coro::executor;
        auto pending = inspection.start(strand, "other", WorkClock::now() + seconds(20), work("other"));
        ++started;
        other = co_await pending.result();
    });
    waiters.start();
    ASSERT_TRUE(eventually([&] { return started == 10 && impatientDone; }));
    EXPECT_EQ(inspection.inFlight(), 2u);
    gate.open();
    waiters.finish();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(impatient, std::nullopt);
    for (const auto& result : shared)
        EXPECT_EQ(result, "repo");
    EXPECT_EQ(other, "other");
    // Once it has ended, the next request inspects anew.
    EXPECT_TRUE(eventually([&] { return inspection.inFlight() == 0; }));
    Waiters again;
    std::optional<std::string> fresh;
    again.spawn([&]() -> asio::awaitable<void> {
        const asio::any_io_executor strand = co_await asio::this_coro::executor;
        auto pending = inspection.start(strand, "repo", WorkClock::now() + seconds(20), work("fresh"));
        fresh = co_await pending.result();
    });
    again.start();
    again.finish();
    EXPECT_EQ(fresh, "fresh");
    EXPECT_EQ(runs, 3);
}

TEST(PooledWorkTest, AStuckLaneHoldsOnlyItsOwnWorkers) {
    // Lane 0 may run one job and keep one waiting; lane 1 runs one.
    WorkerPool pool({{.workers = 1, .waiting = 1}, {.workers = 1, .waiting = 0}});
    SharedInspection<int> stuckLane(pool, 0);
    Gate gate;
    std::atomic<bool> stuckRan{false}, skippedRan{false}, otherRan{false};
    ASSERT_TRUE(pool.submit(0, [&] {
        stuckRan = true;
        gate.wait();
    }));
    ASSERT_TRUE(eventually([&] { return stuckRan.load(); }));

    std::optional<int> gaveUp = 1, refused = 1;
    bool refusedAtOnce = false;
    Waiters waiters;
    waiters.spawn([&]() -> asio::awaitable<void> {
        // Waits behind the stuck job until its deadline, then is skipped unrun.
        const asio::any_io_executor strand = co_await asio::this_coro::executor;
        auto waiting = stuckLane.start(strand, "a", WorkClock::now() + milliseconds(100), [&] {
            skippedRan = true;
            return 2;
        });
        // The lane is full now: refused at once, whatever the deadline.
        auto full = stuckLane.start(strand, "b", WorkClock::now() + seconds(20), [] { return 3; });
        refusedAtOnce = full.finished();
        refused = co_await full.result();
        gaveUp = co_await waiting.result();
    });
    waiters.start();
    waiters.finish();
    EXPECT_TRUE(refusedAtOnce);
    EXPECT_EQ(refused, std::nullopt);
    EXPECT_EQ(gaveUp, std::nullopt);
    // Another lane still gets a worker.
    EXPECT_TRUE(pool.submit(1, [&] { otherRan = true; }));
    EXPECT_TRUE(eventually([&] { return otherRan.load(); }));

    gate.open();
    EXPECT_TRUE(eventually([&] { return stuckLane.inFlight() == 0; }));
    EXPECT_FALSE(skippedRan);
}
