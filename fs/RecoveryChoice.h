#pragma once
// How thoroughly a volume is to be read, and the advanced mode's picks: what
// a parser is told before it scans.

#include <memory>

#include "advanced/TableFinder.h"

namespace tarnwell {

enum class RecoveryMode : int { Standard = 1, Advanced = 2, Deep = 3 };

// The advanced mode's picks: at most max candidates are searched (below 1: 3),
// then the entries numbered table, cluster and heap of the lists are taken.
struct AdvancedChoice {
    int max = 3;
    int table = 0;
    int cluster = 0;
    int heap = 0;
    // The lists a search already gave (the advanced page's); when set, the scan
    // takes its picks from them rather than searching the volume again. For
    // NTFS, tables holds the MFT candidates' byte positions.
    std::shared_ptr<const TableCandidates> found;
};

}  // namespace tarnwell
