#include "core/JobControl.h"

#include <chrono>

namespace tarnwell {

void JobControl::RequestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

void JobControl::Pause() { paused_ = true; }

void JobControl::Resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    wake_.notify_all();
}

bool JobControl::Checkpoint() {
    if (paused_.load(std::memory_order_relaxed) && !stop_.load(std::memory_order_relaxed)) {
        std::unique_lock lock(mutex_);
        while (paused_ && !stop_) wake_.wait_for(lock, std::chrono::milliseconds(200));
    }
    return !stop_.load(std::memory_order_relaxed);
}

void JobControl::Reset() {
    std::lock_guard lock(mutex_);
    stop_ = false;
    paused_ = false;
}

}  // namespace tarnwell
