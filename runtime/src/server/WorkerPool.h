#pragma once
// Threads for the work that waits (child programs, the display, file reads), away from the
// state's executor and the I/O threads. Each job is filed under a lane, one per source it waits
// on, and a lane runs at most its `workers` jobs at once: a source whose work hangs for good (a
// stat on a dead network mount) holds only its own workers, and every other lane still gets
// threads. Threads start when work needs them, up to the sum of the lanes' workers. Thread-safe.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestro {

class WorkerPool {
  public:
    struct Lane {
        size_t workers = 1; // jobs of the lane running at once, at most
        size_t waiting = 0; // jobs of the lane waiting for one of those, at most
    };
    using LaneId = size_t; // the lane's index in the list given to the pool

    explicit WorkerPool(std::vector<Lane> lanes);
    // Drops the jobs still waiting and waits for the running ones to end.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs `job` on a worker as soon as its lane has one free. False, with `job` dropped unrun,
    // when the lane already holds all the jobs it may (`workers` running and `waiting` more).
    // A job's exception is swallowed: jobs report their outcome themselves.
    bool submit(LaneId lane, std::function<void()> job);

  private:
    struct Worker {
        std::condition_variable wake;
        std::function<void()> job; // handed over while the worker is idle
        LaneId lane = 0;
        std::thread thread;
    };
    struct LaneState {
        Lane limits;
        size_t running = 0;
        std::deque<std::function<void()>> waiting;
    };

    void work(Worker& self);

    std::mutex m_mutex;
    std::vector<LaneState> m_lanes;
    size_t m_maxThreads = 0;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<Worker*> m_idle;
    bool m_stopping = false;
};

} // namespace kestro
