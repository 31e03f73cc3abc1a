#include "device/SourceOpener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "device/FileReader.h"
#include "device/ImageReaders.h"

namespace tarnwell {

const char* SourceKindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::Raw: return "raw";
        case SourceKind::BlockDevice: return "block device";
        case SourceKind::SplitRaw: return "split raw";
        case SourceKind::Ewf: return "EWF";
        case SourceKind::Vhd: return "VHD";
        case SourceKind::Vhdx: return "VHDX";
        case SourceKind::Vmdk: return "VMDK";
        case SourceKind::Qcow: return "QCOW";
    }
    return "raw";
}

SourceKind DetectSourceKind(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SourceKind::Raw;
    struct stat st {};
    ::fstat(fd, &st);
    if (S_ISBLK(st.st_mode)) {
        ::close(fd);
        return SourceKind::BlockDevice;
    }
    unsigned char head[64] = {0}, tail[512] = {0};
    ssize_t got = ::pread(fd, head, sizeof head, 0);
    bool haveTail = st.st_size >= 512 && ::pread(fd, tail, sizeof tail, st.st_size - 512) == 512;
    ::close(fd);
    if (got < 8) return SourceKind::Raw;
    auto at = [&](const char* magic, std::size_t n) { return std::memcmp(head, magic, n) == 0; };
    if (at("EVF\x09\x0D\x0A\xFF\x00", 8) || at("EVF2\x0D\x0A\x81\x00", 8)) return SourceKind::Ewf;
    if (at("vhdxfile", 8)) return SourceKind::Vhdx;
    if (at("conectix", 8) || (haveTail && std::memcmp(tail, "conectix", 8) == 0)) return SourceKind::Vhd;
    if (at("KDMV", 4) || at("# Disk DescriptorFile", 21)) return SourceKind::Vmdk;
    if (at("QFI\xFB", 4)) return SourceKind::Qcow;
    if (!SplitRawReader::FindParts(path).empty()) return SourceKind::SplitRaw;
    return SourceKind::Raw;
}

OpenedSource OpenSourceReader(const std::string& path, Prompter& prompter) {
    OpenedSource out;
    out.kind = DetectSourceKind(path);
    auto failed = [&](std::string why) {
        out.reader.reset();
        out.error = std::move(why);
        prompter.Inform(Event(Step::SourceNotOpened));
        return std::move(out);
    };
    switch (out.kind) {
        case SourceKind::Raw:
        case SourceKind::BlockDevice: {
            // The one message comes from here; the reader keeps the prompter, so it outlives this call.
            static SilentPrompter quiet;
            auto reader = std::make_unique<FileReader>(quiet);
            if (!reader->Open(path)) return failed("cannot open " + path + ": " + reader->LastError());
            out.reader = std::move(reader);
            return out;
        }
        case SourceKind::SplitRaw: {
            auto reader = std::make_unique<SplitRawReader>();
            if (!reader->Open(path)) return failed(reader->LastError());
            out.reader = std::move(reader);
            return out;
        }
        default: break;
    }
    std::unique_ptr<ContainerReader> reader = out.kind == SourceKind::Ewf    ? MakeEwfReader()
                                              : out.kind == SourceKind::Vmdk ? MakeVmdkReader()
                                              : out.kind == SourceKind::Qcow ? MakeQcowReader()
                                                                             : MakeVhdiReader();
    if (!reader->Open(path))
        return failed(std::string("cannot open the ") + SourceKindName(out.kind) + " image " + path + ": " +
                      reader->LastError());
    out.reader = std::move(reader);
    return out;
}

}  // namespace tarnwell
