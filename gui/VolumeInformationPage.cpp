#include "gui/VolumeInformationPage.h"

#include <QFormLayout>
#include <QGroupBox>

#include "gui/RecoveryModePage.h"
#include "gui/WizardApp.h"

namespace tarnwell {

VolumeInformationPage::VolumeInformationPage(WizardApp& app, const VolumeEntry* entry)
    : WizardPage(app, PageKind::VolumeInformation, "The chosen volume"), entry_(entry) {
    auto* box = new QGroupBox("Volume Information:");
    auto* form = new QFormLayout(box);
    auto value = [&](const char* name, const std::string& text) {
        auto* label = new QLabel(QString::fromStdString(text));
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    form->addRow("Volume Name:", value("volumeName", entry->rootPath));
    form->addRow("Volume File System:", value("volumeFileSystem", entry->fileSystem));
    form->addRow("Volume Size:", value("volumeSize", entry->sizeText));
    Body()->addWidget(box);
    Body()->addStretch(1);
    NextButton()->setEnabled(true);
}

void VolumeInformationPage::OnNext() {
    Session().selectedVolume = *entry_;
    app_.Open(this, new RecoveryModePage(app_, PageKind::VolumeInformation));
}

}  // namespace tarnwell
