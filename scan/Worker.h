#pragma once
// The worker thread of a job (a scan, a carve, a save, a search): one run at a
// time, with Pause, Resume and Stop through its JobControl. No exception
// leaves a run: it ends as that run's failure, never the program's. The jobs
// keep their own words; this only says whether there was anything to pause
// or stop.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/JobControl.h"

namespace tarnwell {

class Worker {
public:
    // busy: refuse runs until the first one started has ended (a job whose
    // first run must come before any other).
    explicit Worker(bool busy = false) : busy_(busy) {}
    // Stops the run and waits for it.
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts work on a new thread once the previous one has ended; Busy()
    // until then. When work throws, failed gets what it said (on the worker).
    // Afterwards the flags are cleared, settle runs (the job's own clean-up),
    // Busy() turns false, and done runs last.
    void Start(std::function<void()> work, std::function<void(const std::string& failure)> failed = {},
               std::function<void()> done = {});
    // Run after every run, before Busy() turns false.
    void SetSettle(std::function<void()> settle) { settle_ = std::move(settle); }

    // False, doing nothing, when no run is going: a raised flag would cut the next one short.
    bool Pause();
    void Resume();
    bool Stop();
    // Waits for the running work to end.
    void Wait();

    bool Busy() const { return busy_.load(); }
    JobControl& Control() { return control_; }
    const JobControl& Control() const { return control_; }

    // What the exception being handled says ("not enough memory" for bad_alloc).
    static std::string FailureText();

private:
    JobControl control_;
    std::atomic<bool> busy_;
    std::function<void()> settle_;
    std::mutex threadMutex_;
    std::thread thread_;
};

}  // namespace tarnwell
