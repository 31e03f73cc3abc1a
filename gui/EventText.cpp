#include "gui/EventText.h"

#include <cstdio>

namespace tarnwell {

namespace {
const char* const kScanDone = "Scanning processing done.Select save button to save the data.";
const char* const kCarveDone = "Scanning processing done.Select save button to save the data..";
// A stopped scan must not read as a finished one: its rows are only part of the volume's.
const char* const kStopped =
    "Scanning stopped before the end. Only what was found until then is listed; select save button to save it.";

std::string Format(const char* format, long long a, long long b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string Joined(const std::vector<std::string>& lines, std::size_t most) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < most; ++i) text += "\n" + lines[i];
    if (lines.size() > most) text += "\n...";
    return text;
}

// The names the worker's texts give the FAT kinds.
const char* FatText(const std::string& kind) {
    if (kind == "fat32") return "Fat32";
    if (kind == "exfat") return "Fat64";
    return "Fat16";
}

std::string Capital(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
}

std::string VolumeFoundText(const Event& e) {
    if (e.kind == "ntfs") return Format("found NTFS %lld...", e.count);
    if (e.kind == "fat12") return "found FAT 12...";
    if (e.kind == "fat16") return "found FAT 16...";
    if (e.kind == "fat32") return "found FAT 32...";
    if (e.kind == "exfat") return "found FAT 64...";
    if (e.kind == "hfsplus") return "found HFS+...";
    if (e.kind == "ext") return "found extX...";
    return {};
}

std::string TypeFoundText(const Event& e) {
    if (e.kind == "ntfs") return e.count > 0 ? Format("found NTFS %lld...", e.count) : "found NTFS...";
    if (e.kind == "fat16") return "found FAT 16...";
    if (e.kind == "fat32") return "found FAT 32...";
    if (e.kind == "exfat") return "found FAT64...";
    if (e.kind == "dynamic") return "NTFS...";
    if (e.kind == "ext2") return "found ext2...";
    if (e.kind == "ext") return "found extx...";
    return "found UNKNOWN...";
}

std::string SaveEndText(const Event& e) {
    if (!e.stopped && e.failed == 0 && e.partial == 0) return "work done";
    return Format(e.stopped ? "Saving stopped: %lld of %lld files written whole, " : "Saving ended: %lld of %lld files written whole, ",
                  e.count, e.total) +
           Format("%lld partial, %lld failed.", e.partial, e.failed) + Joined(e.lines, 8);
}

std::string CarveSaveEndText(const Event& e) {
    // "work done" only for a save that wrote every file it was asked for.
    const char* lead = e.stopped ? "Saving stopped" : e.failed > 0 ? "Saving ended" : "work done";
    std::string text = std::string(lead) + ": " + Format("%lld of %lld files written into ", e.count, e.total) + e.name;
    if (e.failed > 0) text += "\n" + std::to_string(e.failed) + " could not be written:" + Joined(e.lines, 8);
    if (e.stopped) text += "\nStopped before the rest were written.";
    return text;
}

// The one text a step has wherever it shows.
std::string Text(const Event& e) {
    switch (e.step) {
        case Step::None: return {};
        case Step::SourceNotOpened: return "invalid handle ...";
        case Step::VolumeNotReadable: return "not a valid drive.";
        case Step::NoParser: return "not a valid drive. (" + e.kind + " volumes cannot be read by this build)";
        case Step::ReaderMissing: return "Please Restart the program to re begin necessary initialization...";
        case Step::ModeNotAvailable:
            return "The " + Capital(e.name) + " mode is not available for " + e.kind + " volumes.";
        case Step::FatModeNotAvailable:
            return std::string(e.name == "deep" ? "The deep scan" : "The advanced scan") + " is not available for " +
                   (e.kind == "fat32" ? "FAT32" : "FAT12 and FAT16") +
                   " volumes yet; the standard and advanced scans read them.";
        case Step::NotThisFileSystem:
            if (e.kind == "ext") return "No ext2/ext3/ext4 superblock was found on this volume.";
            if (e.kind == "exfat") return "Selected Drive is not in exFat Format";
            return std::string("Selected Drive is not in ") + FatText(e.kind) + " Format";
        case Step::NtfsSelected: return "ntfs partition selected....";
        case Step::HfsPlusSelected: return "HFS+ partition selected....";
        case Step::ExFatUnreadable: return "cant read file";
        case Step::ExtUnreadable: return "The volume cannot be read.";
        case Step::VolumeTooSmall:
            return e.kind == "exfat" ? "The volume is too small to hold an exFAT file system."
                                     : "The volume is too small to hold a FAT file system.";
        case Step::BadClusterSize: return "The picked cluster size is not one an exFAT volume can have.";
        case Step::NoHeap: return "NO HEAP_OFFSET_ENTRY found ..";
        case Step::NoTable: return std::string("NO FAT  ") + (e.kind == "fat32" ? "FAT32" : "FAT16") + "-ENTRY found ..";
        case Step::NoDataArea: return "The picked table and cluster size leave no data area.";
        case Step::NoMftRecord: return "The picked MFT candidate holds no usable MFT record.";
        case Step::HfsBadBlockSize: return "BlockSize not valid .Aborting..";
        case Step::HfsCatalogUnreadable: return "The catalog file cannot be read";
        case Step::FindingTables: return std::string("Finding ") + FatText(e.kind) + " tables....";
        case Step::FoundTable: return Format("found fat entry  %lld ", e.count);
        case Step::FindingEntries:
            return std::string("Finding ") + FatText(e.kind) + " File And Directory entries recursively....";
        case Step::ProcessingEntries: return "processing file and directory entries...";
        case Step::FoundEntry: return Format("found Entry %lld ", e.count);
        case Step::EarlierFolders: return "Searching the volume for folders of the earlier file system....";
        case Step::ExtGroup: return Format("parsing group %lld  of %lld ", e.count, e.total);
        case Step::ExtInode: return Format("parsing inode entry %lld  of %lld ", e.count, e.total);
        case Step::ExtInodesDone: return Format("parsed inode entry %lld  of %lld ", e.count, e.total);
        case Step::NtfsDeepScanning: return " scanning for mft entries in deep mode ....";
        case Step::NtfsParsingMft: return " ParsingBasedOnMFT is going on....";
        case Step::NtfsBootFine: return "boot sector is fine.Getting run of mft entry...";
        case Step::NtfsGotRun: return "Got run...";
        case Step::NtfsBootCorrupt: return "boot sector corrupt.Scanning for first mft entry...";
        case Step::NtfsFoundMft: return "found mft entry.getting its run ...";
        case Step::NtfsGotMftRun: return "got run ...";
        case Step::NtfsRunCluster: return Format("parsing %lld cluster of MFT run.", e.count);
        case Step::NtfsRecord: return Format("parsing MFT entry %lld...", e.count);
        case Step::NtfsDeepRecord: return Format("MFT ENTRY %lld Found.Parsing it ..", e.count);
        case Step::NtfsMftCandidate: return Format("MFT ENTRY %lld Found.Parsing it ...", e.count);
        case Step::HfsScanningNodes: return "Scanning the volume for catalog nodes....";
        case Step::TreeInRows: return "maintaining tree Structure in vector...";
        case Step::TreeCreating: return "Creating Tree Structure....";
        case Step::TreeCreated: return "Tree Structure Created.";
        case Step::ExFatTreeCreating: return "creating tree Structure...";
        case Step::AdvancedDirectories: return "Maintaining directory Structure in AdvanceScanning";
        case Step::AdvancedTree: return "Maintaining TreeStructure for Tree Control";
        case Step::ClearingRows: return "clearing vector....";
        case Step::ParentChild: return "Maintaining Parent Child....";
        case Step::ParentChildRecord: return Format("Maintaining Parent Child for record %lld of %lld....", e.count, e.total);
        case Step::RootEntries: return "filling root entries in  tree....";
        case Step::PartitionScan: return "Scanning partition.....";
        case Step::GptHeaderMissing: return "GPT header not found.";
        case Step::VolumeFound: return VolumeFoundText(e);
        case Step::TypeFound: return TypeFoundText(e);
        case Step::UnknownVolumeFound: return "found unknown...";
        case Step::PartitionsScanned: return "Scanned Partitions";
        case Step::ScanFailed: return "The scan failed: " + e.detail + ". What it found is not shown.";
        case Step::ScanAborted: return "Work Aborted....";
        case Step::ScanDone: return "Work Done.";
        case Step::ScanFinished: return kScanDone;
        case Step::ScanStopped: return kStopped;
        case Step::Busy: return "Please wait for other process to complete";
        case Step::Paused: return "Pause button pressed";
        case Step::Resumed: return "Resume button pressed";
        case Step::ScanStopAsked: return "stop button pressed.Please wait for the process to be stopped.";
        case Step::CarveStopAsked: return "Stop button pressed.Please wait for the process to stop";
        case Step::SearchHit: return "searched file " + std::to_string(e.count);
        case Step::SearchFailed: return "The search failed: " + e.detail + ".";
        case Step::SearchInvalidPattern:
            return "such characters are not allowed for search.Try again with different pattern.";
        case Step::SearchFinished: return "Searching Finished";
        case Step::NoOutputFolder: return "select output folder";
        case Step::NothingSelected: return "Please Select item from tree to save";
        case Step::OutputRefused: return e.detail;
        case Step::SaveConfirm:
            return Format("number of files found inside this folder = %lld .do u want to continue dumping these files..?",
                          e.count);
        case Step::SavingFile: return "saving File  " + e.name;
        case Step::SaveEnded: return SaveEndText(e);
        case Step::SaveFailed: return "The save failed: " + e.detail + ".";
        case Step::FileSaveFailed: return "The file could not be saved: " + e.detail + ".";
        case Step::FileNotSaved:
            return "The file " + e.name + " could not be saved" + (e.detail.empty() ? "" : ": " + e.detail);
        case Step::FileSaved: {
            std::string text;
            if (!e.detail.empty()) text = "file is dumped in path  :  " + e.detail + "   ";
            if (e.partial > 0)
                text += std::string(text.empty() ? "" : "\n") + "The file " + e.name +
                        " was saved partly: some of its data could not be read and stands as zeros.";
            return text;
        }
        case Step::IsDirectory: return "This is  " + e.name + " directory .Please specify file names ";
        case Step::DataUnreadable: return e.detail;
        case Step::Exception: return "Exception :  " + e.detail + "   ";
        case Step::SignatureFileError: return e.detail;
        case Step::SignaturesLeftOut: return "Some signature types were left out:" + Joined(e.lines, 8);
        case Step::NoSignatureFile: return "enter the info file first..";
        case Step::NoSignatureTypes:
            return "No file types are loaded, so there is nothing to look for. "
                   "Tick \"Load Default Items\" or choose a valid settings file.";
        case Step::ZeroSizeVolume: return "zero size volume..";
        case Step::CarveNoSource:
            return "The drive could not be opened for reading, so nothing can be recovered from it. "
                   "Go Back and choose the drive again.";
        case Step::Carving: return "Processing.....";
        case Step::CarveFinished: return e.stopped ? kStopped : kCarveDone;
        case Step::CarveEnded: return e.stopped ? "Processing stopped" : "Processing done";
        case Step::UnreadableSectors:
            return Format("%lld sectors could not be read; they were taken as zeros.", e.count);
        case Step::CarveSaving: return "Saving files.....";
        case Step::CarveSaveEnded: return CarveSaveEndText(e);
        case Step::CarveFailed:
            return e.detail.empty() ? std::string("The carve failed: an unknown error.")
                                    : "The carve failed: " + e.detail + ".";
    }
    return {};
}
}  // namespace

std::string StatusText(const Event& e) {
    switch (e.step) {
        case Step::VolumeNotReadable:
        case Step::NoParser: return "Not a valid Drive .Go back";
        case Step::SaveEnded: {
            if (OutcomeOf(e) == Outcome::Done) return {};  // the page says what a whole save did
            std::string text = SaveEndText(e);
            return text.substr(0, text.find('\n'));
        }
        case Step::CarveSaveEnded: return e.failed > 0 ? "Saving done, with files not written" : "Saving done";
        default: return Text(e);
    }
}

std::string MessageText(const Event& e) { return Text(e); }

std::string AppendText(AppendResult result, const std::string& path) {
    switch (result) {
        case AppendResult::Appended: return "everything initialized well.....";
        case AppendResult::CannotCreate: return "file can not be created";
        case AppendResult::FileFull: return "a settings file holds at most 256 records";
        case AppendResult::WriteFailed: return "the record could not be written to " + path;
    }
    return {};
}

}  // namespace tarnwell
