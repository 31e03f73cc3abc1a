#pragma once
// Stands where a page of a mode still to come will go; Back leads home.

#include "app/WizardPage.h"

namespace tarnwell {

class ModeMissingPage final : public WizardPage {
    Q_OBJECT
public:
    ModeMissingPage(CKorvaneApp& app, PageKind kind, const QString& what);
};

}  // namespace tarnwell
