#include <gtest/gtest.h>

#include "scan/NameSearch.h"

namespace tarnwell {
namespace {

// One matcher serves search, recover --match and the wizard: a search in the
// name, case ignored over Unicode, escapes keeping their meaning.
TEST(NamePattern, CaseIsIgnoredBeyondAscii) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"ZOË", "zoë.txt", true},
        {"zoë", "ZOË.TXT", true},
        {"ÉMILIE", "émilie", true},
        {"\\.JPG$", "a.jpg", true},
        {"\\.JPG$", "a.jpg.txt", false},
        {"Σ", "σ", true},
        {"ΑΘΉΝΑ", "αθήνα.png", true},
        {"ПРИВЕТ", "привет.doc", true},
        {"łódź", "ŁÓDŹ", true},
        {"ŒUVRE", "œuvre", true},
        {"grüße", "GRÜßE.txt", true},
        {"[À-Ö]", "é", true},  // é (U+00E9) is in the range by its capital É (U+00C9)
        {"[À-Ö]", "ø", false},
        {"^[à-ö]$", "É", true},
        {"zoë", "zoe.txt", false},
        {"ÉMILIE", "emilie", false},
        // Escapes of a class keep their meaning and their case.
        {"\\d", "IMG_0001", true},
        {"\\D", "0001", false},
        {"^\\W+$", "--", true},
        {"^\\W+$", "é", false},
        {"^\\w+$", "Émilie", true},
        {"\\S", "   ", false},
        {"a\\Bb", "ab", true},
        {"", "anything", true},
    };
    for (const auto& c : cases) {
        auto p = NamePattern::Make(c.pattern);
        ASSERT_TRUE(p) << c.pattern;
        EXPECT_EQ(p->Matches(c.name), c.matches) << c.pattern << " ~ " << c.name;
    }
}

TEST(NamePattern, ExpressionsThatDoNotParseAreRefused) {
    for (const char* bad : {"(", "[", "a{2,1}", "*x", "\\"}) EXPECT_FALSE(NamePattern::Make(bad)) << bad;
}

}  // namespace
}  // namespace tarnwell
