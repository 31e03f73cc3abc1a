#include "scan/ScanSession.h"

#include "device/FileReader.h"
#include "device/SourceOpener.h"

namespace tarnwell {

void ScanSession::ResetReader() {
    reader = readerPrompter ? std::make_unique<FileReader>(*readerPrompter) : std::make_unique<FileReader>();
}

bool ScanSession::OpenReader(const std::string& path) {
    // Containers (E01, VHD, VMDK, QCOW2, split raw) need a reader of their own,
    // so the reader is replaced rather than reopened.
    OpenedSource opened = OpenSourceReader(path, readerPrompter ? *readerPrompter : DefaultPrompter());
    if (!opened.reader) {
        ResetReader();  // unopened, yet there: pages tell a missing reader from one that failed
        deviceSectorCount = 0;
        return false;
    }
    reader = std::move(opened.reader);
    deviceSectorCount = reader->deviceSectorCount();
    return true;
}

}  // namespace tarnwell
