#pragma once
// Wizard pages, numbered by their dialog template.

namespace tarnwell {

enum class PageKind : int {
    About = 100,
    DriveSelection = 130,
    VolumeList = 134,
    VolumeInformation = 135,
    RecoveryMode = 136,
    ScanResults = 139,
    RawRecovery = 151,
    ParsingMode = 152,
    AdvancedInput = 153,
    SignatureSetting = 155,
};

}  // namespace tarnwell
