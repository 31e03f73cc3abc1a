#pragma once
// Readers of image containers, all read-only: split raw sets (.001, .002, ...
// or .aa, .ab, ...) opened as one, and through the libyal libraries EnCase
// sets (.E01, ...), VHD and VHDX, VMDK and QCOW. Each presents the media
// inside as one device.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/SectorReader.h"

namespace tarnwell {

// Parts of a split raw image, concatenated in name order.
class SplitRawReader final : public SectorReader {
public:
    ~SplitRawReader() override;
    bool Open(const std::string& firstPart) override;
    const std::string& LastError() const { return error_; }
    const std::vector<std::string>& Parts() const { return paths_; }

    // The set that begins with path ("card.001" or "card.aa"), or nothing when
    // path is not the first part of one.
    static std::vector<std::string> FindParts(const std::string& path);

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    std::vector<std::string> paths_;
    std::vector<int> fds_;
    std::vector<std::uint64_t> starts_;  // offset of each part in the whole
    std::string error_;
};

// A container read through a library that offers "read n bytes at offset".
// The libraries are not thread-safe, so reads are serialised.
class ContainerReader : public SectorReader {
public:
    const std::string& LastError() const { return error_; }

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;
    virtual long long ReadMedia(std::uint64_t position, void* destination, std::size_t count) = 0;
    void Opened(std::uint64_t mediaBytes) { SetLength(mediaBytes); }
    std::string error_;

private:
    std::mutex mutex_;
};

std::unique_ptr<ContainerReader> MakeEwfReader();
std::unique_ptr<ContainerReader> MakeVhdiReader();
std::unique_ptr<ContainerReader> MakeVmdkReader();
std::unique_ptr<ContainerReader> MakeQcowReader();

}  // namespace tarnwell
