#include "app/ModeMissingPage.h"

#include <QLabel>

namespace tarnwell {

ModeMissingPage::ModeMissingPage(CKorvaneApp& app, PageKind kind, const QString& what)
    : WizardPage(app, kind, "Not available yet") {
    auto* text = new QLabel(what + " is not there yet in this version of Tarnwell. Go Back and choose another mode.");
    text->setObjectName("missingText");
    text->setWordWrap(true);
    Body()->addWidget(text);
    Body()->addStretch(1);
    NextButton()->setEnabled(false);
}

}  // namespace tarnwell
