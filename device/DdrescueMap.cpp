#include "device/DdrescueMap.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tarnwell {

namespace {
bool ParseNumber(const std::string& text, std::uint64_t& value) {
    try {
        std::size_t used = 0;
        value = std::stoull(text, &used, 0);
        return used == text.size();
    } catch (...) {
        return false;
    }
}
}  // namespace

bool DdrescueMap::Finished(std::uint64_t position, std::uint64_t& finishedUntil) const {
    auto it = std::upper_bound(blocks.begin(), blocks.end(), position,
                               [](std::uint64_t p, const MapBlock& b) { return p < b.position; });
    if (it == blocks.begin()) return false;
    --it;
    if (position >= it->position + it->size || it->status != '+') return false;
    finishedUntil = it->position + it->size;
    for (++it; it != blocks.end() && it->status == '+'; ++it) finishedUntil = it->position + it->size;
    return true;
}

std::optional<DdrescueMap> ParseDdrescueMap(const std::string& text, std::string& error) {
    DdrescueMap map;
    std::istringstream in(text);
    bool statusLineSeen = false;
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;) f.push_back(w);
        if (f.empty()) continue;
        auto bad = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        };
        if (!statusLineSeen) {
            std::uint64_t pos;
            if (f.size() < 2 || f.size() > 3 || !ParseNumber(f[0], pos) || f[1].size() != 1)
                return bad("expected \"current_pos current_status [current_pass]\"");
            statusLineSeen = true;
            continue;
        }
        MapBlock b;
        if (f.size() != 3 || !ParseNumber(f[0], b.position) || !ParseNumber(f[1], b.size) || f[2].size() != 1 ||
            std::string("?*/-+").find(f[2][0]) == std::string::npos)
            return bad("expected \"pos size status\" with status one of ?*/-+");
        b.status = f[2][0];
        if (b.position != map.Size()) return bad("the block does not begin where the previous one ended");
        if (b.size == 0) return bad("a block of size 0");
        map.blocks.push_back(b);
    }
    if (map.blocks.empty()) {
        error = "line " + std::to_string(lineNumber) + ": the mapfile holds no blocks";
        return std::nullopt;
    }
    return map;
}

std::optional<DdrescueMap> ReadDdrescueMap(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open the mapfile " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseDdrescueMap(text.str(), error);
}

ReaderDecorator::ReaderDecorator(std::unique_ptr<SectorReader> inner) : inner_(std::move(inner)) {
    SetLength(inner_->fileLength());
    SetReportedSectorSize(inner_->ReportedSectorSize());
}

SectorReader::RawResult ReaderDecorator::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    return ForwardRaw(position, destination, count);
}

MappedReader::MappedReader(std::unique_ptr<SectorReader> inner, DdrescueMap map)
    : ReaderDecorator(std::move(inner)), map_(std::move(map)) {
    SetLength(map_.Size());
}

SectorReader::RawResult MappedReader::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    std::uint64_t until = 0;
    if (!map_.Finished(position, until)) return {RawStatus::Error, 0};  // never read: the device may be failing there
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, until - position));
    return ForwardRaw(position, destination, n);
}

SectorReader::RawResult RecordingReader::ReadRaw(std::uint64_t position, void* destination, std::size_t count) {
    RawResult r = ForwardRaw(position, destination, count);
    if (count > 0) {
        std::uint64_t start = position / kSectorSize * kSectorSize;
        std::uint64_t end = (position + count + kSectorSize - 1) / kSectorSize * kSectorSize;
        std::lock_guard lock(mutex_);
        auto it = ranges_.upper_bound(start);
        if (it != ranges_.begin() && std::prev(it)->second >= start) {
            --it;
            start = it->first;
            end = std::max(end, it->second);
            it = ranges_.erase(it);
        }
        while (it != ranges_.end() && it->first <= end) {
            end = std::max(end, it->second);
            it = ranges_.erase(it);
        }
        ranges_[start] = end;
    }
    return r;
}

std::uint64_t RecordingReader::BytesRecorded() const {
    std::lock_guard lock(mutex_);
    std::uint64_t total = 0;
    for (const auto& [s, e] : ranges_) total += e - s;
    return total;
}

std::string RecordingReader::DomainMapfile() const {
    std::lock_guard lock(mutex_);
    std::string out = "# Domain mapfile written by tarnwell: the sectors that hold the chosen files\n"
                      "# current_pos  current_status  current_pass\n0x00000000     ?               1\n"
                      "#      pos        size  status\n";
    char line[96];
    std::uint64_t at = 0, size = fileLength();
    auto block = [&](std::uint64_t from, std::uint64_t to, char status) {
        if (to <= from) return;
        std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n", static_cast<unsigned long long>(from),
                      static_cast<unsigned long long>(to - from), status);
        out += line;
    };
    for (const auto& [s, e] : ranges_) {
        std::uint64_t from = std::min(s, size), to = std::min(e, size);
        block(at, from, '?');
        block(from, to, '+');
        at = std::max(at, to);
    }
    block(at, size, '?');
    return out;
}

}  // namespace tarnwell
