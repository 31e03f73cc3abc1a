#pragma once
// The command line's own voice. On a terminal the engine's progress is a bar
// on stderr with counts, rate and time left; otherwise only warnings and
// errors are printed, and the command prints its one-line summary. -v adds a
// line per phase of the work, -q leaves only errors. Ctrl-C (or SIGTERM) asks
// the running job to stop and keep what it found.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "core/Prompter.h"

namespace tarnwell::cli {

enum class Verbosity { Quiet, Normal, Verbose };
void SetVerbosity(Verbosity v);
Verbosity CurrentVerbosity();

// The command line's words for an event: a phase's name, or an outcome's line
// (empty when the command line has nothing to say about it).
std::string PhaseWords(Phase phase);
std::string OutcomeLine(const Event& event);

class TerminalProgress final : public ProgressSink {
public:
    TerminalProgress();
    // For tests: a bar or not, whatever stderr is.
    explicit TerminalProgress(bool terminal);
    ~TerminalProgress() override;
    void SetRange(std::int64_t lower, std::int64_t upper) override;
    void SetPosition(std::int64_t position) override;
    void Report(const Event& event) override;
    // Ends the bar's line so that what follows starts on a fresh one.
    void Finish();

private:
    void Draw(bool force);
    void ClearBar();

    using Clock = std::chrono::steady_clock;
    std::mutex mutex_;
    bool terminal_;
    bool drawn_ = false;
    std::int64_t lower_ = 0, upper_ = 0, position_ = 0;
    Clock::time_point rangeStart_ = Clock::now();
    Clock::time_point lastDraw_{};
    Phase phase_ = Phase::None;
    std::int64_t count_ = 0, total_ = 0;
    int lastPermille_ = -1;
    std::string name_;  // the file being saved
};

// Prints the engine's warnings and errors on stderr in the command line's
// words; answers questions yes unless told otherwise (--no).
class CliPrompter final : public Prompter {
public:
    explicit CliPrompter(bool answer = true) : answer_(answer) {}
    void Inform(const Event& event) override;
    bool AskYesNo(const Event& question) override;
    // Errors printed so far, so that a caller can tell a refusal that was
    // explained from one that was not.
    std::uint64_t ErrorsPrinted() const { return errors_; }

private:
    bool answer_;
    std::uint64_t errors_ = 0;
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
