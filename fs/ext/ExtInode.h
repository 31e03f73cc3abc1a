#pragma once
// An ext inode, decoded from its bytes in the inode table.
//   0 mode        4 size lo     8 atime      12 ctime      16 mtime     20 dtime
//  26 links      28 sectors    32 flags      40 i_block (60 bytes)
// 104 file ACL lo 108 size hi  118 file ACL hi
// 128 extra size 132 ctime extra 136 mtime extra 140 atime extra
// 144 crtime   148 crtime extra; then in-inode extended attributes.

#include <cstdint>
#include <string>

#include "core/ByteView.h"
#include "core/FileTime.h"

namespace tarnwell::ext {

inline constexpr std::uint16_t kTypeMask = 0xF000;
inline constexpr std::uint16_t kFifo = 0x1000, kCharDev = 0x2000, kDir = 0x4000, kBlockDev = 0x6000,
                               kRegular = 0x8000, kSymlink = 0xA000, kSocket = 0xC000;
inline constexpr std::uint32_t kFlagIndex = 0x00001000;
inline constexpr std::uint32_t kFlagExtents = 0x00080000;
inline constexpr std::uint32_t kFlagInline = 0x10000000;
inline constexpr std::size_t kBlockArea = 40, kBlockAreaSize = 60;

struct Inode {
    std::uint16_t mode = 0;
    std::uint16_t links = 0;
    std::uint32_t flags = 0;
    std::uint32_t dtime = 0;
    std::uint64_t size = 0;
    std::uint64_t sectors = 0;  // 512-byte units allocated (data and attribute block)
    std::uint64_t fileAcl = 0;
    FileTime accessed, changed, modified, created;

    std::uint16_t Type() const { return mode & kTypeMask; }
    bool IsDir() const { return Type() == kDir; }
    bool Deleted() const { return links == 0 || dtime != 0; }
};

// Decodes the inode in raw (inodeSize bytes; 128 on revision 0). The size's
// high word (108) counts for regular files, and for folders on a volume with
// large folders (largeDirs); for other kinds it is another field.
Inode DecodeInode(ByteView raw, bool largeDirs = false);

// The largest size a file of this inode can have: what its block numbers can
// address (32-bit logical blocks in an extent tree; 12 direct and three
// indirect levels in a block map). A larger size is corrupt.
std::uint64_t MaxFileBytes(const Inode& inode, std::uint32_t blockSize);

// Whether i_block holds the link target itself rather than block numbers.
bool IsFastSymlink(const Inode& inode, std::uint32_t blockSize);

// The content of an inline-data inode: i_block, then the "system.data"
// attribute, cut at limit bytes.
std::string InlineData(ByteView raw, std::uint64_t limit);

}  // namespace tarnwell::ext
