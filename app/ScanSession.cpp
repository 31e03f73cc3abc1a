#include "app/ScanSession.h"

#include "device/FileReadSeek.h"

namespace tarnwell {

void ScanSession::ResetReader() {
    reader = readerPrompter ? std::make_unique<FileReadSeek>(*readerPrompter) : std::make_unique<FileReadSeek>();
}

bool ScanSession::OpenReader(const std::string& path) {
    if (!reader) ResetReader();
    bool ok = reader->Open(path);
    deviceSectorCount = ok ? reader->deviceSectorCount() : 0;
    return ok;
}

}  // namespace tarnwell
