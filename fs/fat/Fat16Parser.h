#pragma once
// The parser of FAT12 and FAT16 volumes: the fixed root
// region after the tables, 12- or 16-bit table entries.

#include "fs/fat/FatParser.h"

namespace tarnwell {

class Fat16Parser final : public FatParser {
public:
    explicit Fat16Parser(ParserLinks links) : FatParser(std::move(links), "Fat16") {}

protected:
    bool AcceptsKind(FatKind kind) const override { return kind == FatKind::Fat12 || kind == FatKind::Fat16; }
};

}  // namespace tarnwell
