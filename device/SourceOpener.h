#pragma once
// Opening a SOURCE, whatever it is: a block device, a raw image, a split raw
// set, or an image container, told apart by content (split sets by their
// part names). Everything is opened read-only.

#include <memory>
#include <string>

#include "core/Prompter.h"
#include "device/SectorReader.h"

namespace tarnwell {

enum class SourceKind { Raw, BlockDevice, SplitRaw, Ewf, Vhd, Vhdx, Vmdk, Qcow };

const char* SourceKindName(SourceKind kind);  // "raw", "block device", "split raw", "EWF", ...

// The kind of container the file at path is, by its first and last bytes.
SourceKind DetectSourceKind(const std::string& path);

struct OpenedSource {
    std::unique_ptr<SectorReader> reader;  // null when it could not be opened
    SourceKind kind = SourceKind::Raw;
    std::string error;                           // why not, naming the missing piece
};

// Opens path as what it is. On failure the prompter hears "invalid handle ..."
// and error says more.
OpenedSource OpenSourceReader(const std::string& path, Prompter& prompter = DefaultPrompter());

}  // namespace tarnwell
