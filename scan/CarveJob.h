#pragma once
// The engine of the raw recovery page: loads signature lists into a carving
// engine, carves the selected volume on a worker with Pause, Resume and Stop,
// keeps every file found by every run, and writes the chosen ones out on a
// worker too. The page only shows and asks.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "carve/CarveOutput.h"
#include "carve/Carver.h"
#include "core/JobControl.h"
#include "core/ProgressSink.h"
#include "core/Prompter.h"
#include "scan/ScanSession.h"
#include "scan/Worker.h"

namespace tarnwell {

enum class CarveStart { Started, Busy, NoEngine, NoTypes, ZeroSize, NoSource };

struct CarveSaveReport {
    std::uint64_t files = 0;
    std::uint64_t written = 0;
    std::uint64_t failed = 0;
    bool stopped = false;
    std::vector<std::string> errors;
};

class CarveJob {
public:
    // The session supplies the reader and the selected volume; it must outlive the job.
    CarveJob(ScanSession& session, ProgressSink& progress, Prompter& prompter);
    ~CarveJob();
    CarveJob(const CarveJob&) = delete;
    CarveJob& operator=(const CarveJob&) = delete;

    // Loads are refused while a worker runs.
    // A new engine with the default list: the file at path when it can be
    // read, else the built-in list. False (the user told) when the list is not
    // valid; the new engine stays, without types.
    bool LoadDefaults(const std::string& path);
    // The user's list, into the current engine (made when there is none).
    // False, the user told, when it cannot be opened or is not valid.
    bool LoadFile(const std::string& path);
    const Carver* Engine() const { return engine_.get(); }

    // Carves the selected volume on a worker. onFound runs on the worker for
    // each file with its position in Items(); done runs there at the end.
    // Anything but Started has been explained to the user.
    CarveStart StartRun(std::function<void(std::size_t, const CarvedItem&)> onFound,
                        std::function<void(const CarveSummary&)> done);
    // Writes the items at these positions into per-category folders below
    // outputFolder, on a worker. False when refused (the user told why).
    bool StartSave(std::vector<std::size_t> items, std::string outputFolder,
                   std::function<void(const CarveSaveReport&)> done = {});

    void Pause();
    void Resume();
    void Stop();
    void Wait();
    bool Busy() const { return worker_.Busy(); }

    // Every file found by every run of this job, in the order found.
    std::vector<CarvedItem> Items() const;
    CarvedItem Item(std::size_t index) const;

private:
    bool RefuseWhileBusy();
    void Failed(const std::string& failure);
    CarveSaveReport RunSave(const std::vector<CarvedItem>& items, const std::string& outputFolder);

    ScanSession& session_;
    ProgressSink& progress_;
    Prompter& prompter_;
    std::unique_ptr<Carver> engine_;  // replaced only while no worker runs
    mutable std::mutex itemsMutex_;
    std::vector<CarvedItem> items_;
    Worker worker_;
};

}  // namespace tarnwell
