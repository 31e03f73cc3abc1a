#include "scan/ScanJob.h"

#include <exception>

#include "fs/ParserFactory.h"

namespace tarnwell {

namespace {
const char* const kBusy = "Please wait for other process to complete";
const char* const kDone = "Scanning processing done.Select save button to save the data.";
// A stopped scan must not read as a finished one: its rows are only part of the volume's.
const char* const kStopped =
    "Scanning stopped before the end. Only what was found until then is listed; select save button to save it.";

const char* ModeName(RecoveryMode mode) {
    switch (mode) {
        case RecoveryMode::Standard: return "Standard";
        case RecoveryMode::Advanced: return "Advanced";
        case RecoveryMode::Deep: return "Deep";
    }
    return "";
}
}  // namespace

ScanJob::ScanJob(ScanSession& session, ProgressSink& progress, Prompter& prompter)
    : session_(session), progress_(progress), prompter_(prompter), maker_(MakeParser) {
    // After every run: a Stop of it must not cut short a later save or search.
    worker_.SetSettle([this] {
        if (parser_) parser_->stopFlag = false;
    });
}

ScanJob::~ScanJob() {
    Stop();
    Wait();
}

bool ScanJob::Start() {
    const VolumeEntry& volume = session_.selectedVolume;
    row_ = Dispatch(volume.fileSystem, session_.recoveryMode);
    if (row_.kind == ParserKind::None) {
        prompter_.Inform("not a valid drive.");
        progress_.SetStatus("Not a valid Drive .Go back");
        return false;
    }
    if (row_.kind != ParserKind::HfsPlus && !session_.reader) {
        prompter_.Inform("Please Restart the program to re begin necessary initialization...");
        return false;
    }
    if (row_.kind == ParserKind::Ntfs) progress_.SetStatus("ntfs partition selected....");
    if (row_.kind == ParserKind::HfsPlus) progress_.SetStatus("HFS+ partition selected....");

    // Opening replaces the session's reader, so it comes before the parser takes it.
    if (session_.volumeChosen && row_.kind != ParserKind::HfsPlus) session_.OpenReader(volume.location);
    ParserLinks links;
    links.reader = session_.reader.get();
    links.volume = volume;
    links.progress = &progress_;
    links.prompter = &prompter_;
    links.control = &worker_.Control();
    links.driveFormatted = session_.driveFormatted;
    links.rootFolderName = session_.rootFolderName;
    links.advanced = session_.advanced;
    parser_ = maker_(row_.parserName, links);
    if (!parser_) {
        prompter_.Inform(std::string("not a valid drive.") + " (" + ParserKindName(row_.kind) +
                         " volumes cannot be read by this build)");
        progress_.SetStatus("Not a valid Drive .Go back");
        return false;
    }
    if (!row_.startsWorker) {
        prompter_.Inform(std::string("The ") + ModeName(session_.recoveryMode) + " mode is not available for " +
                         ParserKindName(row_.kind) + " volumes.");
        return false;
    }

    outcome_ = ScanOutcome::Running;
    worker_.Start([this] { RunScan(); }, {}, [this] {
        if (onScanFinished) onScanFinished(outcome_.load());
    });
    return true;
}

void ScanJob::RunScan() {
    // No exception leaves the worker: one from a parser (a damaged volume that
    // asked for more than the machine has) is this scan's failure, never the
    // end of the program.
    bool ok = false;
    std::string failure;
    try {
        ok = parser_->Scan(session_.recoveryMode);
        if (ok) parser_->RecoverRecycleBinNames();
    } catch (...) {
        failure = Worker::FailureText();
    }
    const bool stopped = worker_.Control().StopRequested() || parser_->stopFlag.load();
    ScanOutcome outcome;
    if (!failure.empty()) {
        prompter_.Inform("The scan failed: " + failure + ". What it found is not shown.");
        progress_.SetStatus("Work Aborted....");
        outcome = ScanOutcome::Aborted;
    } else if (!ok && row_.kind != ParserKind::HfsPlus) {
        outcome = ScanOutcome::Refused;  // the parser has given its message
    } else {
        if (row_.kind == ParserKind::HfsPlus) {
            progress_.SetStatus(!ok ? "Work Aborted...." : stopped ? kStopped : "Work Done.");
        } else {
            prompter_.Inform(stopped ? kStopped : kDone);
            progress_.SetStatus(stopped ? kStopped : kDone);
        }
        outcome = !ok ? ScanOutcome::Aborted : stopped ? ScanOutcome::Stopped : ScanOutcome::Completed;
    }
    outcome_ = outcome;
}

void ScanJob::Pause() {
    if (worker_.Pause()) progress_.SetStatus("Pause button pressed");
}

void ScanJob::Resume() {
    worker_.Resume();
    if (worker_.Busy()) progress_.SetStatus("Resume button pressed");
}

void ScanJob::Stop() {
    // With nothing running there is nothing to stop, and a raised flag would
    // cut the next save or search short.
    if (!parser_ || !worker_.Busy()) return;
    parser_->stopFlag = true;
    worker_.Stop();
    progress_.SetStatus("stop button pressed.Please wait for the process to be stopped.");
}

void ScanJob::Wait() { worker_.Wait(); }

bool ScanJob::RefuseWhileBusy() {
    if (worker_.Busy() || !parser_) {
        prompter_.Inform(kBusy);
        return true;
    }
    return false;
}

bool ScanJob::StartSave(SaveRequest request, std::function<void(const SaveReport&)> done) {
    if (RefuseWhileBusy()) return false;
    if (request.sourcePath.empty()) request.sourcePath = session_.SourcePath();
    auto report = std::make_shared<SaveReport>();
    worker_.Start(
        [this, report, request = std::move(request)] { *report = RunSave(*parser_, request, prompter_, progress_); },
        [this, report](const std::string& failure) {
            report->ran = true;
            report->errors.push_back("the save failed: " + failure);
            prompter_.Inform("The save failed: " + failure + ".");
        },
        [report, done = std::move(done)] {
            if (done) done(*report);
        });
    return true;
}

bool ScanJob::StartSearch(std::string pattern, std::function<void(const SearchHit&)> onHit,
                          std::function<void(SearchEnd)> done) {
    if (RefuseWhileBusy()) return false;
    auto end = std::make_shared<SearchEnd>(SearchEnd::Stopped);
    worker_.Start(
        [this, end, pattern = std::move(pattern), onHit = std::move(onHit)] {
            std::uint64_t hits = 0;
            auto count = [&](const SearchHit& hit) {
                ++hits;
                progress_.SetStatus("searched file " + std::to_string(hits));
                if (onHit) onHit(hit);
            };
            try {
                *end = SearchNames(*parser_, pattern, count, [this] { return worker_.Control().Checkpoint(); },
                                   progress_);
            } catch (...) {
                prompter_.Inform("The search failed: " + Worker::FailureText() + ".");
            }
            if (*end == SearchEnd::InvalidPattern) {
                prompter_.Inform("such characters are not allowed for search.Try again with different pattern.");
            } else {
                prompter_.Inform("Searching Finished");
                progress_.SetStatus("Searching Finished");
            }
        },
        {},
        [end, done = std::move(done)] {
            if (done) done(*end);
        });
    return true;
}

ExtractStatus ScanJob::SaveFile(RowId row, const std::string& outputFolder) {
    const bool tellPath = row_.kind == ParserKind::ExFat || row_.kind == ParserKind::Ext ||
                          row_.kind == ParserKind::HfsPlus;
    if (RefuseWhileBusy()) return ExtractStatus::WriteFailed;
    try {
        return SaveOneFile(*parser_, row, outputFolder, session_.SourcePath(), prompter_, tellPath);
    } catch (...) {
        prompter_.Inform("The file could not be saved: " + Worker::FailureText() + ".");
        return ExtractStatus::Failed;
    }
}

}  // namespace tarnwell
