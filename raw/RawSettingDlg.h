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

#include "app/QtPrompter.h"
#include "raw/SignatureRecord.h"

namespace tarnwell {

class CKorvaneApp;

class RawSettingDlg final : public QDialog {
    Q_OBJECT
public:
    RawSettingDlg(CKorvaneApp& app, QWidget* parent = nullptr);
    ~RawSettingDlg() override;

    // The file that "Save" appends to; empty while none is open.
    const std::string& OpenFile() const { return file_; }
    SignatureFields Fields() const;

private:
    void ChooseFile();
    void Save();

    CKorvaneApp& app_;
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
