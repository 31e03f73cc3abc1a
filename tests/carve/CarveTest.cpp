#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "carve/Carver.h"
#include "carve/DefaultSignatures.h"
#include "device/MemoryReader.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> b) { return {b.begin(), b.end()}; }

SignatureRecord Type(const std::string& ext, std::vector<std::uint8_t> start, std::vector<std::uint8_t> end,
                     std::int64_t approx = 0) {
    SignatureRecord r;
    r.extension = ext;
    r.extensionLength = static_cast<std::uint8_t>(ext.size());
    r.start = std::move(start);
    r.end = std::move(end);
    r.approximateSize = approx;
    r.category = "Test";
    return r;
}

void Put(std::vector<std::uint8_t>& image, std::size_t at, const std::vector<std::uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

struct CarveRun {
    std::vector<FoundFile> files;
    CarveSummary summary;
};

CarveRun Carve(Carver& engine, MemoryReader& reader, std::uint64_t bytes, JobControl* control = nullptr) {
    CarveRun run;
    engine.CarveVolume(VolumeView(reader, 0, bytes), NoProgress(), control, [&](const FoundFile& f) { run.files.push_back(f); });
    run.summary = engine.Summary();
    return run;
}

TEST(Carve, StartAndEndDelimitAFileNamedAfterItsStart) {
    std::vector<std::uint8_t> image(64 * 1024, 0);
    Put(image, 10 * 512, Bytes({0xFF, 0xD8, 0xFF}));
    Put(image, 12 * 512, Bytes({0xFF, 0xD9}));
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures({Type("xyz", Bytes({0xFF, 0xD8, 0xFF}), Bytes({0xFF, 0xD9}))});
    CarveRun run = Carve(engine, reader, image.size());
    ASSERT_EQ(run.files.size(), 1u);
    EXPECT_EQ(run.files[0].start, 5120);
    EXPECT_EQ(run.files[0].length, 1026) << "the end signature's last byte is the file's";
    EXPECT_EQ(engine.ItemName(run.files[0]), "5120 .xyz");
    EXPECT_EQ(engine.CategoryCounts().at("Test"), 1u);
}

TEST(Carve, EndsAreFoundAnywhereAcrossBuffersAndFilesBackToBack) {
    const std::size_t block = 4 << 20;
    std::vector<std::uint8_t> image(block + (1 << 20), 0x11);
    auto start = Bytes({0xAB, 0xCD, 0xEF}), end = Bytes({0x12, 0x34, 0x56, 0x78});
    // One file whose end straddles the first read's boundary, mid-sector.
    Put(image, block - 2048, start);
    Put(image, block - 2, end);
    // Two files back to back after it, ends in mid-sector.
    Put(image, block + 4096, start);
    Put(image, block + 4096 + 700, end);
    Put(image, block + 4096 + 1024, start);
    Put(image, block + 4096 + 1024 + 33, end);
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures({Type("bin", start, end, 1 << 20)});
    CarveRun run = Carve(engine, reader, image.size());
    ASSERT_EQ(run.files.size(), 3u);
    EXPECT_EQ(run.files[0].start, std::int64_t(block - 2048));
    EXPECT_EQ(run.files[0].length, 2048 + 2);
    EXPECT_EQ(run.files[1].start, std::int64_t(block + 4096));
    EXPECT_EQ(run.files[1].length, 704);
    EXPECT_EQ(run.files[2].start, std::int64_t(block + 5120));
    EXPECT_EQ(run.files[2].length, 37);
}

TEST(Carve, SizeFieldsOfAnyWidthAndWholeSectorSizesLoseNothing) {
    std::vector<std::uint8_t> image(32 * 1024, 0);
    SignatureRecord t = Type("sz", Bytes({'S', 'Z', '!'}), {}, 1 << 20);
    t.sizeOffset = 4;
    t.sizeBytes = 2;
    t.headerSize = 0;
    t.sizeIncludesHeader = true;
    // A file of exactly two sectors, and the next file right after it.
    Put(image, 1024, Bytes({'S', 'Z', '!', 0, 0x00, 0x04}));
    Put(image, 2048, Bytes({'S', 'Z', '!', 0, 0x00, 0x02}));
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures({t});
    CarveRun run = Carve(engine, reader, image.size());
    ASSERT_EQ(run.files.size(), 2u);
    EXPECT_EQ(run.files[0].length, 1024);
    EXPECT_EQ(run.files[1].start, 2048);
    EXPECT_EQ(run.files[1].length, 512);

    // The header counted on top of the size when the size leaves it out.
    Carver withHeader;
    t.sizeIncludesHeader = false;
    t.headerSize = 8;
    withHeader.AddSignatures({t});
    CarveRun second = Carve(withHeader, reader, image.size());
    ASSERT_FALSE(second.files.empty());
    EXPECT_EQ(second.files[0].length, 1024 + 8);
}

TEST(Carve, AStartExpiresAtItsApproximateSize) {
    std::vector<std::uint8_t> image(128 * 1024, 0);
    auto start = Bytes({0x5A, 0xA5}), end = Bytes({0xE0, 0x0E});
    Put(image, 0, start);
    Put(image, 40000, end);  // far beyond the approximate size
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures({Type("exp", start, end, 4096)});
    EXPECT_TRUE(Carve(engine, reader, image.size()).files.empty());
    Carver keeping;
    keeping.keepPartial = true;
    keeping.AddSignatures({Type("exp", start, end, 4096)});
    CarveRun run = Carve(keeping, reader, image.size());
    ASSERT_EQ(run.files.size(), 1u);
    EXPECT_TRUE(run.files[0].partial);
    EXPECT_EQ(run.files[0].length, 4096);
}

TEST(Carve, UnreadableSectorsAreCountedAndTheScanGoesOn) {
    std::vector<std::uint8_t> image((2 << 20) + 3 * 512 + 100, 0);  // not a whole MiB
    auto start = Bytes({0x5A, 0xA5}), end = Bytes({0xE0, 0x0E});
    Put(image, 4096, start);
    Put(image, 4096 + 300, end);
    Put(image, image.size() - 612, start);  // in the last partial sectors
    Put(image, image.size() - 10, end);
    MemoryReader reader(image);
    for (std::uint64_t s = 2000; s < 2010; ++s) reader.MarkBad(s);
    Carver engine;
    engine.AddSignatures({Type("bin", start, end, 1 << 20)});
    CarveRun run = Carve(engine, reader, image.size());
    EXPECT_EQ(run.summary.unreadableSectors, 10u);
    ASSERT_EQ(run.files.size(), 2u);
    EXPECT_EQ(run.files[1].start, std::int64_t(image.size() - 612));
    EXPECT_EQ(run.files[1].length, 612 - 8);
}

TEST(Carve, StopEndsTheRunAndKeepsWhatWasFound) {
    std::vector<std::uint8_t> image(1 << 20, 0);
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures({Type("bin", Bytes({1, 2}), Bytes({3, 4}), 100)});
    JobControl control;
    control.RequestStop();
    CarveRun run = Carve(engine, reader, image.size(), &control);
    EXPECT_TRUE(run.summary.stopped);
    Carver none;
    EXPECT_FALSE(none.CarveVolume(VolumeView(reader, 0, image.size()), NoProgress(), nullptr, {})) << "nothing to look for";
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

struct Planted {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    std::string type;
};

// Plants the committed samples at sector starts, with gaps, from offset on.
std::vector<Planted> Plant(std::vector<std::uint8_t>& image, std::size_t offset) {
    std::vector<Planted> planted;
    for (const char* type : {"jpg", "png", "gif", "bmp", "pdf", "zip"}) {
        auto bytes = ReadFile(std::filesystem::path(TARNWELL_TEST_IMAGES) / "carve" / (std::string("sample.") + type));
        EXPECT_FALSE(bytes.empty()) << type;
        Put(image, offset, bytes);
        planted.push_back({offset, bytes, type});
        offset += (bytes.size() + 512 + 4095) / 4096 * 4096 + 1536;
    }
    return planted;
}

void ExpectExactly(const std::vector<Planted>& planted, const std::vector<FoundFile>& found, const Carver& engine,
                   std::size_t base, std::size_t others) {
    std::size_t matched = 0;
    for (const auto& p : planted) {
        bool hit = false;
        for (const auto& f : found)
            if (f.start == std::int64_t(p.offset - base)) {
                EXPECT_EQ(f.length, std::int64_t(p.bytes.size())) << p.type;
                EXPECT_EQ(engine.Extension(f), p.type);
                EXPECT_FALSE(f.partial) << p.type;
                hit = true;
            }
        EXPECT_TRUE(hit) << p.type << " at " << p.offset;
        matched += hit;
    }
    EXPECT_EQ(found.size(), matched + others) << "nothing carved but what was planted";
}

TEST(Carve, PlantedFilesInNoiseComeOutExact) {
    std::vector<std::uint8_t> image(6 << 20);
    std::mt19937 noise(20261210);
    for (auto& b : image) b = static_cast<std::uint8_t>(noise());
    auto planted = Plant(image, 3 * 512 + (1 << 20));
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures(ParseSignatureFile(DefaultSignatureFileBytes()).records);
    CarveRun run = Carve(engine, reader, image.size());
    ExpectExactly(planted, run.files, engine, 0, 0);
}

TEST(Carve, PlantedFilesInACardsFreeSpaceComeOutExact) {
    std::string card = test::ImagePath("sample-card");
    if (card.empty()) GTEST_SKIP();
    auto image = ReadFile(card);
    ASSERT_EQ(image.size(), 64u << 20);
    auto planted = Plant(image, 40 << 20);  // far past the photos, in free clusters
    MemoryReader reader(image);
    Carver engine;
    engine.AddSignatures(ParseSignatureFile(DefaultSignatureFileBytes()).records);
    CarveRun run = Carve(engine, reader, image.size());
    ExpectExactly(planted, run.files, engine, 0, 8);  // and the card's own eight photos
}

}  // namespace
}  // namespace tarnwell
