#pragma once
// The engine of the results page: picks the parser for the chosen volume and
// mode, runs its scan on a worker thread with Pause, Resume and Stop, runs the
// completion steps once, and afterwards serves saving and searching, each on a
// worker of its own. The GUI page and the CLI only start jobs and show what
// they report.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "core/Prompter.h"
#include "fs/FileSystemParser.h"
#include "scan/NameSearch.h"
#include "scan/SaveFlow.h"
#include "scan/ScanDispatch.h"
#include "scan/ScanSession.h"
#include "scan/Worker.h"

namespace tarnwell {

enum class ScanOutcome {
    NotStarted,  // no parser or no worker for this volume and mode
    Running,
    Refused,     // the parser did not accept the volume (it said why)
    Completed,
    Stopped,     // Stop was pressed; everything found so far is kept
    Aborted,     // the parse failed after it began (HFS+, or a parser's exception)
};

using ParserMaker = std::function<std::unique_ptr<FileSystemParser>(const std::string& name, ParserLinks links)>;

class ScanJob {
public:
    // The session supplies the reader, the selected volume, the mode and the
    // formatted tick; it must outlive the job.
    ScanJob(ScanSession& session, ProgressSink& progress, Prompter& prompter);
    ~ScanJob();
    ScanJob(const ScanJob&) = delete;
    ScanJob& operator=(const ScanJob&) = delete;

    // For tests: another source of parsers than the factory.
    void SetParserMaker(ParserMaker maker) { maker_ = std::move(maker); }

    // Dispatches and starts the scan worker. False when none started; the user
    // has been told why.
    bool Start();
    void Pause();
    void Resume();
    // Raises the flags; the worker ends at its next check and keeps what it found.
    void Stop();
    // Waits for the running worker (scan, save or search) to end.
    void Wait();

    // A scan, save or search is running: Save and Search are refused meanwhile.
    bool WorkerBusy() const { return worker_.Busy(); }
    bool StopRequested() const { return worker_.Control().StopRequested(); }
    ScanOutcome Outcome() const { return outcome_.load(); }
    const DispatchRow& Row() const { return row_; }
    FileSystemParser* Parser() { return parser_.get(); }

    // Starts saving on a worker; done gets the report. False when refused.
    bool StartSave(SaveRequest request, std::function<void(const SaveReport&)> done = {});
    // Starts a search on a worker; onHit for each hit, done at the end.
    bool StartSearch(std::string pattern, std::function<void(const SearchHit&)> onHit,
                     std::function<void(SearchEnd)> done = {});
    // Writes one file now (the double click of the results tree).
    ExtractStatus SaveFile(RowId row, const std::string& outputFolder);

    // Called on the worker when the scan's completion steps are done.
    std::function<void(ScanOutcome)> onScanFinished;

private:
    bool RefuseWhileBusy();
    void RunScan();

    ScanSession& session_;
    ProgressSink& progress_;
    Prompter& prompter_;
    ParserMaker maker_;
    DispatchRow row_;
    std::unique_ptr<FileSystemParser> parser_;
    std::atomic<ScanOutcome> outcome_{ScanOutcome::NotStarted};
    Worker worker_{true};  // busy until the scan's completion steps are done
};

}  // namespace tarnwell
