#pragma once
// Physical-drive road, second page: opens the drive and chooses how its
// volumes are found (partition tables, or a boot-sector search with options).

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "gui/WizardPage.h"

namespace tarnwell {

class PartitionScanPage final : public WizardPage {
    Q_OBJECT
public:
    PartitionScanPage(WizardApp& app, const std::string& devicePath);

protected:
    void OnNext() override;

private:
    void StandardClicked();
    void AdvanceClicked();
    void CustomClicked();

    QLabel* drive_;
    QRadioButton* standard_;
    QCheckBox* gpt_;
    QRadioButton* advance_;
    QCheckBox* keepSize_;
    QCheckBox* custom_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLineEdit* start_;
    QLineEdit* end_;
};

// Leading decimal digits as a signed 64-bit number; empty text gives 0.
std::int64_t LeadingNumber(const QString& text);

}  // namespace tarnwell
