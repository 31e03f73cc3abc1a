#pragma once
// The signature settings dialog, modal from the raw recovery page: chooses (and
// empties) a settings file, then appends one record per "Save", built from the
// fields by the same code as `tarnwell signatures add`.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <string>
#include <vector>

#include "carve/SignatureRecord.h"
#include "gui/QtPrompter.h"

namespace tarnwell {

class WizardApp;

class SignatureSettingsBox final : public QDialog {
    Q_OBJECT
public:
    SignatureSettingsBox(WizardApp& app, QWidget* parent = nullptr);
    ~SignatureSettingsBox() override;

    // The file that "Save" appends to; empty while none is open.
    const std::string& OpenFile() const { return file_; }
    SignatureFields Fields() const;

private:
    void ChooseFile();
    void Save();

    WizardApp& app_;
    QtPrompter prompter_;
    QLineEdit* extension_;
    QLineEdit* start_;
    QLineEdit* end_;
    QLineEdit* sizeOffset_;
    QLineEdit* sizeBytes_;
    QCheckBox* includesHeader_;
    QLineEdit* headerSize_;
    QLineEdit* skipSize_;
    QLineEdit* approxSize_;
    QLineEdit* category_;
    QLineEdit* path_;
    std::string file_;
};

}  // namespace tarnwell
