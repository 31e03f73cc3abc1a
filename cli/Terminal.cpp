#include "cli/Terminal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "cli/EntryOutput.h"

namespace tarnwell::cli {

namespace {
// The last line either of them printed: a job often tells a text both ways
// (message and status line), which on a terminal's stderr would show twice.
std::mutex gLastLineMutex;
std::string gLastLine;

bool FreshLine(const std::string& text) {
    std::lock_guard lock(gLastLineMutex);
    if (text == gLastLine) return false;
    gLastLine = text;
    return true;
}
}  // namespace

TerminalProgress::TerminalProgress() : terminal_(::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() { Finish(); }

void TerminalProgress::SetRange(std::int64_t lower, std::int64_t upper) {
    std::lock_guard lock(mutex_);
    lower_ = lower;
    upper_ = upper;
    position_ = lower;
    lastPermille_ = -1;
    Draw();
}

void TerminalProgress::SetPosition(std::int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    Draw();
}

void TerminalProgress::SetStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    // A status may name a file, and a name from disk may hold escape codes.
    std::string shown = VisibleText(text, TextKind::Status);
    if (shown == status_) return;
    status_ = shown;
    if (!terminal_) {
        if (FreshLine(shown)) std::fprintf(stderr, "%s\n", shown.c_str());
        return;
    }
    lastPermille_ = -1;
    Draw();
}

void TerminalProgress::Draw() {
    if (!terminal_) return;
    int permille = 0;
    if (upper_ > lower_) {
        double f = double(position_ - lower_) / double(upper_ - lower_);
        permille = static_cast<int>(std::clamp(f, 0.0, 1.0) * 1000);
    }
    if (permille == lastPermille_) return;  // redraw only when something shows
    lastPermille_ = permille;
    constexpr int kWidth = 30;
    int filled = permille * kWidth / 1000;
    std::string bar(filled, '#');
    bar.append(kWidth - filled, '-');
    std::string status = status_.substr(0, 60);
    std::fprintf(stderr, "\r\033[K[%s] %5.1f%% %s", bar.c_str(), permille / 10.0, status.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalProgress::Finish() {
    std::lock_guard lock(mutex_);
    if (terminal_ && drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
}

void CliPrompter::Inform(const std::string& text) {
    std::string shown = VisibleText(text, TextKind::Message);
    if (FreshLine(shown)) std::fprintf(stderr, "%s\n", shown.c_str());
}

bool CliPrompter::AskYesNo(const std::string& question) {
    std::fprintf(stderr, "%s %s\n", VisibleText(question, TextKind::Message).c_str(), answer_ ? "(yes)" : "(no)");
    return answer_;
}

namespace {
std::atomic<JobControl*> gControl{nullptr};
std::atomic<int> gSignals{0};
// A first signal that found no job to stop, for the next guard.
std::atomic<bool> gPending{false};
std::atomic<bool> gInstalled{false};

void OnStopSignal(int signal) {
    if (gSignals.fetch_add(1) > 0) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    // Only atomics here: RequestStop takes a lock, so set the flag the worker polls.
    if (JobControl* control = gControl.load()) {
        control->RequestStopFromSignal();
        return;
    }
    gPending.store(true);
    // A guard may have come between the load and the store.
    if (JobControl* control = gControl.load(); control != nullptr && gPending.exchange(false))
        control->RequestStopFromSignal();
}
}  // namespace

void InstallInterruptHandlers() {
    if (gInstalled.exchange(true)) return;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

bool Interrupted() { return gSignals.load() > 0; }

InterruptGuard::InterruptGuard(JobControl& control) {
    InstallInterruptHandlers();
    gControl = &control;
    if (gPending.exchange(false)) control.RequestStopFromSignal();
}

// The handlers stay: a signal after the job still counts as a stop of the run.
InterruptGuard::~InterruptGuard() { gControl = nullptr; }

}  // namespace tarnwell::cli
