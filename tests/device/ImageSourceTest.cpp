#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/FileReader.h"
#include "device/SourceOpener.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// Every byte the container reader gives equals the raw card's.
void ExpectSameMedia(SectorReader& container, const std::string& raw) {
    FileReader plain;
    ASSERT_TRUE(plain.Open(raw));
    ASSERT_EQ(container.fileLength(), plain.fileLength());
    std::vector<std::uint8_t> a(4 << 20), b(4 << 20);
    for (std::uint64_t at = 0; at < plain.fileLength(); at += a.size()) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), plain.fileLength() - at));
        ASSERT_TRUE(container.ReadAt(static_cast<std::int64_t>(at), a.data(), n)) << at;
        ASSERT_TRUE(plain.ReadAt(static_cast<std::int64_t>(at), b.data(), n));
        ASSERT_TRUE(std::equal(a.begin(), a.begin() + n, b.begin())) << "differs in the MiB at " << (at >> 20);
    }
    EXPECT_EQ(container.FailedSectors(), 0u);
}

class ImageContainers : public ::testing::Test {
protected:
    void SetUp() override {
        card = test::ImagePath("sample-card");
        if (card.empty()) GTEST_SKIP() << "image not committed";
    }
    std::string card;
    test::TempDir dir;
};

TEST_F(ImageContainers, QemuFormatsReadAsTheRawCard) {
    if (!Have("qemu-img")) GTEST_SKIP() << "qemu-utils not installed";
    struct Case {
        const char* format;
        SourceKind kind;
    };
    for (const Case& c : {Case{"vpc", SourceKind::Vhd}, Case{"vhdx", SourceKind::Vhdx}, Case{"vmdk", SourceKind::Vmdk},
                          Case{"qcow2", SourceKind::Qcow}}) {
        SCOPED_TRACE(c.format);
        std::string image = (dir / (std::string("card.") + c.format)).string();
        ASSERT_EQ(Shell("qemu-img convert -f raw -O " + std::string(c.format) + " '" + card + "' '" + image + "'"), 0);
        test::UnchangedGuard unchanged(image);
        EXPECT_EQ(DetectSourceKind(image), c.kind);
        OpenedSource s = OpenSourceReader(image);
        ASSERT_TRUE(s.reader) << s.error;
        if (c.kind == SourceKind::Vhd) {
            // A dynamic VHD rounds the disk to its geometry; the card is inside it.
            EXPECT_GE(s.reader->fileLength(), fs::file_size(card));
            continue;
        }
        ExpectSameMedia(*s.reader, card);
    }
}

TEST_F(ImageContainers, EwfSegmentsReadAsOne) {
    if (!Have("ewfacquire")) GTEST_SKIP() << "ewf-tools not installed";
    std::string base = (dir / "card").string();
    ASSERT_EQ(Shell("ewfacquire -u -q -t '" + base + "' -S 16MiB -c none -f encase6 '" + card + "'"), 0);
    ASSERT_TRUE(fs::exists(base + ".E02")) << "several segments";
    test::UnchangedGuard unchanged(base + ".E01");
    EXPECT_EQ(DetectSourceKind(base + ".E01"), SourceKind::Ewf);
    OpenedSource s = OpenSourceReader(base + ".E01");
    ASSERT_TRUE(s.reader) << s.error;
    ExpectSameMedia(*s.reader, card);

    // Without its second segment the set cannot be read: said, not silent.
    fs::remove(base + ".E02");
    RecordingPrompter prompter;
    OpenedSource broken = OpenSourceReader(base + ".E01", prompter);
    EXPECT_FALSE(broken.reader);
    EXPECT_FALSE(broken.error.empty());
    ASSERT_EQ(prompter.informed.size(), 1u);
    EXPECT_EQ(prompter.informed[0].step, Step::SourceNotOpened);
}

TEST_F(ImageContainers, SplitRawPartsReadAsOne) {
    for (const char* style : {"-d -a 3 --numeric-suffixes=1", "-a 2"}) {
        SCOPED_TRACE(style);
        test::TempDir parts;
        std::string prefix = (parts / "card.").string();
        ASSERT_EQ(Shell("split -b 10000000 " + std::string(style) + " '" + card + "' '" + prefix + "'"), 0);
        std::string first = fs::exists(prefix + "001") ? prefix + "001" : prefix + "aa";
        EXPECT_EQ(DetectSourceKind(first), SourceKind::SplitRaw);
        OpenedSource s = OpenSourceReader(first);
        ASSERT_TRUE(s.reader) << s.error;
        ExpectSameMedia(*s.reader, card);
        s.reader.reset();
        // A missing middle part is named instead of shifting the rest.
        std::string second = fs::exists(prefix + "002") ? prefix + "002" : prefix + "ab";
        fs::remove(second);
        OpenedSource gap = OpenSourceReader(first);
        EXPECT_FALSE(gap.reader);
        EXPECT_NE(gap.error.find(fs::path(second).filename().string() + " of the split image is missing"),
                  std::string::npos)
            << gap.error;
    }
}

TEST_F(ImageContainers, AVmdkWithoutItsExtentFileSaysSo) {
    if (!Have("qemu-img")) GTEST_SKIP() << "qemu-utils not installed";
    std::string image = (dir / "split.vmdk").string();
    ASSERT_EQ(Shell("qemu-img convert -f raw -O vmdk -o subformat=twoGbMaxExtentSparse '" + card + "' '" + image + "'"), 0);
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().find("-s001") != std::string::npos) fs::remove(e.path());
    OpenedSource s = OpenSourceReader(image);
    EXPECT_FALSE(s.reader);
    EXPECT_FALSE(s.error.empty());
}

TEST(ImageSources, PlainFilesAndMissingPaths) {
    test::TempDir dir;
    dir.Write("plain.img", std::string(4096, 'x'));
    EXPECT_EQ(DetectSourceKind((dir / "plain.img").string()), SourceKind::Raw);
    OpenedSource s = OpenSourceReader((dir / "plain.img").string());
    ASSERT_TRUE(s.reader);
    EXPECT_EQ(s.reader->deviceSectorCount(), 8u);
    OpenedSource missing = OpenSourceReader((dir / "none.img").string());
    EXPECT_FALSE(missing.reader);
    EXPECT_NE(missing.error.find("none.img"), std::string::npos);
}

}  // namespace
}  // namespace tarnwell
