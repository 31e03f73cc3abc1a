// The one worker of the scan and carve jobs: every run ends, whatever it
// throws, with the page told; Pause holds a run and Stop ends it; neither
// does anything while idle, so a later run is never cut short.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>
#include <algorithm>

#include "device/DdrescueMap.h"
#include "device/MemoryReader.h"
#include "scan/CarveJob.h"
#include "scan/Worker.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

using namespace std::chrono_literals;

TEST(Worker, ARunThatThrowsStillEndsAndSaysWhy) {
    struct Case {
        const char* what;
        std::function<void()> raise;
        std::string told;
    };
    const Case cases[] = {
        {"out of memory", [] { throw std::bad_alloc(); }, "not enough memory"},
        {"an error", [] { throw std::runtime_error("bad table"); }, "bad table"},
        {"not an exception class", [] { throw 7; }, "an unknown error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Worker worker;
        std::string failure;
        std::atomic<bool> busyAtDone{true};
        int done = 0;
        worker.Start(c.raise, [&](const std::string& why) { failure = why; },
                     [&] {
                         busyAtDone = worker.Busy();
                         ++done;
                     });
        worker.Wait();
        EXPECT_EQ(failure, c.told);
        EXPECT_EQ(done, 1);
        EXPECT_FALSE(busyAtDone) << "done runs once the worker takes new runs";
    }
}

TEST(Worker, PauseHoldsARunAndStopEndsIt) {
    Worker worker;
    std::atomic<int> checkpoints{0};
    std::atomic<bool> release{false};
    std::atomic<bool> stoppedSeen{false};
    worker.Start([&] {
        while (!release) std::this_thread::sleep_for(1ms);
        while (worker.Control().Checkpoint()) {
            ++checkpoints;
            std::this_thread::sleep_for(1ms);
        }
        stoppedSeen = worker.Control().StopRequested();
    });
    ASSERT_TRUE(worker.Pause());
    release = true;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(checkpoints.load(), 0) << "a paused run waits at its checkpoint";
    worker.Resume();
    while (checkpoints.load() == 0) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(worker.Stop());
    worker.Wait();
    EXPECT_TRUE(stoppedSeen);
    EXPECT_FALSE(worker.Busy());
    EXPECT_FALSE(worker.Control().StopRequested()) << "the flags are cleared for the next run";
    EXPECT_FALSE(worker.Control().Paused());
}

TEST(Worker, PauseAndStopWhileIdleRaiseNothing) {
    Worker worker;
    EXPECT_FALSE(worker.Pause());
    EXPECT_FALSE(worker.Stop());
    bool ranWhole = false;
    worker.Start([&] { ranWhole = worker.Control().Checkpoint(); });
    worker.Wait();
    EXPECT_TRUE(ranWhole) << "an earlier Stop or Pause cut this run short";
    // A worker that starts busy refuses until its first run has ended.
    Worker first(true);
    EXPECT_TRUE(first.Busy());
    first.Start([] {});
    first.Wait();
    EXPECT_FALSE(first.Busy());
}

// A source that fails as no disk should: by throwing from every read.
class ThrowingReader final : public ReaderDecorator {
public:
    using ReaderDecorator::ReaderDecorator;

protected:
    RawResult ReadRaw(std::uint64_t, void*, std::size_t) override { throw std::runtime_error("the device went away"); }
};

// A source with one PDF in it, at sector 0.
std::vector<std::uint8_t> OneDocument() {
    std::string text = "%PDF-1.4\n" + std::string(3000, 'x') + "\n%%EOF\n";
    std::vector<std::uint8_t> bytes(1 << 16, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

// The raw recovery page waits for done to give its buttons back: a carve or
// a save that throws must still call it, once, and say why.
TEST(CarveJobEnd, AFailedRunOrSaveStillEnds) {
    ScanSession session;
    session.reader = std::make_unique<MemoryReader>(OneDocument());
    session.selectedVolume.fileSystem = "FAT32";
    session.selectedVolume.sectorCount = (1 << 16) / 512;
    RecordingPrompter prompter;
    NullProgress progress;
    CarveJob job(session, progress, prompter);
    ASSERT_TRUE(job.LoadDefaults(""));
    ASSERT_EQ(job.StartRun({}, {}), CarveStart::Started);
    job.Wait();
    ASSERT_FALSE(job.Items().empty()) << "the document was not carved";

    session.reader = std::make_unique<ThrowingReader>(std::make_unique<MemoryReader>(OneDocument()));
    int runsEnded = 0;
    ASSERT_EQ(job.StartRun({}, [&](const CarveSummary&) { ++runsEnded; }), CarveStart::Started);
    job.Wait();
    EXPECT_EQ(runsEnded, 1);
    EXPECT_FALSE(job.Busy());
    ASSERT_FALSE(prompter.informed.empty());
    EXPECT_EQ(prompter.informed.back().step, Step::CarveFailed);
    EXPECT_EQ(prompter.informed.back().detail, "the device went away");

    test::TempDir out;
    std::vector<CarveSaveReport> saves;
    ASSERT_TRUE(job.StartSave({0}, out.path().string(), [&](const CarveSaveReport& r) { saves.push_back(r); }));
    job.Wait();
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].failed, 1u);
    ASSERT_FALSE(saves[0].errors.empty());
    EXPECT_EQ(saves[0].errors.back(), "the save failed: the device went away");
    EXPECT_FALSE(job.Busy());
}

}  // namespace
}  // namespace tarnwell
