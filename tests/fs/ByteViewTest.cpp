#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "core/ByteView.h"
#include "core/TextEncoding.h"

namespace tarnwell {
namespace {

TEST(ByteView, ReadsBothByteOrdersAndYieldsZeroOutsideTheBytes) {
    std::vector<std::uint8_t> b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF};
    ByteView v(b);
    EXPECT_EQ(v.Le16(0), 0x0201);
    EXPECT_EQ(v.Be16(0), 0x0102);
    EXPECT_EQ(v.Le32(1), 0x05040302u);
    EXPECT_EQ(v.Be32(0), 0x01020304u);
    EXPECT_EQ(v.Le64(0), 0x0807060504030201ULL);
    EXPECT_EQ(v.Be64(1), 0x02030405060708FFULL);
    EXPECT_EQ(v.Le(0, 3), 0x030201u);
    EXPECT_EQ(v.LeS16(7), static_cast<std::int16_t>(0xFF08));

    EXPECT_EQ(v.Le32(6), 0u) << "a field running past the end is not read";
    EXPECT_EQ(v.U8(9), 0);
    EXPECT_EQ(v.Le(0, 9), 0u);
    EXPECT_FALSE(v.Has(std::numeric_limits<std::size_t>::max(), 2)) << "no overflow in the range test";
    EXPECT_FALSE(v.Has(2, std::numeric_limits<std::size_t>::max()));
    EXPECT_TRUE(v.Has(9, 0));

    EXPECT_EQ(v.Sub(7).size(), 2u);
    EXPECT_EQ(v.Sub(7, 100).Le16(0), 0xFF08);
    EXPECT_TRUE(v.Sub(50, 4).empty());
    EXPECT_TRUE(v.Matches(0, "\x01\x02"));
    EXPECT_FALSE(v.Matches(8, std::string_view("\xFF\x00", 2))) << "past the end";
    EXPECT_TRUE(v.Matches(8, "\xFF"));
}

TEST(TextEncoding, Utf16NamesBecomeUtf8) {
    auto le = [](std::u16string s) {
        std::vector<std::uint8_t> b;
        for (char16_t u : s) {
            b.push_back(static_cast<std::uint8_t>(u & 0xFF));
            b.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        return b;
    };
    struct Case {
        std::u16string units;
        std::string utf8;
    };
    const std::vector<Case> cases = {
        {u"IMG_0001.JPG", "IMG_0001.JPG"},
        {u"Grüße €", "Grüße €"},
        {u"\xD83D\xDCF7.jpg", "\xF0\x9F\x93\xB7.jpg"},       // a surrogate pair
        {u"a\xD800z", "a\xEF\xBF\xBDz"},                      // a lone high surrogate
        {u"\xDC00", "\xEF\xBF\xBD"},                          // a lone low surrogate
    };
    for (const auto& c : cases) {
        auto bytes = le(c.units);
        EXPECT_EQ(Utf16LeToUtf8(bytes, 0, c.units.size()), c.utf8);
    }
    auto withNul = le(std::u16string(u"AB\0CD", 5));
    EXPECT_EQ(Utf16LeToUtf8(withNul, 0, 5), "AB");
    EXPECT_EQ(Utf16LeToUtf8(withNul, 0, 5, false), std::string("AB\0CD", 5));
    EXPECT_EQ(Utf16LeToUtf8(withNul, 0, 50), "AB") << "count beyond the bytes stops at their end";
    std::vector<std::uint8_t> be = {0x00, 'H', 0x00, '+'};
    EXPECT_EQ(Utf16BeToUtf8(be, 0, 2), "H+");
}

TEST(TextEncoding, SingleByteNames) {
    EXPECT_EQ(Cp437ToUtf8("\x81" "BER.TXT"), "üBER.TXT");
    EXPECT_EQ(Cp437ToUtf8("\xE1"), "ß");
    EXPECT_EQ(SanitizeUtf8("ok \xC3\xA9"), "ok é");
    EXPECT_EQ(SanitizeUtf8("bad \xFF\xC3"), "bad \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD") << "overlong forms are refused";
}

}  // namespace
}  // namespace tarnwell
