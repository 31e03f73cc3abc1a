#pragma once
// The command line's side of progress and questions: a bar with the status
// text on stderr when it is a terminal, plain status lines otherwise; Ctrl-C
// (or SIGTERM) asks the running job to stop and keep what it found.

#include <cstdint>
#include <mutex>
#include <string>

#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "core/Prompter.h"

namespace tarnwell::cli {

class TerminalProgress final : public ProgressSink {
public:
    TerminalProgress();
    ~TerminalProgress() override;
    void SetRange(std::int64_t lower, std::int64_t upper) override;
    void SetPosition(std::int64_t position) override;
    void SetStatus(const std::string& text) override;
    // Ends the bar's line so that what follows starts on a fresh one.
    void Finish();

private:
    void Draw();

    std::mutex mutex_;
    bool terminal_;
    bool drawn_ = false;
    std::int64_t lower_ = 0, upper_ = 0, position_ = 0;
    int lastPermille_ = -1;
    std::string status_;
};

// Informs on stderr; answers questions yes unless told otherwise (--no).
class CliPrompter final : public Prompter {
public:
    explicit CliPrompter(bool answer = true) : answer_(answer) {}
    void Inform(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;

private:
    bool answer_;
};

// The first SIGINT or SIGTERM asks the running job to stop and keep what it
// found; a second one ends the process the usual way. Called once by main, so
// that a signal between two jobs is kept for the next one instead of killing.
void InstallInterruptHandlers();
// A first stop signal has come during this run.
bool Interrupted();

// While alive, a stop signal requests a stop of control; one that came while
// no guard was alive is passed on to control at once.
class InterruptGuard {
public:
    explicit InterruptGuard(JobControl& control);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

}  // namespace tarnwell::cli
