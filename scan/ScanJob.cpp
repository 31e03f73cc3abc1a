#include "scan/ScanJob.h"

#include <exception>

#include "fs/FileSystemRegistry.h"

namespace tarnwell {

namespace {

// What an exception that escaped a parser says, for the job's error outcome.
std::string FailureText() {
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

const char* ModeName(RecoveryMode mode) {
    switch (mode) {
        case RecoveryMode::Standard: return "standard";
        case RecoveryMode::Advanced: return "advanced";
        case RecoveryMode::Deep: return "deep";
    }
    return "";
}
}  // namespace

ScanJob::ScanJob(ScanSession& session, ProgressSink& progress, Prompter& prompter)
    : session_(session), progress_(progress), prompter_(prompter), maker_(MakeParser) {}

ScanJob::~ScanJob() {
    Stop();
    Wait();
}

bool ScanJob::Start() {
    const VolumeEntry& volume = session_.selectedVolume;
    row_ = Dispatch(volume.fileSystem, session_.recoveryMode);
    if (row_.kind == ParserKind::None) {
        prompter_.Inform(Event(Step::VolumeNotReadable));
        progress_.Report(Event(Step::VolumeNotReadable));
        return false;
    }
    if (row_.kind != ParserKind::HfsPlus && !session_.reader) {
        prompter_.Inform(Event(Step::ReaderMissing));
        return false;
    }
    if (row_.kind == ParserKind::Ntfs) progress_.Report(Event(Step::NtfsSelected));
    if (row_.kind == ParserKind::HfsPlus) progress_.Report(Event(Step::HfsPlusSelected));

    // Opening replaces the session's reader, so it comes before the parser takes it.
    if (session_.volumeChosen && row_.kind != ParserKind::HfsPlus) session_.OpenReader(volume.location);
    ParserLinks links;
    links.volume = volume;
    if (session_.reader) links.view = ViewOf(*session_.reader, volume);
    links.progress = &progress_;
    links.prompter = &prompter_;
    links.control = &control_;
    links.driveFormatted = session_.driveFormatted;
    links.rootFolderName = session_.rootFolderName;
    links.advanced = session_.advanced;
    parser_ = maker_(row_.parserName, links);
    if (!parser_) {
        prompter_.Inform(Event(Step::NoParser).Kind(ParserKindName(row_.kind)));
        progress_.Report(Event(Step::VolumeNotReadable));
        return false;
    }
    if (!row_.startsWorker) {
        prompter_.Inform(
            Event(Step::ModeNotAvailable).Name(ModeName(session_.recoveryMode)).Kind(ParserKindName(row_.kind)));
        return false;
    }

    outcome_ = ScanOutcome::Running;
    busy_ = true;
    Launch([this] { RunScan(); });
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
        failure = FailureText();
    }
    const bool stopped = control_.StopRequested() || parser_->stopFlag.load();
    ScanOutcome outcome;
    if (!failure.empty()) {
        prompter_.Inform(Event(Step::ScanFailed).Detail(failure));
        progress_.Report(Event(Step::ScanAborted));
        outcome = ScanOutcome::Aborted;
    } else if (!ok && row_.kind != ParserKind::HfsPlus) {
        outcome = ScanOutcome::Refused;  // the parser has given its message
    } else {
        if (row_.kind == ParserKind::HfsPlus) {
            progress_.Report(Event(!ok ? Step::ScanAborted : stopped ? Step::ScanStopped : Step::ScanDone));
        } else {
            prompter_.Inform(Event(stopped ? Step::ScanStopped : Step::ScanFinished));
            progress_.Report(Event(stopped ? Step::ScanStopped : Step::ScanFinished));
        }
        outcome = !ok ? ScanOutcome::Aborted : stopped ? ScanOutcome::Stopped : ScanOutcome::Completed;
    }
    // A Stop of the scan must not cut short a later save or search.
    control_.Reset();
    parser_->stopFlag = false;
    outcome_ = outcome;
    busy_ = false;
    if (onScanFinished) onScanFinished(outcome);
}

void ScanJob::Pause() {
    if (!busy_) return;
    control_.Pause();
    progress_.Report(Event(Step::Paused));
}

void ScanJob::Resume() {
    control_.Resume();
    if (busy_) progress_.Report(Event(Step::Resumed));
}

void ScanJob::Stop() {
    // With nothing running there is nothing to stop, and a raised flag would
    // cut the next save or search short.
    if (!parser_ || !busy_) return;
    parser_->stopFlag = true;
    control_.RequestStop();
    progress_.Report(Event(Step::ScanStopAsked));
}

void ScanJob::Wait() {
    std::thread done;
    {
        std::lock_guard lock(threadMutex_);
        done = std::move(worker_);
    }
    if (done.joinable()) done.join();
}

void ScanJob::Launch(std::function<void()> work) {
    Wait();  // the previous worker has ended: busy_ was clear
    std::lock_guard lock(threadMutex_);
    worker_ = std::thread(std::move(work));
}

bool ScanJob::RefuseWhileBusy() {
    if (busy_ || !parser_) {
        prompter_.Inform(Event(Step::Busy));
        return true;
    }
    return false;
}

bool ScanJob::StartSave(SaveRequest request, std::function<void(const SaveReport&)> done) {
    if (RefuseWhileBusy()) return false;
    if (request.sourcePath.empty()) request.sourcePath = session_.SourcePath();
    busy_ = true;
    Launch([this, request = std::move(request), done = std::move(done)] {
        SaveReport report;
        try {
            report = RunSave(*parser_, request, prompter_, progress_);
        } catch (...) {
            std::string failure = FailureText();
            report.ran = true;
            report.errors.push_back("the save failed: " + failure);
            prompter_.Inform(Event(Step::SaveFailed).Detail(failure));
        }
        control_.Reset();
        parser_->stopFlag = false;
        busy_ = false;
        if (done) done(report);
    });
    return true;
}

bool ScanJob::StartSearch(std::string pattern, std::function<void(const SearchHit&)> onHit,
                          std::function<void(SearchEnd)> done) {
    if (RefuseWhileBusy()) return false;
    busy_ = true;
    Launch([this, pattern = std::move(pattern), onHit = std::move(onHit), done = std::move(done)] {
        std::uint64_t hits = 0;
        auto count = [&](const SearchHit& hit) {
            ++hits;
            progress_.Report(Event(Step::SearchHit, static_cast<std::int64_t>(hits)));
            if (onHit) onHit(hit);
        };
        SearchEnd end = SearchEnd::Stopped;
        try {
            end = SearchNames(*parser_, pattern, count, [this] { return control_.Checkpoint(); }, progress_);
        } catch (...) {
            prompter_.Inform(Event(Step::SearchFailed).Detail(FailureText()));
        }
        if (end == SearchEnd::InvalidPattern) {
            prompter_.Inform(Event(Step::SearchInvalidPattern));
        } else {
            control_.Reset();
            parser_->stopFlag = false;
            prompter_.Inform(Event(Step::SearchFinished));
            progress_.Report(Event(Step::SearchFinished));
        }
        busy_ = false;
        if (done) done(end);
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
        prompter_.Inform(Event(Step::FileSaveFailed).Detail(FailureText()));
        return ExtractStatus::Failed;
    }
}

}  // namespace tarnwell
