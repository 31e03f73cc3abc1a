#include "fs/SourceCopy.h"

#include <algorithm>

namespace tarnwell {

namespace {
// Bytes of [offset, offset + count) before the end of the source's data.
std::size_t BytesBeforeTheEnd(readWriteInterface& reader, std::uint64_t offset, std::size_t count,
                              bool refused) {
    const std::uint64_t length = reader.fileLength();
    const auto base = static_cast<std::uint64_t>(std::max<std::int64_t>(reader.baseOffset(), 0));
    const std::uint64_t end = length > base ? length - base : 0;
    std::size_t have = offset >= end ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(count, end - offset));
    if (refused || have == 0) return have;
    // Nothing refused and the length says all is there: the source ended
    // early (it shrank since it was opened). Where its data ends, by halves;
    // reads past the end are not counted as refused, so probing costs nothing.
    std::size_t lo = 0, hi = have;
    std::uint8_t probe = 0;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        if (reader.ReadAt(static_cast<std::int64_t>(offset + mid), &probe, 1))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}
}  // namespace

CopyResult CopyFromSource(readWriteInterface& reader, std::uint64_t offset, std::size_t count,
                          std::vector<std::uint8_t>& buffer, FileSink& sink) {
    CopyResult r;
    if (count == 0) return r;
    buffer.resize(count);
    const std::uint64_t refusedBefore = reader.UnreadableBytes();
    std::size_t have = count;
    if (!reader.ReadAt(static_cast<std::int64_t>(offset), buffer.data(), count)) {
        r.complete = false;
        have = BytesBeforeTheEnd(reader, offset, count, reader.UnreadableBytes() != refusedBefore);
    }
    if (have > 0 && !sink.Write(buffer.data(), have)) r.written = false;
    if (r.written && have < count && !sink.WriteUnreadable(count - have)) r.written = false;
    return r;
}

}  // namespace tarnwell
