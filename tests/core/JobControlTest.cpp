#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/JobControl.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {
namespace {

using namespace std::chrono_literals;

TEST(JobControl, PausedWorkerWaitsAtItsCheckpointUntilResumed) {
    JobControl control;
    std::atomic<int> steps{0};
    control.Pause();
    std::thread worker([&] {
        while (control.Checkpoint() && steps < 1000) ++steps;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(steps.load(), 0) << "no step while paused";
    control.Resume();
    worker.join();
    EXPECT_EQ(steps.load(), 1000);
}

TEST(JobControl, StopReleasesAPausedWorker) {
    JobControl control;
    control.Pause();
    std::atomic<bool> result{true};
    std::thread worker([&] { result = control.Checkpoint(); });
    std::this_thread::sleep_for(20ms);
    control.RequestStop();
    worker.join();
    EXPECT_FALSE(result.load());
    EXPECT_TRUE(control.StopRequested());
    control.Reset();
    EXPECT_TRUE(control.Checkpoint());
}

TEST(VolumeEntry, SizeComesFromTheLeadingNumberOrTheExactExtent) {
    VolumeEntry v;
    v.sizeText = "100  MB";
    EXPECT_EQ(v.SizeMiB(), 100);
    EXPECT_EQ(v.SizeBytes(), 100ULL << 20);
    v.sectorCount = 204801;
    EXPECT_EQ(v.SizeBytes(), 204801ULL * 512) << "the exact extent wins over whole MiB";
    v = {};
    v.sizeText = "MB";
    EXPECT_EQ(v.SizeMiB(), 0);
    v.sizeText = "99999999999999999999999  MB";
    EXPECT_GT(v.SizeMiB(), 0) << "an absurd text must not overflow";
}

}  // namespace
}  // namespace tarnwell
