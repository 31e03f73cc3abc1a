#pragma once
// How thoroughly the chosen volume is parsed: Standard, Advanced or Deep, the
// modes offered by the kind of its file system.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "gui/WizardPage.h"
#include "scan/ScanSession.h"

namespace tarnwell {

class RecoveryModePage final : public WizardPage {
    Q_OBJECT
public:
    RecoveryModePage(WizardApp& app, PageKind parentKind);

    RecoveryMode Mode() const { return mode_; }

protected:
    void OnNext() override;

private:
    void ModeClicked(RecoveryMode mode);
    void ShowAdvancedControls(bool show);

    QRadioButton* standard_;
    QRadioButton* advanced_;
    QRadioButton* deep_;
    QLabel* maxLabel_;
    QLineEdit* max_;
    QLabel* maxHint_;
    QCheckBox* formatted_;
    VolumeEntry volume_;
    bool fatFamily_ = false;
    RecoveryMode mode_ = RecoveryMode::Standard;
};

}  // namespace tarnwell
