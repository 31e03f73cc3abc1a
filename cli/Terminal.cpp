#include "cli/Terminal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "cli/EntryOutput.h"

namespace tarnwell::cli {

namespace {
std::atomic<Verbosity> gVerbosity{Verbosity::Normal};
// The bar and the lines printed under it share stderr.
std::mutex gStderrMutex;
bool gBarShown = false;

// The user-facing name of a file system the engine names by its KIND.
std::string Shown(const std::string& kind) {
    if (kind == "ntfs") return "NTFS";
    if (kind == "fat12") return "FAT12";
    if (kind == "fat16") return "FAT16";
    if (kind == "fat32") return "FAT32";
    if (kind == "exfat") return "exFAT";
    if (kind == "ext") return "ext2/ext3/ext4";
    if (kind == "hfsplus") return "HFS+";
    return kind;
}

void PrintLine(const std::string& line) {
    std::lock_guard lock(gStderrMutex);
    if (gBarShown) std::fprintf(stderr, "\r\033[K");
    gBarShown = false;
    // A line may name a file, and a name from disk may hold escape codes.
    std::fprintf(stderr, "%s\n", VisibleText(line, TextKind::Message).c_str());
}

std::string ClockText(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// What the counts of a phase count.
const char* CountNoun(Phase phase) {
    switch (phase) {
        case Phase::ReadingTables: return "found";
        case Phase::ReadingRecords: return "records";
        case Phase::BuildingTree: return "rows";
        case Phase::Searching: return "hits";
        case Phase::Saving: return "files";
        default: return "";
    }
}
}  // namespace

void SetVerbosity(Verbosity v) { gVerbosity = v; }
Verbosity CurrentVerbosity() { return gVerbosity.load(); }

std::string PhaseWords(Phase phase) {
    switch (phase) {
        case Phase::None: return {};
        case Phase::Opening: return "opening the volume";
        case Phase::ReadingBootSector: return "reading the boot sector";
        case Phase::ReadingTables: return "reading tables";
        case Phase::ReadingRecords: return "reading records";
        case Phase::BuildingTree: return "building the tree";
        case Phase::ScanningPartitions: return "scanning for volumes";
        case Phase::Searching: return "searching";
        case Phase::Saving: return "saving";
        case Phase::Carving: return "carving";
        case Phase::Control: return {};
        case Phase::Finishing: return "finishing";
    }
    return {};
}

// "a FAT32", "an NTFS", "an ext4", "an exFAT", "an HFS+": by how the name is said.
std::string Article(const std::string& name) {
    const bool vowelSound = !name.empty() && std::string("aeiouAEIOUNH").find(name[0]) != std::string::npos;
    return (vowelSound ? "an " : "a ") + name;
}

std::string OutcomeLine(const Event& e) {
    switch (e.step) {
        case Step::SourceNotOpened: return "the source cannot be opened";
        case Step::VolumeNotReadable: return "the volume holds no file system this build reads";
        case Step::NoParser: return e.kind + " volumes cannot be read by this build";
        case Step::ReaderMissing: return "the source is not open";
        case Step::ModeNotAvailable: return "--mode " + e.name + ": not available for " + e.kind + " volumes";
        case Step::FatModeNotAvailable:
            return "--mode " + e.name + ": not available for " + (e.kind == "fat32" ? "FAT32" : "FAT12 and FAT16") +
                   " volumes; use --mode standard or --mode advanced";
        case Step::NotThisFileSystem:
            return "not " + Article(Shown(e.kind)) + " file system" +
                   (e.found.empty() ? std::string() : " (the boot sector is " + Shown(e.found) + "); see --fs");
        case Step::ExFatUnreadable:
        case Step::ExtUnreadable: return "the volume cannot be read";
        case Step::VolumeTooSmall: return "the volume is too small to hold " + Shown(e.kind);
        case Step::BadClusterSize: return "--cluster: not a cluster size an exFAT volume can have";
        case Step::NoHeap: return "no exFAT cluster heap found; folders are linked from their entries alone";
        case Step::NoTable: return "no " + Shown(e.kind) + " table found";
        case Step::NoDataArea: return "--table, --cluster: the picked table and cluster size leave no data area";
        case Step::NoMftRecord: return "--table: the picked MFT candidate holds no usable MFT record";
        case Step::HfsBadBlockSize: return "the HFS+ block size is not valid";
        case Step::HfsCatalogUnreadable: return "the HFS+ catalog file cannot be read";
        case Step::ScanFailed: return "the scan failed: " + e.detail;
        case Step::Busy: return "another job is still running";
        case Step::SearchFailed: return "the search failed: " + e.detail;
        case Step::SearchInvalidPattern: return "the search pattern holds characters that cannot be searched for";
        case Step::NoOutputFolder: return "no output folder given";
        case Step::NothingSelected: return "nothing chosen to save";
        case Step::OutputRefused: return e.detail;
        case Step::SaveFailed:
        case Step::FileSaveFailed: return "the save failed: " + e.detail;
        case Step::FileNotSaved: return e.name + " could not be saved" + (e.detail.empty() ? "" : ": " + e.detail);
        case Step::FileSaved:
            return e.partial > 0 ? e.name + " was saved partly: unreadable bytes stand as zeros" : std::string();
        case Step::IsDirectory: return e.name + " is a folder, not a file";
        case Step::DataUnreadable: return "the data cannot be read: " + e.detail;
        case Step::Exception: return "error: " + e.detail;
        case Step::SignatureFileError: return e.detail;
        case Step::SignaturesLeftOut: {
            std::string text = "signature types left out:";
            for (const auto& line : e.lines) text += " " + line + ";";
            if (!e.lines.empty()) text.pop_back();
            return text;
        }
        case Step::NoSignatureFile: return "no signature file loaded";
        case Step::NoSignatureTypes: return "no signature types to look for";
        case Step::ZeroSizeVolume: return "the volume is empty";
        case Step::CarveNoSource: return "the source cannot be opened for reading";
        case Step::UnreadableSectors: return std::to_string(e.count) + " sectors could not be read; read as zeros";
        case Step::CarveFailed: return "the carve failed: " + (e.detail.empty() ? std::string("unknown error") : e.detail);
        default: return {};
    }
}

TerminalProgress::TerminalProgress() : TerminalProgress(::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::TerminalProgress(bool terminal) : terminal_(terminal) {}

TerminalProgress::~TerminalProgress() { Finish(); }

void TerminalProgress::SetRange(std::int64_t lower, std::int64_t upper) {
    std::lock_guard lock(mutex_);
    lower_ = lower;
    upper_ = upper;
    position_ = lower;
    rangeStart_ = Clock::now();
    Draw(true);
}

void TerminalProgress::SetPosition(std::int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    Draw(false);
}

void TerminalProgress::Report(const Event& event) {
    std::lock_guard lock(mutex_);
    const Phase phase = PhaseOf(event.step);
    if (phase == Phase::Control || phase == Phase::None) return;
    if (phase != phase_) {
        phase_ = phase;
        count_ = total_ = 0;
        name_.clear();
        if (CurrentVerbosity() == Verbosity::Verbose) PrintLine("tarnwell: " + PhaseWords(phase));
    }
    // A name from disk may hold escape codes.
    if (event.step == Step::SavingFile) name_ = VisibleText(event.name, TextKind::Status);
    if (event.count > 0 && OutcomeOf(event) == Outcome::None) {
        count_ = event.count;
        total_ = event.total;
    }
    Draw(count_ == 0);  // a new phase shows at once, counts at the bar's pace
}

void TerminalProgress::Draw(bool force) {
    if (!terminal_ || CurrentVerbosity() == Verbosity::Quiet) return;
    const auto now = Clock::now();
    double fraction = 0;
    if (upper_ > lower_) fraction = std::clamp(double(position_ - lower_) / double(upper_ - lower_), 0.0, 1.0);
    const int permille = static_cast<int>(fraction * 1000);
    // Redrawn when the bar moves, or for new counts ten times a second at most.
    if (!force && permille == lastPermille_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastPermille_ = permille;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - rangeStart_).count();
    constexpr int kWidth = 24;
    int filled = static_cast<int>(fraction * kWidth);
    std::string line = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "]";
    char part[96];
    std::snprintf(part, sizeof part, " %5.1f%% ", fraction * 100);
    line += part + PhaseWords(phase_);
    if (count_ > 0) {
        if (total_ > 0)
            std::snprintf(part, sizeof part, " %lld/%lld", static_cast<long long>(count_), static_cast<long long>(total_));
        else
            std::snprintf(part, sizeof part, " %lld", static_cast<long long>(count_));
        line += part;
        if (*CountNoun(phase_)) line += std::string(" ") + CountNoun(phase_);
        if (elapsed >= 1) {
            std::snprintf(part, sizeof part, ", %.0f/s", count_ / elapsed);
            line += part;
        }
    }
    if (fraction > 0.01 && fraction < 1 && elapsed >= 1) line += ", " + ClockText(elapsed * (1 - fraction) / fraction) + " left";
    if (!name_.empty()) line += "  " + name_.substr(0, 60);
    std::lock_guard out(gStderrMutex);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    gBarShown = true;
    drawn_ = true;
}

void TerminalProgress::Finish() {
    std::lock_guard lock(mutex_);
    std::lock_guard out(gStderrMutex);
    if (terminal_ && drawn_ && gBarShown) std::fprintf(stderr, "\r\033[K");
    gBarShown = false;
    drawn_ = false;
}

void CliPrompter::Inform(const Event& event) {
    const Outcome outcome = OutcomeOf(event);
    const Verbosity v = CurrentVerbosity();
    if (outcome == Outcome::Refused || outcome == Outcome::Failed) {
        std::string line = OutcomeLine(event);
        if (!line.empty()) {
            PrintLine("error: " + line);
            ++errors_;
        }
    } else if (outcome == Outcome::Warning && v != Verbosity::Quiet) {
        std::string line = OutcomeLine(event);
        if (!line.empty()) PrintLine("warning: " + line);
    }
}

bool CliPrompter::AskYesNo(const Event& question) {
    if (CurrentVerbosity() == Verbosity::Verbose && question.step == Step::SaveConfirm)
        PrintLine("tarnwell: saving " + std::to_string(question.count) + " files" + (answer_ ? "" : ": no, as asked"));
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
