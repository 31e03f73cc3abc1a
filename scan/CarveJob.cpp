#include "scan/CarveJob.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "carve/DefaultSignatures.h"

namespace tarnwell {

namespace {
const char* const kBusy = "Please wait for other process to complete";
const char* const kDone = "Scanning processing done.Select save button to save the data..";
// A stopped run found only what lies before the point it reached.
const char* const kStopped =
    "Scanning stopped before the end. Only what was found until then is listed; select save button to save it.";

std::string Joined(const std::vector<std::string>& lines, std::size_t most) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < most; ++i) text += "\n" + lines[i];
    if (lines.size() > most) text += "\n...";
    return text;
}
}  // namespace

CarveJob::CarveJob(ScanSession& session, ProgressSink& progress, Prompter& prompter)
    : session_(session), progress_(progress), prompter_(prompter) {}

CarveJob::~CarveJob() {
    Stop();
    Wait();
}

bool CarveJob::RefuseWhileBusy() {
    if (!worker_.Busy()) return false;
    prompter_.Inform(kBusy);
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
        prompter_.Inform(list.error);
        return false;
    }
    auto refused = list.refused;
    auto more = engine_->AddSignatures(list.records);
    refused.insert(refused.end(), more.begin(), more.end());
    if (!refused.empty()) prompter_.Inform("Some signature types were left out:" + Joined(refused, 8));
    return true;
}

bool CarveJob::LoadFile(const std::string& path) {
    if (RefuseWhileBusy()) return false;
    SignatureFile list = ReadSignatureFile(path);
    if (!list.error.empty()) {
        prompter_.Inform(list.error);
        return false;
    }
    if (!engine_) engine_ = std::make_unique<Carver>();
    auto refused = list.refused;
    auto more = engine_->AddSignatures(list.records);
    refused.insert(refused.end(), more.begin(), more.end());
    if (!refused.empty()) prompter_.Inform("Some signature types were left out:" + Joined(refused, 8));
    return true;
}

CarveStart CarveJob::StartRun(std::function<void(std::size_t, const CarvedItem&)> onFound,
                              std::function<void(const CarveSummary&)> done) {
    if (RefuseWhileBusy()) return CarveStart::Busy;
    if (!engine_) {
        prompter_.Inform("enter the info file first..");
        return CarveStart::NoEngine;
    }
    if (engine_->Settings().empty()) {
        // Carving without a single type would read the whole volume for nothing.
        prompter_.Inform("No file types are loaded, so there is nothing to look for. "
                         "Tick \"Load Default Items\" or choose a valid settings file.");
        return CarveStart::NoTypes;
    }
    const VolumeEntry& volume = session_.selectedVolume;
    std::uint64_t volumeBytes = volume.SizeBytes();
    if (volumeBytes == 0) {
        prompter_.Inform("zero size volume..");
        return CarveStart::ZeroSize;
    }
    if ((!session_.reader || session_.reader->fileLength() == 0) && !session_.SourcePath().empty())
        session_.OpenReader(session_.SourcePath());
    if (!session_.reader || session_.reader->fileLength() == 0) {
        prompter_.Inform("The drive could not be opened for reading, so nothing can be recovered from it. "
                         "Go Back and choose the drive again.");
        return CarveStart::NoSource;
    }
    SectorReader& reader = *session_.reader;
    const std::uint64_t base = static_cast<std::uint64_t>(volume.startSector) * kSectorSize;
    reader.SetBaseOffset(static_cast<std::int64_t>(base));
    // A volume reaching past the source's end is scanned to the source's end.
    if (reader.fileLength() > base) volumeBytes = std::min(volumeBytes, reader.fileLength() - base);

    Carver* engine = engine_.get();
    auto summary = std::make_shared<std::optional<CarveSummary>>();
    auto work = [this, engine, &reader, volumeBytes, summary, onFound = std::move(onFound)] {
        progress_.SetStatus("Processing.....");
        engine->CarveVolume(reader, volumeBytes, progress_, &worker_.Control(), [&](const FoundFile& f) {
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
        prompter_.Inform(ended.stopped ? kStopped : kDone);
        if (ended.unreadableSectors > 0) {
            char text[160];
            std::snprintf(text, sizeof text, "%llu sectors could not be read; they were taken as zeros.",
                          static_cast<unsigned long long>(ended.unreadableSectors));
            prompter_.Inform(text);
        }
        progress_.SetStatus(ended.stopped ? "Processing stopped" : "Processing done");
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
        prompter_.Inform("Please Select item from tree to save");
        return false;
    }
    if (outputFolder.empty()) {
        prompter_.Inform("select output folder");
        return false;
    }
    if (!session_.reader) {
        prompter_.Inform("Please Restart the program to re begin necessary initialization...");
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
        prompter_.Inform(*problem);
        report.failed = items.size();
        report.errors.push_back(*problem);
        return report;
    }
    SectorReader& reader = *session_.reader;
    const std::int64_t base = session_.selectedVolume.startSector * static_cast<std::int64_t>(kSectorSize);
    reader.SetBaseOffset(base);
    writer.SetStop(&worker_.Control());
    CarveOutput output(writer);
    progress_.SetRange(0, static_cast<std::int64_t>(items.size()));
    progress_.SetStatus("Saving files.....");
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

    char text[200];
    // "work done" only for a save that wrote every file it was asked for.
    const char* lead = report.stopped ? "Saving stopped" : report.failed > 0 ? "Saving ended" : "work done";
    std::snprintf(text, sizeof text, "%s: %llu of %llu files written into %s", lead,
                  static_cast<unsigned long long>(report.written), static_cast<unsigned long long>(items.size()),
                  outputFolder.c_str());
    std::string message = text;
    if (report.failed > 0)
        message += "\n" + std::to_string(report.failed) + " could not be written:" + Joined(report.errors, 8);
    if (report.stopped) message += "\nStopped before the rest were written.";
    prompter_.Inform(message);
    progress_.SetStatus(report.failed > 0 ? "Saving done, with files not written" : "Saving done");
    return report;
}

void CarveJob::Pause() {
    if (worker_.Pause()) progress_.SetStatus("Pause button pressed");
}

void CarveJob::Resume() {
    worker_.Resume();
    if (worker_.Busy()) progress_.SetStatus("Resume button pressed");
}

void CarveJob::Stop() {
    // A raised flag would cut the next run short.
    if (worker_.Stop()) progress_.SetStatus("Stop button pressed.Please wait for the process to stop");
}

void CarveJob::Wait() { worker_.Wait(); }

// No exception leaves the worker: it ends this run with an error, never the program.
void CarveJob::Failed(const std::string& failure) { prompter_.Inform("The carve failed: " + failure + "."); }

std::vector<CarvedItem> CarveJob::Items() const {
    std::lock_guard lock(itemsMutex_);
    return items_;
}

CarvedItem CarveJob::Item(std::size_t index) const {
    std::lock_guard lock(itemsMutex_);
    return index < items_.size() ? items_[index] : CarvedItem{};
}

}  // namespace tarnwell
