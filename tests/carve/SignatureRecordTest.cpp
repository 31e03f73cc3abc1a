#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "carve/DefaultSignatures.h"
#include "carve/SignatureRecord.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

TEST(SignatureText, ParsesHexPiecesSeparatedByCommas) {
    struct Case {
        const char* text;
        std::vector<std::uint8_t> bytes;
        bool tooLong;
    };
    const Case cases[] = {
        {"0x89,0x50,0x4E,0x47", {0x89, 0x50, 0x4E, 0x47}, false},
        {"89, 50,,4e", {0x89, 0x50, 0x4E}, false},
        {"0X1ff", {0xFF}, false},  // the lowest byte of the number
        {"zz,0x10", {0x00, 0x10}, false},
        {"", {}, false},
        {",,", {}, false},
        {"1,2,3,4,5,6,7,8,9,10,11", {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10}, true},
    };
    for (const auto& c : cases) {
        bool tooLong = false;
        EXPECT_EQ(ParseSignatureText(c.text, tooLong), c.bytes) << c.text;
        EXPECT_EQ(tooLong, c.tooLong) << c.text;
    }
}

SignatureFields Png() {
    SignatureFields f;
    f.extension = "png";
    f.start = "0x89,0x50,0x4E,0x47";
    f.end = "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82";
    f.approximateSize = "5000000";
    f.category = "Pictures";
    return f;
}

TEST(SignatureFields, SaveBuildsTheRecordOrSaysWhyNot) {
    std::string message;
    auto png = BuildSignatureRecord(Png(), message);
    ASSERT_TRUE(png) << message;
    EXPECT_EQ(png->start.size(), 4u);
    EXPECT_EQ(png->end.size(), 8u);
    EXPECT_EQ(png->sizeOffset, -1) << "no size offset given";
    EXPECT_EQ(png->approximateSize, 5000000);

    struct Case {
        const char* what;
        std::function<void(SignatureFields&)> change;
        const char* message;
    };
    const Case refused[] = {
        {"no extension", [](SignatureFields& f) { f.extension = ""; }, "extention length is zero.."},
        {"no start", [](SignatureFields& f) { f.start = " , "; }, "signature length is zero.."},
        {"11-byte start", [](SignatureFields& f) { f.start = "1,2,3,4,5,6,7,8,9,10,11"; }, "a signature has at most 10 bytes"},
        {"50-character category", [](SignatureFields& f) { f.category = std::string(50, 'c'); },
         "a category has at most 49 characters"},
        {"no way to end", [](SignatureFields& f) { f.end = ""; f.approximateSize = ""; },
         "give an end signature, a size field or an approximate size: without one only empty files are found"},
        {"size field past the header", [](SignatureFields& f) { f.sizeOffset = "510"; f.sizeBytes = "4"; },
         "the size field must lie in the first 512 bytes and take 1 to 8 bytes; sizes cannot be negative"},
    };
    for (const auto& c : refused) {
        SignatureFields f = Png();
        c.change(f);
        EXPECT_FALSE(BuildSignatureRecord(f, message)) << c.what;
        EXPECT_EQ(message, c.message) << c.what;
    }

    SignatureFields big = Png();
    big.extension = "jpeg2";  // five letters: length 5, four stored
    big.approximateSize = "8589934592";  // 8 GiB: a 64-bit value
    big.sizeOffset = "0";
    auto r = BuildSignatureRecord(big, message);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->extensionLength, 5);
    EXPECT_EQ(r->approximateSize, 8589934592LL);
    EXPECT_EQ(r->sizeOffset, -1) << "an offset of 0 is not given";
    std::string why;
    auto back = SignatureRecord::Decode(r->Encode(), 0, why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->extension, "jpeg");
    EXPECT_EQ(back->approximateSize, 8589934592LL);
}

TEST(SignatureFile, SaveAndLoadAgreeAndIndicesCount) {
    test::TempDir dir;
    std::string path = (dir / "mine.txt").string();
    std::string message;
    auto png = BuildSignatureRecord(Png(), message);
    ASSERT_TRUE(png);
    int index = -1;
    EXPECT_EQ(AppendSignatureRecord(path, *png, &index), AppendResult::Appended);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(AppendSignatureRecord(path, *png, &index), AppendResult::Appended);
    EXPECT_EQ(index, 1);
    SignatureFile f = ReadSignatureFile(path);
    ASSERT_TRUE(f.error.empty());
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].index, 0);
    EXPECT_EQ(f.records[1].index, 1);
    EXPECT_EQ(f.records[1].category, "Pictures");
    EXPECT_EQ(f.records[1].end, png->end);
    EXPECT_EQ(std::filesystem::file_size(path), 2 * kSignatureRecordSize);

    // A file full to 256 records refuses the 257th instead of wrapping its index.
    std::vector<std::uint8_t> full;
    for (int i = 0; i < 256; ++i) {
        auto b = png->Encode();
        full.insert(full.end(), b.begin(), b.end());
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(full.data()), full.size());
    EXPECT_EQ(AppendSignatureRecord(path, *png), AppendResult::FileFull);
    EXPECT_EQ(AppendSignatureRecord((dir / "no/such/dir/x.txt").string(), *png), AppendResult::CannotCreate);
}

TEST(SignatureFile, HostileFilesAreRefusedRecordByRecord) {
    std::string message;
    auto good = BuildSignatureRecord(Png(), message)->Encode();
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
        const char* why;
    };
    const Case cases[] = {
        {"start length 200", [](auto& r) { r[0x1F] = 200; }, "a signature is longer than 10 bytes"},
        {"size field at 600", [](auto& r) { r[0x22] = 0x58; r[0x23] = 0x02; r[0x26] = 4; },
         "its size field lies outside the 512-byte header"},
        {"size bytes without an offset", [](auto& r) { r[0x26] = 4; }, "its size field lies outside the 512-byte header"},
        {"no category terminator", [](auto& r) { for (int i = 0; i < 100; i += 2) r[0x43 + i] = 'x'; },
         "its category has no terminator"},
        {"negative approximate size", [](auto& r) { r[0x33 + 7] = 0x80; }, "a size is negative"},
        {"no extension", [](auto& r) { r[0x0A] = 0; }, "it has no extension"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> bytes = good, bad = good;
        c.spoil(bad);
        bad[0x21] = 200;  // a lying index is ignored: records are counted by length
        bytes.insert(bytes.end(), bad.begin(), bad.end());
        bytes.insert(bytes.end(), good.begin(), good.end());
        SignatureFile f = ParseSignatureFile(bytes);
        EXPECT_EQ(f.records.size(), 2u) << c.what;
        ASSERT_EQ(f.refused.size(), 1u) << c.what;
        EXPECT_EQ(f.refused[0], std::string("record 2: ") + c.why) << c.what;
    }
    std::vector<std::uint8_t> cut = good;
    cut.resize(kSignatureRecordSize + 29, 0);  // 200 bytes: one record and a piece
    SignatureFile f = ParseSignatureFile(cut);
    EXPECT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.refused, std::vector<std::string>{"record 2: the record is cut short"});
    EXPECT_EQ(ParseSignatureFile(std::vector<std::uint8_t>(100)).error, "not a valid file..");
    EXPECT_EQ(ParseSignatureFile(std::vector<std::uint8_t>(kMaxSignatureFileBytes + 1)).error, "not a valid file..");
    EXPECT_EQ(ReadSignatureFile("/nonexistent/FileSetting.txt").error, "can not open file");
}

TEST(SignatureFile, TheDefaultListLoadsWhole) {
    SignatureFile f = ParseSignatureFile(DefaultSignatureFileBytes());
    EXPECT_TRUE(f.error.empty());
    EXPECT_TRUE(f.refused.empty());
    std::set<std::string> types;
    for (const auto& r : f.records) {
        types.insert(r.extension);
        EXPECT_EQ(r.Problem(), "") << r.extension;
    }
    for (const char* t : {"jpg", "png", "gif", "bmp", "pdf", "zip", "mp3", "mp4", "doc", "wav", "cr2"})
        EXPECT_TRUE(types.count(t)) << t;
}

}  // namespace
}  // namespace tarnwell
