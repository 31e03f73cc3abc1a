#include "scan/CarveJob.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "carve/DefaultSignatures.h"

namespace tarnwell {

CarveJob::CarveJob(ScanSession& session, ProgressSink& progress, Prompter& prompter)
    : session_(session), progress_(progress), prompter_(prompter) {}

CarveJob::~CarveJob() {
    Stop();
    Wait();
}

bool CarveJob::RefuseWhileBusy() {
    if (!worker_.Busy()) return false;
    prompter_.Inform(Event(Step::Busy));
    return true;
}

bool CarveJob::LoadDefaults(const std::string& path) {
    if (RefuseWhileBusy()) return false;
    std::error_code ec;
    SignatureFile list;
    if (!path.empty() && std::filesystem::is_regular_file(path, ec)) {
        list = ReadSignatureFile(path);
    } else {
        list = ParseSignatureFile(DefaultSignatureFileBytes());
    }
    engine_ = std::make_unique<Carver>();
    if (!list.error.empty()) {
        prompter_.Inform(Event(Step::SignatureFileError).Detail(list.error));
        return false;
    }
    auto refused = list.refused;
    auto more = engine_->AddSignatures(list.records);
    refused.insert(refused.end(), more.begin(), more.end());
    if (!refused.empty()) prompter_.Inform(Event(Step::SignaturesLeftOut).Lines(refused));
    return true;
}

bool CarveJob::LoadFile(const std::string& path) {
    if (RefuseWhileBusy()) return false;
    SignatureFile list = ReadSignatureFile(path);
    if (!list.error.empty()) {
        prompter_.Inform(Event(Step::SignatureFileError).Detail(list.error));
        return false;
    }
    if (!engine_) engine_ = std::make_unique<Carver>();
    auto refused = list.refused;
    auto more = engine_->AddSignatures(list.records);
    refused.insert(refused.end(), more.begin(), more.end());
    if (!refused.empty()) prompter_.Inform(Event(Step::SignaturesLeftOut).Lines(refused));
    return true;
}

CarveStart CarveJob::StartRun(std::function<void(std::size_t, const CarvedItem&)> onFound,
                              std::function<void(const CarveSummary&)> done) {
    if (RefuseWhileBusy()) return CarveStart::Busy;
    if (!engine_) {
        prompter_.Inform(Event(Step::NoSignatureFile));
        return CarveStart::NoEngine;
    }
    if (engine_->Settings().empty()) {
        // Carving without a single type would read the whole volume for nothing.
        prompter_.Inform(Event(Step::NoSignatureTypes));
        return CarveStart::NoTypes;
    }
    const VolumeEntry& volume = session_.selectedVolume;
    std::uint64_t volumeBytes = volume.SizeBytes();
    if (volumeBytes == 0) {
        prompter_.Inform(Event(Step::ZeroSizeVolume));
        return CarveStart::ZeroSize;
    }
    if ((!session_.reader || session_.reader->fileLength() == 0) && !session_.SourcePath().empty())
        session_.OpenReader(session_.SourcePath());
    if (!session_.reader || session_.reader->fileLength() == 0) {
        prompter_.Inform(Event(Step::CarveNoSource));
        return CarveStart::NoSource;
    }
    // A volume reaching past the source's end is scanned to the source's end.
    const VolumeView whole = ViewOf(*session_.reader, volume);
    const VolumeView reader = whole.Available() > 0 ? whole.Sub(0, std::min(volumeBytes, whole.Available())) : whole;

    Carver* engine = engine_.get();
    auto summary = std::make_shared<std::optional<CarveSummary>>();
    auto work = [this, engine, reader, summary, onFound = std::move(onFound)] {
        progress_.Report(Event(Step::Carving));
        engine->CarveVolume(reader, progress_, &worker_.Control(), [&](const FoundFile& f) {
            CarvedItem item{f.start, f.length, engine->Extension(f), engine->Category(f), engine->ItemName(f), f.partial};
            std::size_t index;
            {
                std::lock_guard lock(itemsMutex_);
                index = items_.size();
                items_.push_back(item);
            }
            if (onFound) onFound(index, item);
        });
        const CarveSummary ended = engine->Summary();
        prompter_.Inform(Event(Step::CarveFinished).Stopped(ended.stopped));
        if (ended.unreadableSectors > 0)
            prompter_.Inform(Event(Step::UnreadableSectors, static_cast<std::int64_t>(ended.unreadableSectors)));
        progress_.Report(Event(Step::CarveEnded).Stopped(ended.stopped));
        *summary = ended;
    };
    // A run that failed still ends: the page is told, with what was found until then.
    worker_.Start(
        std::move(work),
        [this, engine, summary](const std::string& failure) {
            Failed(failure);
            *summary = engine->Summary();
        },
        [summary, done = std::move(done)] {
            if (done) done(**summary);
        });
    return CarveStart::Started;
}

bool CarveJob::StartSave(std::vector<std::size_t> indices, std::string outputFolder,
                         std::function<void(const CarveSaveReport&)> done) {
    if (RefuseWhileBusy()) return false;
    if (indices.empty()) {
        prompter_.Inform(Event(Step::NothingSelected));
        return false;
    }
    if (outputFolder.empty()) {
        prompter_.Inform(Event(Step::NoOutputFolder));
        return false;
    }
    if (!session_.reader) {
        prompter_.Inform(Event(Step::ReaderMissing));
        return false;
    }
    std::vector<CarvedItem> items;
    {
        std::lock_guard lock(itemsMutex_);
        for (std::size_t i : indices)
            if (i < items_.size()) items.push_back(items_[i]);
    }
    auto report = std::make_shared<CarveSaveReport>();
    const std::size_t asked = items.size();
    worker_.Start([this, report, items = std::move(items),
                   outputFolder = std::move(outputFolder)] { *report = RunSave(items, outputFolder); },
                  [this, report, asked](const std::string& failure) {
                      Failed(failure);
                      report->failed = asked;  // how far it got is not known
                      report->errors.push_back("the save failed: " + failure);
                  },
                  [report, done = std::move(done)] {
                      if (done) done(*report);
                  });
    return true;
}

CarveSaveReport CarveJob::RunSave(const std::vector<CarvedItem>& items, const std::string& outputFolder) {
    CarveSaveReport report;
    OutputWriter writer(outputFolder);
    if (!session_.SourcePath().empty()) writer.RefuseSource(session_.SourcePath());
    if (auto problem = writer.Problem()) {
        prompter_.Inform(Event(Step::OutputRefused).Detail(*problem));
        report.failed = items.size();
        report.errors.push_back(*problem);
        return report;
    }
    const VolumeView reader = ViewOf(*session_.reader, session_.selectedVolume);
    const auto base = static_cast<std::int64_t>(reader.offset());
    writer.SetStop(&worker_.Control());
    CarveOutput output(writer);
    progress_.SetRange(0, static_cast<std::int64_t>(items.size()));
    progress_.Report(Event(Step::CarveSaving));
    for (const CarvedItem& item : items) {
        if (!worker_.Control().Checkpoint()) {
            report.stopped = true;
            break;
        }
        output.Write(reader, item, base + item.start);
        ++report.files;
        progress_.SetPosition(static_cast<std::int64_t>(report.files));
    }
    report.written = writer.FilesWritten();
    report.failed = writer.FilesFailed();
    report.errors = writer.Errors();

    Event end(Step::CarveSaveEnded, static_cast<std::int64_t>(report.written), static_cast<std::int64_t>(items.size()));
    end.failed = static_cast<std::int64_t>(report.failed);
    end.Name(outputFolder).Lines(report.errors).Stopped(report.stopped);
    prompter_.Inform(end);
    progress_.Report(end);
    return report;
}

void CarveJob::Pause() {
    if (worker_.Pause()) progress_.Report(Event(Step::Paused));
}

void CarveJob::Resume() {
    worker_.Resume();
    if (worker_.Busy()) progress_.Report(Event(Step::Resumed));
}

void CarveJob::Stop() {
    // A raised flag would cut the next run short.
    if (worker_.Stop()) progress_.Report(Event(Step::CarveStopAsked));
}

void CarveJob::Wait() { worker_.Wait(); }

// No exception leaves the worker: it ends this run with an error, never the program.
void CarveJob::Failed(const std::string& failure) { prompter_.Inform(Event(Step::CarveFailed).Detail(failure)); }

std::vector<CarvedItem> CarveJob::Items() const {
    std::lock_guard lock(itemsMutex_);
    return items_;
}

CarvedItem CarveJob::Item(std::size_t index) const {
    std::lock_guard lock(itemsMutex_);
    return index < items_.size() ? items_[index] : CarvedItem{};
}

}  // namespace tarnwell
