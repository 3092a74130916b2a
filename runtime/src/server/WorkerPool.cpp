#include "server/WorkerPool.h"

#include <system_error>

namespace kestro {

WorkerPool::WorkerPool(std::vector<Lane> lanes) {
    for (const Lane& lane : lanes) {
        m_lanes.push_back({.limits = lane, .running = 0, .waiting = {}});
        m_maxThreads += lane.workers;
    }
    // Room for every thread the pool may start, so that storing one never fails once it runs.
    m_workers.reserve(m_maxThreads);
    m_idle.reserve(m_maxThreads);
}

WorkerPool::~WorkerPool() {
    std::vector<std::function<void()>> dropped;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (LaneState& lane : m_lanes)
            for (auto& job : lane.waiting)
                dropped.push_back(std::move(job));
        for (Worker* idle : m_idle)
            idle->wake.notify_one();
    }
    // The jobs are destroyed here, outside the lock: what they hold may submit no more.
    dropped.clear();
    for (auto& worker : m_workers)
        worker->thread.join();
}

bool WorkerPool::submit(LaneId laneId, std::function<void()> job) {
    std::unique_lock lock(m_mutex);
    if (m_stopping || laneId >= m_lanes.size()) return false;
    LaneState& lane = m_lanes[laneId];
    if (lane.running < lane.limits.workers) {
        // The lanes' running jobs never outnumber the threads allowed, so one is idle or may
        // start.
        ++lane.running;
        if (!m_idle.empty()) {
            Worker* worker = m_idle.back();
            m_idle.pop_back();
            worker->job = std::move(job);
            worker->lane = laneId;
            worker->wake.notify_one();
            return true;
        }
        auto worker = std::make_unique<Worker>();
        worker->job = std::move(job);
        worker->lane = laneId;
        Worker& self = *worker;
        try {
            self.thread = std::thread([this, &self] { work(self); });
        } catch (const std::system_error&) {
            // Out of threads (a process or memory limit): the job is refused like one without room.
            --lane.running;
            return false;
        }
        m_workers.push_back(std::move(worker));
        return true;
    }
    if (lane.waiting.size() >= lane.limits.waiting) return false;
    lane.waiting.push_back(std::move(job));
    return true;
}

void WorkerPool::work(Worker& self) {
    std::unique_lock lock(m_mutex);
    while (true) {
        // A new thread starts before `submit` has stored it: the lock orders the two.
        while (self.job) {
            std::function<void()> job = std::move(self.job);
            self.job = nullptr;
            lock.unlock();
            try {
                job();
            } catch (...) {
            }
            job = nullptr;
            lock.lock();
            // The lane's next waiting job takes this worker at once; the lane's count stays.
            LaneState& lane = m_lanes[self.lane];
            if (!lane.waiting.empty() && !m_stopping) {
                self.job = std::move(lane.waiting.front());
                lane.waiting.pop_front();
            } else {
                --lane.running;
            }
        }
        if (m_stopping) return;
        m_idle.push_back(&self);
        self.wake.wait(lock, [&] { return self.job || m_stopping; });
        if (!self.job) return;
    }
}

} // namespace kestro
