#include "gui/PartitionScanPage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QRegularExpressionValidator>

#include "gui/VolumeListPage.h"
#include "gui/WizardApp.h"

namespace tarnwell {

std::int64_t LeadingNumber(const QString& text) {
    std::int64_t n = 0;
    for (QChar c : text.trimmed()) {
        if (!c.isDigit()) break;
        if (n > (INT64_MAX - 9) / 10) break;  // keeps what fits
        n = n * 10 + c.digitValue();
    }
    return n;
}

PartitionScanPage::PartitionScanPage(WizardApp& app, const std::string& devicePath)
    : WizardPage(app, PageKind::ParsingMode, "How should the volumes of this drive be found?") {
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Currently Selected Drive :"));
    drive_ = new QLabel;
    drive_->setObjectName("selectedDrive");
    drive_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(drive_, 1);
    Body()->addLayout(top);

    auto* box = new QGroupBox;
    auto* grid = new QGridLayout(box);
    standard_ = new QRadioButton("Standard Scan");
    standard_->setObjectName("standardScan");
    gpt_ = new QCheckBox("GPT format");
    gpt_->setObjectName("gptFormat");
    advance_ = new QRadioButton("Advance Scan");
    advance_->setObjectName("advanceScan");
    keepSize_ = new QCheckBox("Do not Skip Volume Size While Parsing in Advance  Scan ");
    keepSize_->setObjectName("keepSize");
    custom_ = new QCheckBox("Custom Setting:");
    custom_->setObjectName("customSetting");
    startLabel_ = new QLabel("Starting Sector:");
    endLabel_ = new QLabel("Ending Sector:");
    start_ = new QLineEdit;
    start_->setObjectName("startSector");
    end_ = new QLineEdit;
    end_->setObjectName("endSector");
    for (QLineEdit* e : {start_, end_}) e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
    auto* group = new QButtonGroup(this);
    group->addButton(standard_);
    group->addButton(advance_);

    grid->addWidget(standard_, 0, 0, 1, 3);
    grid->addWidget(gpt_, 1, 1);
    auto* gptHint = new QLabel("* Check If Partition type is GPT");
    grid->addWidget(gptHint, 1, 2);
    grid->addWidget(advance_, 2, 0, 1, 3);
    grid->addWidget(keepSize_, 3, 1, 1, 2);
    grid->addWidget(custom_, 4, 1, 1, 2);
    grid->addWidget(startLabel_, 5, 1);
    grid->addWidget(start_, 5, 2);
    grid->addWidget(endLabel_, 6, 1);
    grid->addWidget(end_, 6, 2);
    grid->setColumnMinimumWidth(0, 20);
    grid->setColumnStretch(2, 1);
    Body()->addWidget(box);
    Body()->addWidget(new QLabel("Choose any one of the mode and Click Next...."));
    Body()->addStretch(1);

    for (QWidget* w : std::initializer_list<QWidget*>{startLabel_, endLabel_, start_, end_}) w->setEnabled(false);
    Session().devicePath = devicePath;
    if (Session().reader) Session().OpenReader(devicePath);  // a failure has said so; the page works on
    drive_->setText(QString::fromStdString(devicePath));
    start_->setText("0");
    end_->setText("0");
    StandardClicked();

    connect(standard_, &QRadioButton::clicked, this, [this] { StandardClicked(); });
    connect(advance_, &QRadioButton::clicked, this, [this] { AdvanceClicked(); });
    connect(custom_, &QCheckBox::clicked, this, [this] { CustomClicked(); });
}

void PartitionScanPage::StandardClicked() {
    standard_->setChecked(true);
    keepSize_->setEnabled(false);
    custom_->setEnabled(false);
    if (custom_->isChecked()) {
        custom_->setChecked(false);
        CustomClicked();
    }
}

void PartitionScanPage::AdvanceClicked() {
    advance_->setChecked(true);
    keepSize_->setEnabled(true);
    custom_->setEnabled(true);
}

void PartitionScanPage::CustomClicked() {
    const bool on = custom_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{startLabel_, endLabel_, start_, end_}) w->setEnabled(on);
}

void PartitionScanPage::OnNext() {
    ScanSession& s = Session();
    s.devicePath = drive_->text().toStdString();
    s.keepVolumeSize = keepSize_->isChecked();
    s.partitionScanMode = standard_->isChecked() ? PartitionScanMode::Standard : PartitionScanMode::Advanced;
    s.gptFormat = gpt_->isChecked();
    s.customRangeSet = false;
    if (custom_->isChecked()) {
        const std::int64_t start = LeadingNumber(start_->text());
        const std::int64_t end = LeadingNumber(end_->text());
        if (end >= 0) {
            s.customRangeSet = true;
            s.customStartSector = start;
            s.customEndSector = end;
        }
    }
    if (!app_.Open(this, new VolumeListPage(app_))) Prompt().Inform("error creating PopulateDriveDlgptr");
}

}  // namespace tarnwell
