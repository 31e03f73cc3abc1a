#include "core/Event.h"

namespace tarnwell {

Phase PhaseOf(Step step) {
    switch (step) {
        case Step::None: return Phase::None;
        case Step::SourceNotOpened:
        case Step::VolumeNotReadable:
        case Step::NoParser:
        case Step::ReaderMissing:
        case Step::ModeNotAvailable:
        case Step::FatModeNotAvailable:
        case Step::NtfsSelected:
        case Step::HfsPlusSelected:
        case Step::NtfsDeepScanning:
        case Step::NtfsParsingMft: return Phase::Opening;
        case Step::NotThisFileSystem:
        case Step::ExFatUnreadable:
        case Step::ExtUnreadable:
        case Step::VolumeTooSmall:
        case Step::BadClusterSize:
        case Step::NtfsBootFine:
        case Step::NtfsBootCorrupt:
        case Step::HfsBadBlockSize: return Phase::ReadingBootSector;
        case Step::NoHeap:
        case Step::NoTable:
        case Step::NoDataArea:
        case Step::NoMftRecord:
        case Step::HfsCatalogUnreadable:
        case Step::FindingTables:
        case Step::FoundTable:
        case Step::ExtGroup:
        case Step::NtfsGotRun:
        case Step::NtfsFoundMft:
        case Step::NtfsGotMftRun:
        case Step::NtfsRunCluster: return Phase::ReadingTables;
        case Step::FindingEntries:
        case Step::ProcessingEntries:
        case Step::FoundEntry:
        case Step::ExtInode:
        case Step::ExtInodesDone:
        case Step::NtfsRecord:
        case Step::NtfsDeepRecord:
        case Step::NtfsMftCandidate:
        case Step::HfsScanningNodes: return Phase::ReadingRecords;
        case Step::TreeInRows:
        case Step::TreeCreating:
        case Step::TreeCreated:
        case Step::ExFatTreeCreating:
        case Step::AdvancedDirectories:
        case Step::AdvancedTree:
        case Step::ClearingRows:
        case Step::ParentChild:
        case Step::ParentChildRecord:
        case Step::RootEntries: return Phase::BuildingTree;
        case Step::PartitionScan:
        case Step::GptHeaderMissing:
        case Step::VolumeFound:
        case Step::TypeFound:
        case Step::UnknownVolumeFound:
        case Step::PartitionsScanned: return Phase::ScanningPartitions;
        case Step::ScanFailed:
        case Step::ScanAborted:
        case Step::ScanDone:
        case Step::ScanFinished:
        case Step::ScanStopped: return Phase::Finishing;
        case Step::Busy:
        case Step::Paused:
        case Step::Resumed:
        case Step::ScanStopAsked:
        case Step::CarveStopAsked: return Phase::Control;
        case Step::EarlierFolders:
        case Step::SearchHit:
        case Step::SearchFailed:
        case Step::SearchInvalidPattern:
        case Step::SearchFinished: return Phase::Searching;
        case Step::NoOutputFolder:
        case Step::NothingSelected:
        case Step::OutputRefused:
        case Step::SaveConfirm:
        case Step::SavingFile:
        case Step::SaveEnded:
        case Step::SaveFailed:
        case Step::FileSaveFailed:
        case Step::FileNotSaved:
        case Step::FileSaved:
        case Step::IsDirectory:
        case Step::DataUnreadable:
        case Step::Exception:
        case Step::CarveSaving:
        case Step::CarveSaveEnded: return Phase::Saving;
        case Step::SignatureFileError:
        case Step::SignaturesLeftOut:
        case Step::NoSignatureFile:
        case Step::NoSignatureTypes:
        case Step::ZeroSizeVolume:
        case Step::CarveNoSource:
        case Step::Carving:
        case Step::CarveFinished:
        case Step::CarveEnded:
        case Step::UnreadableSectors:
        case Step::CarveFailed: return Phase::Carving;
    }
    return Phase::None;
}

Outcome OutcomeOf(const Event& e) {
    switch (e.step) {
        case Step::SourceNotOpened:
        case Step::VolumeNotReadable:
        case Step::NoParser:
        case Step::ReaderMissing:
        case Step::ModeNotAvailable:
        case Step::FatModeNotAvailable:
        case Step::NotThisFileSystem:
        case Step::ExFatUnreadable:
        case Step::ExtUnreadable:
        case Step::VolumeTooSmall:
        case Step::BadClusterSize:
        case Step::NoTable:
        case Step::NoDataArea:
        case Step::NoMftRecord:
        case Step::HfsBadBlockSize:
        case Step::HfsCatalogUnreadable:
        case Step::Busy:
        case Step::SearchInvalidPattern:
        case Step::NoOutputFolder:
        case Step::NothingSelected:
        case Step::OutputRefused:
        case Step::IsDirectory:
        case Step::SignatureFileError:
        case Step::NoSignatureFile:
        case Step::NoSignatureTypes:
        case Step::ZeroSizeVolume:
        case Step::CarveNoSource: return Outcome::Refused;
        case Step::ScanFailed:
        case Step::ScanAborted:
        case Step::SearchFailed:
        case Step::SaveFailed:
        case Step::FileSaveFailed:
        case Step::FileNotSaved:
        case Step::DataUnreadable:
        case Step::Exception:
        case Step::CarveFailed: return Outcome::Failed;
        case Step::NoHeap:  // the tree is still built, from the entries alone
        case Step::SignaturesLeftOut:
        case Step::UnreadableSectors: return Outcome::Warning;
        case Step::ScanStopped: return Outcome::Stopped;
        case Step::ScanDone:
        case Step::ScanFinished:
        case Step::SearchFinished:
        case Step::PartitionsScanned: return Outcome::Done;
        case Step::SaveEnded:
        case Step::CarveSaveEnded:
            if (e.stopped) return Outcome::Stopped;
            return e.failed > 0 || e.partial > 0 ? Outcome::Warning : Outcome::Done;
        case Step::FileSaved: return e.partial > 0 ? Outcome::Warning : Outcome::Done;
        case Step::CarveFinished:
        case Step::CarveEnded: return e.stopped ? Outcome::Stopped : Outcome::Done;
        default: return Outcome::None;
    }
}

Reason ReasonOf(Step step) {
    switch (step) {
        case Step::NotThisFileSystem: return Reason::NotThisFileSystem;
        case Step::ModeNotAvailable:
        case Step::FatModeNotAvailable: return Reason::ModeNotAvailable;
        case Step::VolumeNotReadable:
        case Step::NoParser:
        case Step::ReaderMissing: return Reason::NoReader;
        case Step::SourceNotOpened:
        case Step::ExFatUnreadable:
        case Step::ExtUnreadable:
        case Step::HfsCatalogUnreadable:
        case Step::CarveNoSource:
        case Step::DataUnreadable: return Reason::Unreadable;
        case Step::VolumeTooSmall:
        case Step::BadClusterSize:
        case Step::NoHeap:
        case Step::NoTable:
        case Step::NoDataArea:
        case Step::NoMftRecord:
        case Step::HfsBadBlockSize: return Reason::NoStructure;
        case Step::Busy: return Reason::Busy;
        case Step::NothingSelected:
        case Step::IsDirectory: return Reason::NothingSelected;
        case Step::NoOutputFolder: return Reason::NoOutputFolder;
        case Step::OutputRefused: return Reason::OutputRefused;
        case Step::SignatureFileError:
        case Step::NoSignatureFile:
        case Step::NoSignatureTypes:
        case Step::SignaturesLeftOut: return Reason::NoSignatures;
        case Step::ZeroSizeVolume: return Reason::ZeroSize;
        case Step::SearchInvalidPattern: return Reason::InvalidPattern;
        case Step::ScanFailed:
        case Step::SearchFailed:
        case Step::SaveFailed:
        case Step::FileSaveFailed:
        case Step::Exception:
        case Step::CarveFailed: return Reason::Exception;
        case Step::UnreadableSectors: return Reason::UnreadableSectors;
        default: return Reason::None;
    }
}

}  // namespace tarnwell
