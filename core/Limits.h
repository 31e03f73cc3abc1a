#pragma once
// The engine's resource limits, decided once. Every size or count a parser
// takes from disk is bounded by the volume it describes and by these caps, so
// that a hostile or dying volume yields a smaller result, never an exhausted
// machine. Parsers keep the bounds their own formats dictate (a FAT directory
// holds at most 65536 slots, ext has at most 5 levels of extent tree) beside
// their code; what every parser and front end shares lives here.

#include <algorithm>
#include <cstdint>

namespace tarnwell::limits {

// Deepest folder nesting that any walk (listing, saving, counting, search)
// follows; deeper branches are cut. Walks are iterative or bounded by this, so
// a folder loop or a crafted chain of a million folders cannot exhaust the stack.
inline constexpr int kMaxFolderDepth = 512;

// Largest buffer one metadata structure (a directory, a table, a B-tree window)
// may ask for in one piece; bigger structures are read in pieces or cut.
inline constexpr std::uint64_t kMaxMetadataBytes = 256ull << 20;

// Most rows a parser's table keeps: about 5 GiB of rows at the largest.
inline constexpr std::uint64_t kMaxRows = 50'000'000;

// A length taken from disk, bounded by the bytes the volume has and by the
// metadata cap: what an allocation sized by a disk field may use.
inline constexpr std::uint64_t BoundedByVolume(std::uint64_t fieldBytes, std::uint64_t volumeBytes) {
    return std::min({fieldBytes, volumeBytes, kMaxMetadataBytes});
}

}  // namespace tarnwell::limits
