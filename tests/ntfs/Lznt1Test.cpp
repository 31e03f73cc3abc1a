// LZNT1 on hand-made blocks. The encoder below writes what MS-XCA describes
// (displacement bits: the fewest, at least 4, that can address every byte
// produced so far in the chunk); the expected output is built by replaying the
// tokens on a string.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/ntfs/Lznt1.h"

namespace tarnwell {
namespace {

struct Token {
    bool literal;
    std::uint8_t byte = 0;
    std::size_t distance = 0, length = 0;
};

Token Lit(std::uint8_t b) { return {true, b, 0, 0}; }
Token Ref(std::size_t distance, std::size_t length) { return {false, 0, distance, length}; }

struct Chunk {
    std::vector<std::uint8_t> bytes;  // header included
    std::string output;
};

Chunk Compress(const std::vector<Token>& tokens) {
    Chunk c;
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < tokens.size(); i += 8) {
        std::size_t flagAt = data.size();
        data.push_back(0);
        for (std::size_t k = i; k < tokens.size() && k < i + 8; ++k) {
            const Token& t = tokens[k];
            if (t.literal) {
                data.push_back(t.byte);
                c.output += static_cast<char>(t.byte);
                continue;
            }
            data[flagAt] |= static_cast<std::uint8_t>(1u << (k - i));
            int bits = 4;
            while ((std::size_t{1} << bits) < c.output.size()) ++bits;
            std::uint16_t token =
                static_cast<std::uint16_t>(((t.distance - 1) << (16 - bits)) | (t.length - 3));
            data.push_back(token & 0xFF);
            data.push_back(token >> 8);
            for (std::size_t n = 0; n < t.length; ++n) c.output += c.output[c.output.size() - t.distance];
        }
    }
    std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (data.size() - 1));
    c.bytes = {static_cast<std::uint8_t>(header & 0xFF), static_cast<std::uint8_t>(header >> 8)};
    c.bytes.insert(c.bytes.end(), data.begin(), data.end());
    return c;
}

struct Result {
    bool error;
    std::string output;
};

Result Decompress(const std::vector<std::uint8_t>& input, std::size_t capacity = 65536) {
    std::vector<std::uint8_t> out(capacity, 0xEE);
    Lznt1Block block{ByteView(input), out.data(), out.size(), 0};
    bool error = DecompressLznt1(block);
    return {error, std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(block.produced))};
}

TEST(Lznt1, BackReferencesAtEveryDisplacementWidth) {
    // For each width of 4 to 12 bits, a reference from the first and the last
    // position that width covers, reaching back as far as it can.
    for (int bits = 4; bits <= 12; ++bits) {
        std::size_t low = bits == 4 ? 1 : (std::size_t{1} << (bits - 1)) + 1;
        std::size_t high = std::min<std::size_t>(std::size_t{1} << bits, 4096 - 32);  // the chunk holds 4096
        for (std::size_t position : {low, high}) {
            std::vector<Token> tokens;
            // Sixteen distinct literals, then copies of them up to the position
            // (literals alone would overflow the chunk's 4096 input bytes).
            std::size_t made = 0;
            for (; made < std::min<std::size_t>(position, 16); ++made)
                tokens.push_back(Lit(static_cast<std::uint8_t>(made * 7 + 1)));
            while (made < position) {
                int b = 4;
                while ((std::size_t{1} << b) < made) ++b;
                std::size_t longest = 3 + (0xFFFFu >> b);
                std::size_t left = position - made;
                if (left < 3) {
                    tokens.push_back(Lit('q'));
                    ++made;
                    continue;
                }
                std::size_t n = std::min(longest, left == longest + 1 || left == longest + 2 ? longest - 3 : left);
                tokens.push_back(Ref(16, n));
                made += n;
            }
            tokens.push_back(Ref(position, 3 + (position % 5)));
            tokens.push_back(Lit('z'));
            tokens.push_back(Ref(1, 18));  // overlapping: a run of one byte, at the longest a 4-bit length allows
            Chunk c = Compress(tokens);
            Result r = Decompress(c.bytes);
            EXPECT_FALSE(r.error) << bits << " bits at " << position;
            EXPECT_TRUE(r.output == c.output) << bits << " bits at " << position << ": " << r.output.size() << " bytes";
        }
    }
}

TEST(Lznt1, ChunkKinds) {
    Chunk literal = Compress({Lit('a'), Lit('b'), Lit('c'), Lit('d'), Lit('e'), Lit('f'), Lit('g'), Lit('h'), Lit('i')});
    Chunk longest = Compress({Lit('x'), Ref(1, 4095)});  // a 12-bit length at position 1

    std::vector<std::uint8_t> stored = {0xFF, 0x3F};  // not compressed: 4096 bytes as they are
    std::string raw;
    for (int i = 0; i < 4096; ++i) raw += static_cast<char>(i * 31);
    stored.insert(stored.end(), raw.begin(), raw.end());

    struct Case {
        const char* what;
        std::vector<std::uint8_t> input;
        std::size_t capacity;
        bool error;
        std::string output;
    };
    auto join = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> v;
        for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
        return v;
    };
    std::vector<std::uint8_t> truncated(literal.bytes.begin(), literal.bytes.end() - 3);
    const std::vector<Case> cases = {
        {"literals", literal.bytes, 65536, false, "abcdefghi"},
        {"a 4095-byte copy", longest.bytes, 65536, false, std::string(4096, 'x')},
        {"an uncompressed chunk", stored, 65536, false, raw},
        {"an end marker stops", join({literal.bytes, {0, 0}, literal.bytes}), 65536, false, "abcdefghi"},
        {"a short chunk is padded to 4096 before the next",
         join({literal.bytes, literal.bytes}), 65536, false, "abcdefghi" + std::string(4096 - 9, '\0') + "abcdefghi"},
        {"a truncated chunk", truncated, 65536, true, ""},
        {"a truncated chunk after a whole one", join({stored, truncated}), 65536, true, raw},
        {"a reference before the start", {0x02, 0xB0, 0x01, 0x00, 0x10}, 65536, true, ""},
        {"more output than the block holds", literal.bytes, 4, true, "abcd"},
    };
    for (const Case& c : cases) {
        Result r = Decompress(c.input, c.capacity);
        EXPECT_EQ(r.error, c.error) << c.what;
        EXPECT_TRUE(r.output == c.output) << c.what << ": " << r.output.size() << " bytes, not " << c.output.size();
    }
}

}  // namespace
}  // namespace tarnwell
