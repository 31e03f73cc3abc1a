// The structure decoders on hand-made bytes: one field changed at a time.
#include <gtest/gtest.h>

#include <functional>

#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"

namespace tarnwell::ext {
namespace {

void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> GoodSuperblock() {
    std::vector<std::uint8_t> b(1024, 0);
    Put(b, 0, 1024, 4);    // inodes
    Put(b, 4, 16384, 4);   // blocks
    Put(b, 20, 1, 4);      // first data block (1 KiB blocks)
    Put(b, 24, 0, 4);      // 1 KiB blocks
    Put(b, 32, 8192, 4);   // blocks per group
    Put(b, 40, 1024, 4);   // inodes per group
    Put(b, 56, 0xEF53, 2);
    Put(b, 76, 1, 4);      // dynamic revision
    Put(b, 84, 11, 4);
    Put(b, 88, 256, 2);    // inode size
    return b;
}

TEST(ExtSuperblockDecode, OneFieldAtATime) {
    auto sb = DecodeSuperblock(GoodSuperblock());
    ASSERT_TRUE(sb);
    EXPECT_EQ(sb->groupCount, 2u) << "16383 blocks after the first data block make two groups, the last partial";
    EXPECT_EQ(sb->inodeSize, 256u);

    struct Case {
        const char* what;
        std::size_t at;
        std::uint64_t value;
        int width;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"magic", 56, 0xEF54, 2, false},
        {"block size 128 KiB", 24, 7, 4, false},
        {"block size 64 KiB", 24, 6, 4, true},
        {"no inodes per group", 40, 0, 4, false},
        {"more blocks per group than a bitmap holds", 32, 8193, 4, false},
        {"inode size not a power of two", 88, 200, 2, false},
        {"inode size over a block", 88, 2048, 2, false},
        {"more inodes than the groups hold", 0, 4096, 4, false},
        {"a single partial group", 4, 100, 4, true},
    };
    for (const Case& c : cases) {
        auto b = GoodSuperblock();
        Put(b, c.at, c.value, c.width);
        if (c.at == 24 && c.value == 6) Put(b, 20, 0, 4);  // larger blocks start at block 0
        EXPECT_EQ(DecodeSuperblock(b).has_value(), c.accepted) << c.what;
    }

    // Revision 0 has no inode-size field: its inodes are 128 bytes.
    auto b = GoodSuperblock();
    Put(b, 76, 0, 4);
    Put(b, 88, 0, 2);
    auto rev0 = DecodeSuperblock(b);
    ASSERT_TRUE(rev0);
    EXPECT_EQ(rev0->inodeSize, 128u);
    EXPECT_EQ(rev0->firstInode, 11u);

    // 64-bit block counts.
    b = GoodSuperblock();
    Put(b, 96, kIncompat64Bit, 4);
    Put(b, 336, 1, 4);
    Put(b, 254, 64, 2);
    Put(b, 0, 0xFFFFF000u, 4);  // enough inodes for the groups
    Put(b, 40, 8192, 4);
    auto big = DecodeSuperblock(b);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->blocksCount, (1ULL << 32) + 16384);
    EXPECT_EQ(big->descSize, 64u);
}

TEST(ExtSuperblockDecode, BackupGroups) {
    Superblock sb;
    sb.featureRoCompat = kRoCompatSparseSuper;
    std::vector<std::uint64_t> with;
    for (std::uint64_t g = 0; g < 50; ++g)
        if (GroupHasSuperblock(sb, g)) with.push_back(g);
    EXPECT_EQ(with, (std::vector<std::uint64_t>{0, 1, 3, 5, 7, 9, 25, 27, 49}));
}

// A directory block built entry by entry.
struct Block {
    explicit Block(std::size_t size) : bytes(size, 0) {}
    std::size_t Entry(std::size_t at, std::uint32_t inode, std::uint32_t recLen, const std::string& name,
                      std::uint8_t type = 1) {
        Put(bytes, at, inode, 4);
        Put(bytes, at + 4, recLen, 2);
        bytes[at + 6] = static_cast<std::uint8_t>(name.size());
        bytes[at + 7] = type;
        std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
        return at + recLen;
    }
    std::vector<std::uint8_t> bytes;
};

std::string Names(const std::vector<DirEntry>& entries) {
    std::string s;
    for (const auto& e : entries) s += std::string(e.name) + (e.deleted ? "*" : "") + "=" + std::to_string(e.inode) + " ";
    return s;
}

TEST(ExtDirectoryBlock, LiveDeletedAndBroken) {
    DirBlockOptions o;
    o.inodesCount = 100;
    o.blockSize = 1024;
    struct Case {
        const char* what;
        std::function<void(Block&)> build;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"live entries",
         [](Block& b) {
             std::size_t q = b.Entry(0, 12, 16, "a.txt");
             b.Entry(q, 13, 1024 - q, "b.txt");
         },
         "a.txt=12 b.txt=13 "},
        {"a deleted entry in the slack of the one before",
         [](Block& b) {
             b.Entry(0, 12, 40, "a.txt");
             b.Entry(16, 14, 24, "gone.txt");  // merged into a.txt's record
             b.Entry(40, 13, 1024 - 40, "b.txt");
         },
         "a.txt=12 gone.txt*=14 b.txt=13 "},
        {"a first entry cleared by the kernel does not hide the live ones after it",
         [](Block& b) {
             b.Entry(0, 0, 16, "");
             b.Entry(16, 13, 1024 - 16, "b.txt");
         },
         "b.txt=13 "},
        {"a record running past the block ends the block",
         [](Block& b) {
             std::size_t q = b.Entry(0, 12, 16, "a.txt");
             b.Entry(q, 13, 2000, "b.txt");
         },
         "a.txt=12 "},
        {"a record length that is no multiple of four ends the block",
         [](Block& b) { b.Entry(0, 12, 18, "a.txt"); },
         ""},
        {"an inode beyond the table is skipped by its record",
         [](Block& b) {
             std::size_t q = b.Entry(0, 5000, 16, "x.txt");
             b.Entry(q, 13, 1024 - q, "b.txt");
         },
         "b.txt=13 "},
    };
    for (const Case& c : cases) {
        Block b(1024);
        c.build(b);
        std::vector<DirEntry> out;
        ParseDirBlock(b.bytes, o, out);
        EXPECT_EQ(Names(out), c.want) << c.what;
    }
}

TEST(ExtDirectoryBlock, SixtyFourKiBRecordLengths) {
    DirBlockOptions o;
    o.inodesCount = 100;
    o.blockSize = 65536;
    for (std::uint32_t stored : {0u, 65535u}) {
        Block b(65536);
        b.Entry(0, 12, 0, "only.txt");
        Put(b.bytes, 4, stored, 2);  // the whole block
        std::vector<DirEntry> out;
        ParseDirBlock(b.bytes, o, out);
        EXPECT_EQ(Names(out), "only.txt=12 ") << stored;
    }
}

TEST(ExtInodeDecode, TimesPast2038AndNanoseconds) {
    std::vector<std::uint8_t> raw(256, 0);
    Put(raw, 0, 0x81A4, 2);
    Put(raw, 16, 0x80000000u, 4);          // mtime: negative as 32 bits
    Put(raw, 128, 32, 2);                  // extra fields cover crtime
    Put(raw, 136, (123456789u << 2) | 1, 4);  // epoch bit 1: past 2038
    Put(raw, 144, 1700000000, 4);
    Inode n = DecodeInode(raw);
    EXPECT_EQ(n.modified.seconds, -2147483648LL + (1LL << 32));
    EXPECT_EQ(n.modified.nanoseconds, 123456789u);
    EXPECT_TRUE(n.modified.utc);
    EXPECT_TRUE(n.created.valid);
    EXPECT_EQ(n.created.seconds, 1700000000);

    // 128-byte inodes have no extra fields and no creation time.
    Inode old = DecodeInode(std::vector<std::uint8_t>(raw.begin(), raw.begin() + 128));
    EXPECT_EQ(old.modified.seconds, -2147483648LL);
    EXPECT_FALSE(old.created.valid);
}

}  // namespace
}  // namespace tarnwell::ext
