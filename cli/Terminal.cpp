#include "cli/Terminal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

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
    if (text == status_) return;
    status_ = text;
    if (!terminal_) {
        if (FreshLine(text)) std::fprintf(stderr, "%s\n", text.c_str());
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
    if (FreshLine(text)) std::fprintf(stderr, "%s\n", text.c_str());
}

bool CliPrompter::AskYesNo(const std::string& question) {
    std::fprintf(stderr, "%s %s\n", question.c_str(), answer_ ? "(yes)" : "(no)");
    return answer_;
}

namespace {
std::atomic<JobControl*> gControl{nullptr};
std::atomic<int> gInterrupts{0};

void OnInterrupt(int) {
    JobControl* control = gControl.load();
    if (control == nullptr || gInterrupts.fetch_add(1) > 0) {
        ::signal(SIGINT, SIG_DFL);
        ::raise(SIGINT);
        return;
    }
    // Only atomics here: RequestStop takes a lock, so set the flag the worker polls.
    control->RequestStopFromSignal();
}
}  // namespace

InterruptGuard::InterruptGuard(JobControl& control) {
    gControl = &control;
    gInterrupts = 0;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
}

InterruptGuard::~InterruptGuard() {
    ::signal(SIGINT, SIG_DFL);
    gControl = nullptr;
}

}  // namespace tarnwell::cli
