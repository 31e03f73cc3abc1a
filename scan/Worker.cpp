#include "scan/Worker.h"

#include <exception>
#include <new>

namespace tarnwell {

Worker::~Worker() {
    Stop();
    Wait();
}

std::string Worker::FailureText() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "not enough memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown error";
    }
}

void Worker::Start(std::function<void()> work, std::function<void(const std::string&)> failed,
                   std::function<void()> done) {
    Wait();  // the previous run has ended: it was not busy
    busy_ = true;
    std::lock_guard lock(threadMutex_);
    thread_ = std::thread([this, work = std::move(work), failed = std::move(failed), done = std::move(done)] {
        try {
            work();
        } catch (...) {
            const std::string why = FailureText();
            if (failed) failed(why);
        }
        // A Stop of this run must not cut the next one short.
        control_.Reset();
        if (settle_) settle_();
        busy_ = false;
        if (done) done();
    });
}

bool Worker::Pause() {
    if (!busy_) return false;
    control_.Pause();
    return true;
}

void Worker::Resume() { control_.Resume(); }

bool Worker::Stop() {
    if (!busy_) return false;
    control_.RequestStop();
    return true;
}

void Worker::Wait() {
    std::thread ended;
    {
        std::lock_guard lock(threadMutex_);
        ended = std::move(thread_);
    }
    if (ended.joinable()) ended.join();
}

}  // namespace tarnwell
