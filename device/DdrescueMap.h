#pragma once
// ddrescue mapfiles, and readers that stand between a command and its source:
// one that treats the areas a rescue did not finish as unreadable (zeros,
// counted, the device never touched), and one that records which sectors a
// run read, to write a domain mapfile that rescues exactly those first.
//
// Mapfile: comment lines start with '#'; the first other line is
// "current_pos current_status [current_pass]"; then one line per block,
// "pos size status", numbers in hex (0x...) or decimal, status one of
// '?' non-tried, '*' non-trimmed, '/' non-scraped, '-' bad, '+' finished.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/SectorReader.h"

namespace tarnwell {

struct MapBlock {
    std::uint64_t position = 0;
    std::uint64_t size = 0;
    char status = '?';
};

struct DdrescueMap {
    std::vector<MapBlock> blocks;  // in order, contiguous from 0
    std::uint64_t Size() const { return blocks.empty() ? 0 : blocks.back().position + blocks.back().size; }
    // Whether [position, position + count) lies wholly in finished blocks;
    // finishedUntil is where the finished run that holds position ends.
    bool Finished(std::uint64_t position, std::uint64_t& finishedUntil) const;
};

// The map, or the error with its line number ("line 7: ...").
std::optional<DdrescueMap> ParseDdrescueMap(const std::string& text, std::string& error);
std::optional<DdrescueMap> ReadDdrescueMap(const std::string& path, std::string& error);

// A reader that forwards to another; subclasses see every raw read.
class ReaderDecorator : public SectorReader {
public:
    explicit ReaderDecorator(std::unique_ptr<SectorReader> inner);
    bool Open(const std::string& path) override { return inner_->Open(path); }
    SectorReader& Inner() { return *inner_; }

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;
    RawResult ForwardRaw(std::uint64_t position, void* destination, std::size_t count) {
        return inner_->ReadRaw(position, destination, count);
    }
    std::unique_ptr<SectorReader> inner_;
};

// Areas the map does not mark finished read as unreadable without a read.
// The map, not the image, says how large the source is: ddrescue leaves its
// image short when the rescue stopped before the device's end, and what lies
// past the image's end is unread, like any other area it did not finish.
class MappedReader final : public ReaderDecorator {
public:
    // Unfinished sectors read are counted as FailedSectors().
    MappedReader(std::unique_ptr<SectorReader> inner, DdrescueMap map);

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    DdrescueMap map_;
};

// Remembers the sectors every read touched.
class RecordingReader final : public ReaderDecorator {
public:
    using ReaderDecorator::ReaderDecorator;
    // A domain mapfile: the sectors read '+', the rest '?'.
    std::string DomainMapfile() const;
    std::uint64_t BytesRecorded() const;

protected:
    RawResult ReadRaw(std::uint64_t position, void* destination, std::size_t count) override;

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::uint64_t> ranges_;  // start -> end, merged, sector-aligned
};

}  // namespace tarnwell
