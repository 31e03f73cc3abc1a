#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <map>

#include "device/FileReader.h"
#include "scan/ScanJob.h"
#include "support/ImageListing.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

// The scan job over the bundled card, as the results page runs it.
class CardJob : public ::testing::Test {
protected:
    void SetUp() override {
        card = test::ImagePath("sample-card");
        if (card.empty()) GTEST_SKIP();
        session.ResetReader();
        ASSERT_TRUE(session.OpenReader(card));
        session.devicePath = card;
        session.selectedVolume.fileSystem = "FAT32";
        session.selectedVolume.sectorCount = session.deviceSectorCount;
        session.selectedVolume.sizeText = "64  MB";
    }
    std::map<std::string, test::Listed> ScanAndList(bool pauseFirst) {
        ScanJob job(session, progress, prompter);
        if (pauseFirst) {
            // Paused before its first checkpoint, then let go: the same result.
            EXPECT_TRUE(job.Start());
            job.Pause();
            job.Resume();
        } else {
            EXPECT_TRUE(job.Start());
        }
        job.Wait();
        EXPECT_EQ(job.Outcome(), ScanOutcome::Completed);
        return test::ListParser(*job.Parser());
    }
    std::string card;
    ScanSession session;
    RecordingPrompter prompter;
    NullProgress progress;
};

TEST_F(CardJob, PauseAndResumeGiveTheSameRowsAsAPlainRun) {
    test::UnchangedGuard unchanged(card);
    auto plain = ScanAndList(false);
    auto paused = ScanAndList(true);
    ASSERT_EQ(plain.size(), 12u);
    ASSERT_EQ(paused.size(), plain.size());
    for (const auto& [path, row] : plain) {
        ASSERT_TRUE(paused.count(path)) << path;
        EXPECT_EQ(paused.at(path).deleted, row.deleted) << path;
    }
}

TEST_F(CardJob, FolderSaveWritesTheTreeBelowTheFolderAfterTheCount) {
    test::UnchangedGuard unchanged(card);
    ScanJob job(session, progress, prompter);
    ASSERT_TRUE(job.Start());
    job.Wait();
    auto rows = test::ListParser(*job.Parser());
    test::TempDir out;
    SaveRequest request;
    request.outputFolder = out.path().string();
    request.folder = rows.at("DCIM").row;
    SaveReport report;
    ASSERT_TRUE(job.StartSave(request, [&](const SaveReport& r) { report = r; }));
    job.Wait();
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].step, Step::SaveConfirm);
    EXPECT_EQ(prompter.asked[0].count, 8);
    EXPECT_EQ(report.written, 8u);
    EXPECT_EQ(report.failed, 0u);
    EXPECT_TRUE(fs::exists(out / "100CANON/IMG_0001.JPG")) << "below the folder, not in a folder of its name";
    EXPECT_TRUE(fs::exists(out / "100CANON/_MG_0003.JPG")) << "deleted ones too";
    EXPECT_FALSE(fs::exists(out / "DCIM"));
    EXPECT_EQ(fs::file_size(out / "100CANON/IMG_0004.JPG"), 15454u);
    ASSERT_EQ(prompter.Count(Step::SaveEnded), 1);
    EXPECT_EQ(OutcomeOf(prompter.informed.back()), Outcome::Done);
}

}  // namespace
}  // namespace tarnwell
