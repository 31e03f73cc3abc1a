#pragma once
// Mounted-volume road, second page: what the system reports for the volume.

#include <QLabel>

#include "app/VolumeEntry.h"
#include "app/WizardPage.h"

namespace tarnwell {

class VolumeOperations final : public WizardPage {
    Q_OBJECT
public:
    // entry belongs to the drive page, which lives for the whole run.
    VolumeOperations(CKorvaneApp& app, const VolumeEntry* entry);

protected:
    void OnNext() override;

private:
    const VolumeEntry* entry_;
};

}  // namespace tarnwell
