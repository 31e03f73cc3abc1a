#pragma once
// Stop and pause for a worker. Workers call Checkpoint() at their progress
// points; a paused worker waits there, never while holding a lock of its own.

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tarnwell {

class JobControl {
public:
    void RequestStop();
    // From a signal handler: raises the flag without locking; a paused worker
    // notices it within its wait's timeout.
    void RequestStopFromSignal() { stop_.store(true); }
    void Pause();
    void Resume();

    bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
    bool Paused() const { return paused_.load(std::memory_order_relaxed); }

    // Waits while paused; returns false once a stop was requested.
    bool Checkpoint();

    // Clears both flags for a new run.
    void Reset();

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

}  // namespace tarnwell
