#include "fs/SourceCopy.h"

namespace tarnwell {

CopyResult CopyFromSource(const VolumeView& reader, std::uint64_t offset, std::size_t count,
                          std::vector<std::uint8_t>& buffer, FileSink& sink) {
    CopyResult r;
    if (count == 0) return r;
    buffer.resize(count);
    // The reader zero-fills and counts whatever it could not deliver (refused
    // sectors, bytes past the source's end, a source that shrank), so the
    // sink gets the bytes in place and nothing is counted twice.
    r.complete = reader.ReadAt(static_cast<std::int64_t>(offset), buffer.data(), count);
    r.written = sink.Write(buffer.data(), count);
    return r;
}

}  // namespace tarnwell
