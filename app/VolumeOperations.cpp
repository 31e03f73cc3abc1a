#include "app/VolumeOperations.h"

#include <QFormLayout>
#include <QGroupBox>

#include "app/CKorvaneApp.h"
#include "app/ParceModeNtfsDlg.h"

namespace tarnwell {

VolumeOperations::VolumeOperations(CKorvaneApp& app, const VolumeEntry* entry)
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

void VolumeOperations::OnNext() {
    Session().selectedVolume = *entry_;
    app_.Open(this, new ParceModeNtfsDlg(app_, PageKind::VolumeInformation));
}

}  // namespace tarnwell
