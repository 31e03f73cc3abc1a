#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <thread>

#include "device/MemoryReader.h"
#include "scan/ScanJob.h"
#include "support/FakeParser.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(ScanDispatch, PicksTheParserByNameAndMode) {
    struct Case {
        const char* name;
        RecoveryMode mode;
        ParserKind kind;
        bool worker;
    };
    const Case cases[] = {
        {"NTFS", RecoveryMode::Standard, ParserKind::Ntfs, true},
        {"ntfs", RecoveryMode::Deep, ParserKind::Ntfs, true},
        {"FAT32", RecoveryMode::Standard, ParserKind::Fat32, true},
        {"Fat32", RecoveryMode::Deep, ParserKind::Fat32, false},
        {"FAT16", RecoveryMode::Standard, ParserKind::Fat16, true},
        {"FAT", RecoveryMode::Standard, ParserKind::Fat16, true},
        {"FAT12", RecoveryMode::Standard, ParserKind::Fat16, true},
        {"ext4", RecoveryMode::Standard, ParserKind::Ext, true},
        {"EXT3", RecoveryMode::Deep, ParserKind::Ext, false},
        {"ext2", RecoveryMode::Advanced, ParserKind::Ext, false},
        {"ext", RecoveryMode::Standard, ParserKind::Ext, true},
        {"exfat", RecoveryMode::Standard, ParserKind::ExFat, true},
        {"exFAT", RecoveryMode::Standard, ParserKind::ExFat, true},
        {"HFS+", RecoveryMode::Standard, ParserKind::HfsPlus, true},
        {"hfs+", RecoveryMode::Deep, ParserKind::HfsPlus, true},
        {"HFSX", RecoveryMode::Standard, ParserKind::HfsPlus, true},
        {"hfsplus", RecoveryMode::Standard, ParserKind::HfsPlus, true},
        {"HFS+", RecoveryMode::Advanced, ParserKind::HfsPlus, true},
        {"FAT32", RecoveryMode::Advanced, ParserKind::Fat32, true},
        {"FAT12", RecoveryMode::Advanced, ParserKind::Fat16, true},
        {"NTFS", RecoveryMode::Advanced, ParserKind::Ntfs, true},
        {"exFAT", RecoveryMode::Advanced, ParserKind::ExFat, true},
        {"exFAT", RecoveryMode::Deep, ParserKind::ExFat, false},
        // the names of another tool for these are no names of ours
        {"FAT64", RecoveryMode::Standard, ParserKind::None, false},
        {"extX", RecoveryMode::Standard, ParserKind::None, false},
        {"unknown", RecoveryMode::Standard, ParserKind::None, false},
        {"Unknown", RecoveryMode::Standard, ParserKind::None, false},
        {"", RecoveryMode::Standard, ParserKind::None, false},
        {"Basic data partition", RecoveryMode::Standard, ParserKind::None, false},
    };
    for (const auto& c : cases) {
        DispatchRow row = Dispatch(c.name, c.mode);
        EXPECT_EQ(row.kind, c.kind) << c.name;
        EXPECT_EQ(row.startsWorker, c.worker) << c.name << " mode " << static_cast<int>(c.mode);
    }
}

// A session over an in-memory source with a fake parser of planned rows.
class ScanJobTest : public ::testing::Test {
protected:
    ScanSession session;
    RecordingPrompter prompter;
    NullProgress progress;
    test::FakeParser* fake = nullptr;
    std::function<void(test::FakeParser&)> plan = [](test::FakeParser& p) {
        RowId dcim = p.Add(0, "DCIM", true);
        RowId canon = p.Add(dcim, "100CANON", true);
        p.Add(canon, "IMG_0001.JPG", false, "jpeg one");
        p.Add(canon, "IMG_0002.JPG", false, "jpeg two", true);
        p.Add(canon, "dcim.jpg", false, "lower");
        RowId empty = p.Add(dcim, "EMPTY", true);
        (void)empty;
        p.Add(0, "notes.txt", false, "notes");
        p.Add(0, "logo.PNG", false, "png");
        p.Add(0, "LOST", true);  // a top-level folder with no children is matched like a file
    };

    void SetUp() override {
        session.reader = std::make_unique<MemoryReader>(std::vector<std::uint8_t>(4096));
        session.selectedVolume.fileSystem = "FAT32";
        session.selectedVolume.sizeText = "1  MB";
    }

    std::unique_ptr<ScanJob> MakeJob() {
        auto job = std::make_unique<ScanJob>(session, progress, prompter);
        job->SetParserMaker([this](const std::string&, ParserLinks links) {
            auto p = std::make_unique<test::FakeParser>(std::move(links));
            plan(*p);
            fake = p.get();
            return p;
        });
        return job;
    }

    int Count(Step step) const { return prompter.Count(step); }
};

TEST_F(ScanJobTest, ANameOfNoKindIsNotAValidDrive) {
    for (const char* name : {"unknown", ""}) {
        session.selectedVolume.fileSystem = name;
        prompter.informed.clear();
        auto job = MakeJob();
        EXPECT_FALSE(job->Start());
        EXPECT_EQ(Count(Step::VolumeNotReadable), 1);
        EXPECT_TRUE(job->WorkerBusy()) << "Save and Search stay refused";
        EXPECT_FALSE(job->StartSearch("x", {}));
        EXPECT_EQ(Count(Step::Busy), 1);
        EXPECT_EQ(job->Outcome(), ScanOutcome::NotStarted);
    }
}

TEST_F(ScanJobTest, NoReaderAsksForARestart) {
    session.reader.reset();
    auto job = MakeJob();
    EXPECT_FALSE(job->Start());
    EXPECT_EQ(Count(Step::ReaderMissing), 1);
}

TEST_F(ScanJobTest, CompletionStepsRunOnce) {
    auto job = MakeJob();
    std::atomic<int> finished{0};
    job->onScanFinished = [&](ScanOutcome) { ++finished; };
    ASSERT_TRUE(job->Start());
    job->Wait();
    EXPECT_EQ(job->Outcome(), ScanOutcome::Completed);
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(Count(Step::ScanFinished), 1);
    EXPECT_EQ(fake->recyclePasses.load(), 1);
    EXPECT_FALSE(job->WorkerBusy());
    EXPECT_EQ(job->Parser()->RowCount(), 10u);
}

// A parser that throws where it is told to, as one over a damaged volume might
// when a size taken from disk asks for more memory than there is.
class ThrowingParser final : public test::FakeParser {
public:
    enum class Where { Scan, Recycle, Extract };
    ThrowingParser(ParserLinks links, Where where, std::function<void()> raise)
        : FakeParser(std::move(links)), where_(where), raise_(std::move(raise)) {}
    bool Scan(RecoveryMode mode) override {
        if (where_ == Where::Scan) raise_();
        return FakeParser::Scan(mode);
    }
    void RecoverRecycleBinNames() override {
        if (where_ == Where::Recycle) raise_();
    }
    ExtractStatus ExtractData(RowId row, FileSink& sink) override {
        if (where_ == Where::Extract) raise_();
        return FakeParser::ExtractData(row, sink);
    }

private:
    Where where_;
    std::function<void()> raise_;
};

TEST_F(ScanJobTest, AnExceptionInAJobIsItsErrorOutcome) {
    using Where = ThrowingParser::Where;
    struct Case {
        const char* what;
        Where where;
        std::function<void()> raise;
        Step told;           // what the user is told
        const char* detail;  // and why
    };
    const Case cases[] = {
        {"scan out of memory", Where::Scan, [] { throw std::bad_alloc(); }, Step::ScanFailed, "not enough memory"},
        {"scan error", Where::Scan, [] { throw std::runtime_error("bad table"); }, Step::ScanFailed, "bad table"},
        {"completion step", Where::Recycle, [] { throw std::length_error("vector"); }, Step::ScanFailed, "vector"},
        {"not an exception class", Where::Scan, [] { throw 7; }, Step::ScanFailed, "an unknown error"},
        {"save", Where::Extract, [] { throw std::bad_alloc(); }, Step::SaveFailed, "not enough memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompter.informed.clear();
        test::TempDir out;
        auto job = std::make_unique<ScanJob>(session, progress, prompter);
        job->SetParserMaker([&](const std::string&, ParserLinks links) {
            auto p = std::make_unique<ThrowingParser>(std::move(links), c.where, c.raise);
            plan(*p);
            return p;
        });
        std::atomic<int> finished{0};
        job->onScanFinished = [&](ScanOutcome) { ++finished; };
        ASSERT_TRUE(job->Start());
        job->Wait();
        EXPECT_EQ(finished.load(), 1);
        EXPECT_FALSE(job->WorkerBusy());
        if (c.where != Where::Extract) {
            EXPECT_EQ(job->Outcome(), ScanOutcome::Aborted);
        } else {
            ASSERT_EQ(job->Outcome(), ScanOutcome::Completed);
            SaveRequest request;
            request.outputFolder = out.path().string();
            request.folder = 1;  // DCIM
            std::optional<SaveReport> report;
            ASSERT_TRUE(job->StartSave(request, [&](const SaveReport& r) { report = r; }));
            job->Wait();
            ASSERT_TRUE(report.has_value()) << "the save's report was never given";
            EXPECT_FALSE(report->errors.empty());
            EXPECT_FALSE(job->WorkerBusy());
        }
        bool told = std::any_of(prompter.informed.begin(), prompter.informed.end(),
                                [&](const Event& e) { return e.step == c.told && e.detail == c.detail; });
        EXPECT_TRUE(told) << "expected step " << int(c.told) << " with \"" << c.detail << "\"";
    }
}

TEST_F(ScanJobTest, ARefusedVolumeOnlyClearsTheFlags) {
    auto job = MakeJob();
    job->SetParserMaker([this](const std::string&, ParserLinks links) {
        auto p = std::make_unique<test::FakeParser>(std::move(links));
        p->acceptVolume = false;
        return p;
    });
    ASSERT_TRUE(job->Start());
    job->Wait();
    EXPECT_EQ(job->Outcome(), ScanOutcome::Refused);
    EXPECT_EQ(Count(Step::NotThisFileSystem), 1);
    EXPECT_EQ(Count(Step::ScanFinished), 0);
    EXPECT_FALSE(job->WorkerBusy());
}

TEST_F(ScanJobTest, StopKeepsWhatWasFoundAndStillCompletes) {
    plan = [](test::FakeParser& p) {
        for (int i = 0; i < 2000; ++i) p.Add(0, "f" + std::to_string(i), false, "x");
        p.delayPerRow = 200us;
    };
    auto job = MakeJob();
    ASSERT_TRUE(job->Start());
    while (fake->visible.load() < 20) std::this_thread::sleep_for(1ms);
    job->Stop();
    job->Wait();
    EXPECT_EQ(job->Outcome(), ScanOutcome::Stopped);
    std::uint64_t kept = job->Parser()->RowCount();
    EXPECT_GE(kept, 20u);
    EXPECT_LT(kept, 2001u);
    EXPECT_EQ(Count(Step::ScanFinished), 0) << "a stop is no finish";
    EXPECT_EQ(Count(Step::ScanStopped),
              1);
    EXPECT_FALSE(job->StopRequested()) << "the completion steps clear Stop";
    // What was found can be browsed and saved.
    std::uint64_t listed = 0;
    for (RowId r = job->Parser()->FirstChild(0); r != kNoRow; r = job->Parser()->NextSibling(r)) ++listed;
    EXPECT_EQ(listed, kept - 1);
}

TEST_F(ScanJobTest, PauseThenResumeGivesTheSameResult) {
    plan = [](test::FakeParser& p) {
        for (int i = 0; i < 300; ++i) p.Add(0, "f" + std::to_string(i), false, "x");
        p.delayPerRow = 100us;
    };
    auto job = MakeJob();
    ASSERT_TRUE(job->Start());
    job->Pause();
    std::this_thread::sleep_for(20ms);
    std::uint64_t atPause = fake->visible.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(fake->visible.load(), atPause) << "no progress while paused";
    EXPECT_TRUE(job->WorkerBusy());
    job->Resume();
    job->Wait();
    EXPECT_EQ(job->Outcome(), ScanOutcome::Completed);
    EXPECT_EQ(job->Parser()->RowCount(), 301u);
}

class ResultsTest : public ScanJobTest {
protected:
    std::unique_ptr<ScanJob> job;
    test::TempDir out;
    void SetUp() override {
        ScanJobTest::SetUp();
        job = MakeJob();
        ASSERT_TRUE(job->Start());
        job->Wait();
        prompter.informed.clear();
    }
    std::vector<std::string> Tree() const {
        std::vector<std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(out.path()))
            files.push_back(fs::relative(e.path(), out.path()).string() + (e.is_directory() ? "/" : ""));
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(ResultsTest, FolderSaveAsksWithTheCountAndWritesTheTreeBelowTheFolder) {
    SaveRequest request;
    request.outputFolder = out.path().string();
    request.folder = 1;  // DCIM
    SaveReport report;
    ASSERT_TRUE(job->StartSave(request, [&](const SaveReport& r) { report = r; }));
    job->Wait();
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].step, Step::SaveConfirm);
    EXPECT_EQ(prompter.asked[0].count, 3);
    EXPECT_TRUE(report.ran);
    EXPECT_EQ(report.written, 3u);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"100CANON/", "100CANON/IMG_0001.JPG", "100CANON/IMG_0002.JPG",
                                                "100CANON/dcim.jpg", "EMPTY/"}));
    EXPECT_EQ(Count(Step::SaveEnded), 1);
}

TEST_F(ResultsTest, AnsweringNoWritesNothing) {
    prompter.answers = {false};
    SaveRequest request;
    request.outputFolder = (out / "target").string();
    request.folder = 1;
    ASSERT_TRUE(job->StartSave(request));
    job->Wait();
    EXPECT_TRUE(Tree().empty());
    EXPECT_EQ(Count(Step::SaveEnded), 0);
}

TEST_F(ResultsTest, SaveNeedsAnOutputFolderAndAFolder) {
    SaveRequest request;
    request.folder = 1;
    ASSERT_TRUE(job->StartSave(request));
    job->Wait();
    EXPECT_EQ(Count(Step::NoOutputFolder), 1);
    request.outputFolder = out.path().string();
    request.folder = 7;  // notes.txt: a file, so nothing happens
    ASSERT_TRUE(job->StartSave(request));
    job->Wait();
    EXPECT_TRUE(prompter.asked.empty());
    EXPECT_TRUE(Tree().empty());
}

TEST_F(ResultsTest, TickedRowsAreWrittenWithTheirFolders) {
    SaveRequest request;
    request.outputFolder = out.path().string();
    request.ticked = {{1, 2, 3}, {1, 2, 5}, {1, 6}, {1, 6}, {7}};  // two files, an empty folder twice, a top file
    ASSERT_TRUE(job->StartSave(request));
    job->Wait();
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].count, 3);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"DCIM/", "DCIM/100CANON/", "DCIM/100CANON/IMG_0001.JPG",
                                                "DCIM/100CANON/dcim.jpg", "DCIM/EMPTY/", "notes.txt"}));
    // A ticked folder takes its ticked children with it, once.
    test::TempDir again;
    request.outputFolder = again.path().string();
    request.ticked = {{1, 2}, {1, 2, 3}};
    ASSERT_TRUE(job->StartSave(request));
    job->Wait();
    EXPECT_TRUE(fs::exists(again / "DCIM/100CANON/IMG_0001.JPG"));
    EXPECT_FALSE(fs::exists(again / "DCIM/100CANON/IMG_0001 (2).JPG"));
}

TEST_F(ResultsTest, SearchesNamesWithPaths) {
    struct Case {
        std::string pattern;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases = {
        {"DCIM", {"ROOT\\DCIM\\100CANON\\dcim.jpg"}},
        {"\\.jpg$|\\.png$",
         {"ROOT\\DCIM\\100CANON\\IMG_0001.JPG", "ROOT\\DCIM\\100CANON\\IMG_0002.JPG", "ROOT\\DCIM\\100CANON\\dcim.jpg",
          "ROOT\\logo.PNG"}},
        {"lost", {"ROOT\\LOST"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> paths;
        prompter.informed.clear();
        SearchEnd end{};
        ASSERT_TRUE(job->StartSearch(
            c.pattern, [&](const SearchHit& h) { paths.push_back(h.DisplayPath("ROOT")); },
            [&](SearchEnd e) { end = e; }));
        job->Wait();
        EXPECT_EQ(paths, c.paths) << c.pattern;
        EXPECT_EQ(end, SearchEnd::Finished);
        EXPECT_EQ(Count(Step::SearchFinished), 1) << c.pattern;
    }
}

TEST_F(ResultsTest, AnInvalidPatternSaysSoOnce) {
    std::vector<RowId> hits;
    ASSERT_TRUE(job->StartSearch("(", [&](const SearchHit& h) { hits.push_back(h.row); }));
    job->Wait();
    EXPECT_TRUE(hits.empty());
    EXPECT_EQ(Count(Step::SearchInvalidPattern), 1);
    EXPECT_EQ(Count(Step::SearchFinished), 0);
    EXPECT_FALSE(job->WorkerBusy());
}

TEST_F(ResultsTest, SaveAndSearchAreRefusedWhileASearchRuns) {
    plan = [](test::FakeParser& p) {
        RowId d = p.Add(0, "D", true);
        for (int i = 0; i < 20000; ++i) p.Add(d, "name" + std::to_string(i), false);
    };
    job = MakeJob();
    ASSERT_TRUE(job->Start());
    job->Wait();
    prompter.informed.clear();
    ASSERT_TRUE(job->StartSearch("name1.*9$", {}));
    EXPECT_FALSE(job->StartSearch("x", {}));
    SaveRequest request;
    request.outputFolder = out.path().string();
    request.folder = 1;
    EXPECT_FALSE(job->StartSave(request));
    job->Wait();
    EXPECT_EQ(Count(Step::Busy), 2);
}

TEST(NamePattern, MatchesUnicodeNamesWithoutRegardToCase) {
    auto p = NamePattern::Make("grüße|ПРИВЕТ");
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->Matches("GRÜßE.txt"));
    EXPECT_TRUE(p->Matches("привет.doc"));
    EXPECT_FALSE(p->Matches("gruesse.txt"));
    EXPECT_FALSE(NamePattern::Make("["));
}

}  // namespace
}  // namespace tarnwell
