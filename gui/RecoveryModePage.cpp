#include "gui/RecoveryModePage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QRegularExpressionValidator>

#include "fs/FileSystemRegistry.h"
#include "gui/AdvancedInputPage.h"
#include "gui/ScanResultsPage.h"
#include "gui/WizardApp.h"

namespace tarnwell {

RecoveryModePage::RecoveryModePage(WizardApp& app, PageKind parentKind)
    : WizardPage(app, PageKind::RecoveryMode, "How thoroughly should the volume be read?") {
    parentPageKind = parentKind;
    auto* box = new QGroupBox("Select Recovery Mode:");
    auto* grid = new QGridLayout(box);
    standard_ = new QRadioButton("Standard");
    standard_->setObjectName("standard");
    advanced_ = new QRadioButton("Advanced");
    advanced_->setObjectName("advanced");
    deep_ = new QRadioButton("Deep");
    deep_->setObjectName("deep");
    maxLabel_ = new QLabel("Please Enter Max File Systems to Find :");
    maxLabel_->setObjectName("maxLabel");
    max_ = new QLineEdit;
    max_->setObjectName("maxFileSystems");
    max_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), max_));
    max_->setMaximumWidth(80);
    maxHint_ = new QLabel("( By  Default  it's  = 3 )");
    maxHint_->setObjectName("maxHint");
    formatted_ = new QCheckBox("Is Drive Formated..?");
    formatted_->setObjectName("formatted");
    auto* group = new QButtonGroup(this);
    for (QRadioButton* b : {standard_, advanced_, deep_}) group->addButton(b);
    grid->addWidget(standard_, 0, 0, 1, 4);
    grid->addWidget(advanced_, 1, 0, 1, 4);
    grid->addWidget(maxLabel_, 2, 1);
    grid->addWidget(max_, 2, 2);
    grid->addWidget(maxHint_, 2, 3);
    grid->addWidget(formatted_, 3, 1, 1, 3);
    grid->addWidget(deep_, 4, 0, 1, 4);
    grid->setColumnMinimumWidth(0, 20);
    grid->setColumnStretch(3, 1);
    Body()->addWidget(box);
    Body()->addStretch(1);

    max_->setText("3");
    ShowAdvancedControls(false);
    formatted_->hide();
    standard_->setChecked(true);
    ModeClicked(RecoveryMode::Standard);
    if (parentPageKind == PageKind::VolumeInformation || parentPageKind == PageKind::VolumeList)
        volume_ = Session().selectedVolume;
    const ParserKind parser =
        FileSystemByName(QString::fromStdString(volume_.fileSystem).trimmed().toStdString()).parser;
    // The FAT and exFAT parsers read a formatted volume's leftovers.
    fatFamily_ = parser == ParserKind::Fat16 || parser == ParserKind::Fat32 || parser == ParserKind::ExFat;
    if (fatFamily_) deep_->hide();
    else if (parser == ParserKind::Ext) deep_->hide(), advanced_->hide();
    else if (parser == ParserKind::HfsPlus) advanced_->hide();

    connect(standard_, &QRadioButton::clicked, this, [this] { ModeClicked(RecoveryMode::Standard); });
    connect(advanced_, &QRadioButton::clicked, this, [this] { ModeClicked(RecoveryMode::Advanced); });
    connect(deep_, &QRadioButton::clicked, this, [this] { ModeClicked(RecoveryMode::Deep); });
    connect(formatted_, &QCheckBox::toggled, this, [this](bool on) { Session().driveFormatted = on; });
}

void RecoveryModePage::ShowAdvancedControls(bool show) {
    for (QWidget* w : std::initializer_list<QWidget*>{maxLabel_, max_, maxHint_}) w->setVisible(show);
    if (!show) formatted_->hide();
}

void RecoveryModePage::ModeClicked(RecoveryMode mode) {
    Session().driveFormatted = false;
    formatted_->setChecked(false);
    mode_ = mode;
    ShowAdvancedControls(mode == RecoveryMode::Advanced);
    if (mode == RecoveryMode::Advanced)
        formatted_->setVisible(fatFamily_);
    Session().recoveryMode = mode;
}

void RecoveryModePage::OnNext() {
    ScanSession& s = Session();
    s.recoveryMode = mode_;
    s.selectedVolume = volume_;
    s.maxFileSystems = max_->text().toStdString();
    if (mode_ == RecoveryMode::Advanced)
        app_.Open(this, new AdvancedInputPage(app_));
    else
        app_.Open(this, new ScanResultsPage(app_));
}

}  // namespace tarnwell
