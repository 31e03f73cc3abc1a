#pragma once
// Mounted-volume road, second page: what the system reports for the volume.

#include <QLabel>

#include "gui/WizardPage.h"
#include "partition/VolumeEntry.h"

namespace tarnwell {

class VolumeInformationPage final : public WizardPage {
    Q_OBJECT
public:
    // entry belongs to the drive page, which lives for the whole run.
    VolumeInformationPage(WizardApp& app, const VolumeEntry* entry);

protected:
    void OnNext() override;

private:
    const VolumeEntry* entry_;
};

}  // namespace tarnwell
