#include "scan/ScanJob.h"

#include <exception>

#include "fs/FileSystemRegistry.h"

namespace tarnwell {

namespace {

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
    links.control = &worker_.Control();
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
    outcome_ = outcome;
}

void ScanJob::Pause() {
    if (worker_.Pause()) progress_.Report(Event(Step::Paused));
}

void ScanJob::Resume() {
    worker_.Resume();
    if (worker_.Busy()) progress_.Report(Event(Step::Resumed));
}

void ScanJob::Stop() {
    // With nothing running there is nothing to stop, and a raised flag would
    // cut the next save or search short.
    if (!parser_ || !worker_.Busy()) return;
    parser_->stopFlag = true;
    worker_.Stop();
    progress_.Report(Event(Step::ScanStopAsked));
}

void ScanJob::Wait() { worker_.Wait(); }

bool ScanJob::RefuseWhileBusy() {
    if (worker_.Busy() || !parser_) {
        prompter_.Inform(Event(Step::Busy));
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
            prompter_.Inform(Event(Step::SaveFailed).Detail(failure));
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
                progress_.Report(Event(Step::SearchHit, static_cast<std::int64_t>(hits)));
                if (onHit) onHit(hit);
            };
            try {
                *end = SearchNames(*parser_, pattern, count, [this] { return worker_.Control().Checkpoint(); },
                                   progress_);
            } catch (...) {
                prompter_.Inform(Event(Step::SearchFailed).Detail(Worker::FailureText()));
            }
            if (*end == SearchEnd::InvalidPattern) {
                prompter_.Inform(Event(Step::SearchInvalidPattern));
            } else {
                prompter_.Inform(Event(Step::SearchFinished));
                progress_.Report(Event(Step::SearchFinished));
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
        prompter_.Inform(Event(Step::FileSaveFailed).Detail(Worker::FailureText()));
        return ExtractStatus::Failed;
    }
}

}  // namespace tarnwell
