#pragma once
// The parser of FAT32 volumes: the root directory is the
// chain of the boot sector's root cluster, table entries are 28 bits.

#include "fs/fat/FatParser.h"

namespace tarnwell {

class Fat32Parser final : public FatParser {
public:
    explicit Fat32Parser(ParserLinks links) : FatParser(std::move(links), "Fat32") {}

protected:
    bool AcceptsKind(FatKind kind) const override { return kind == FatKind::Fat32; }
};

}  // namespace tarnwell
