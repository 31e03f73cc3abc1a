#include "gui/SignatureSettingsBox.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QToolTip>

#include <fstream>

#include "gui/Artwork.h"
#include "gui/EventText.h"
#include "gui/WizardApp.h"

namespace tarnwell {

namespace {
const char* const kExtensionTip =
    "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";
const char* const kExtensionClickTip =
    "here enter the file extentiom .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";

struct FieldRow {
    const char* label;
    const char* name;
    const char* tip;
};

const FieldRow kRows[] = {
    {"File Extention :", "extension", kExtensionTip},
    {"Starting Signature :", "startSignature",
     "here enter the file signature that happens to be in the starting of the file.\n example 0x89,0x50,0x4E,0x47  "
     "for png File"},
    {"Ending Signature :", "endSignature",
     "here enter the file signature that happens to be in the end of the file.\n Example "
     "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it if you dont know ."},
    {"Offset to Size Byte :", "sizeOffset",
     "if  the size of file is given in the header and you know its offset please enter that offset here.\n its "
     "optional Field .you can leave it if you don't know."},
    {"Number Of Bytes In Size :", "sizeBytes",
     "if  you know how many bytes represents size please enter that number of bytes  here.\n its optional Field .you "
     "can leave it ifyou  don't know."},
    {"Size includes header size", "sizeIncludesHeader",
     "check this checkbox if the size alkso includes the header size else leave it.\n its optional Field .you can "
     "leave it if you don't know."},
    {"Header size :", "headerSize",
     "please enter the header size in bytes here.\n its optional Field .you can leave it if you don't know."},
    {"Size_to_skip_WhileParsing :", "skipSize",
     "when we find the file signature you mentioned  above we can skip further file scanning by an amount you enter "
     "here.\n For example mp3 are generally greater then 2 mb .so you can enter 2097152 bytes here.\n its optional "
     "Field .you can leave it ."},
    {"Approx file size :", "approxSize",
     "please enter approx file size here.\n its optional Field .you can leave it if you don't know."},
    {"Put Under Category :", "category", "here enter the name of category you want to put these files under"},
};
}  // namespace

SignatureSettingsBox::SignatureSettingsBox(WizardApp& app, QWidget* parent)
    : QDialog(parent), app_(app), prompter_(app.Answerer()) {
    prompter_.SetOwner(this);
    setObjectName("page155");
    setWindowTitle(kProductCaption);
    setModal(true);
    setMinimumWidth(560);  // room for a ten-byte signature typed in hex

    auto* grid = new QGridLayout;
    auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]{0,18}"), this);
    QLineEdit** edits[] = {&extension_, &start_,      &end_,     &sizeOffset_, &sizeBytes_,
                           nullptr,     &headerSize_, &skipSize_, &approxSize_, &category_};
    for (int i = 0; i < 10; ++i) {
        const FieldRow& row = kRows[i];
        if (edits[i]) {
            auto* edit = new QLineEdit;
            edit->setObjectName(row.name);
            if (i >= 3 && i <= 8) edit->setValidator(digits);
            *edits[i] = edit;
            grid->addWidget(new QLabel(row.label), i, 0);
            grid->addWidget(edit, i, 1);
        } else {
            includesHeader_ = new QCheckBox(row.label);
            includesHeader_->setObjectName(row.name);
            grid->addWidget(includesHeader_, i, 1);
        }
        auto* info = new QToolButton;
        info->setObjectName(QString("info%1").arg(1306 + i));
        info->setIcon(art::ButtonIcon(art::Glyph::Info));
        info->setAutoRaise(true);
        info->setToolTip(row.tip);
        const QString clickTip = i == 0 ? QString(kExtensionClickTip) : QString(row.tip);
        connect(info, &QToolButton::clicked, this, [info, clickTip] {
            info->setToolTip(clickTip);
            QToolTip::showText(info->mapToGlobal(info->rect().bottomLeft()), clickTip, info);
        });
        grid->addWidget(info, i, 2);
    }
    grid->setColumnStretch(1, 1);

    auto* group = new QGroupBox("Select Path to Save Entries");
    auto* pathRow = new QHBoxLayout(group);
    path_ = new QLineEdit;
    path_->setObjectName("settingsPath");
    path_->setReadOnly(true);
    auto* choose = new QPushButton("...");
    choose->setObjectName("chooseFile");
    choose->setAutoDefault(false);
    auto* save = new QPushButton(art::ButtonIcon(art::Glyph::Save), "Save");
    save->setObjectName("save");
    save->setAutoDefault(false);
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(choose);
    pathRow->addWidget(save);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    for (auto* b : buttons->buttons()) static_cast<QPushButton*>(b)->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(group);
    layout->addWidget(buttons);

    connect(choose, &QPushButton::clicked, this, [this] { ChooseFile(); });
    connect(save, &QPushButton::clicked, this, [this] { Save(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SignatureSettingsBox::~SignatureSettingsBox() { prompter_.Shutdown(); }

SignatureFields SignatureSettingsBox::Fields() const {
    SignatureFields f;
    f.extension = extension_->text().toStdString();
    f.start = start_->text().toStdString();
    f.end = end_->text().toStdString();
    f.sizeOffset = sizeOffset_->text().toStdString();
    f.sizeBytes = sizeBytes_->text().toStdString();
    f.headerSize = headerSize_->text().toStdString();
    f.skipSize = skipSize_->text().toStdString();
    f.approximateSize = approxSize_->text().toStdString();
    f.sizeIncludesHeader = includesHeader_->isChecked();
    f.category = category_->text().toStdString();
    return f;
}

void SignatureSettingsBox::ChooseFile() {
    const QString chosen = app_.chooseNewSettingsFile ? app_.chooseNewSettingsFile() : QString();
    if (chosen.isEmpty()) return;
    path_->setText(chosen);
    file_.clear();
    // Created anew: an existing file is emptied before the first Save.
    std::ofstream created(chosen.toStdString(), std::ios::binary | std::ios::trunc);
    if (!created) {
        prompter_.Inform("file can not be created");
        return;
    }
    file_ = chosen.toStdString();
}

void SignatureSettingsBox::Save() {
    if (file_.empty()) return;
    std::string message;
    auto record = BuildSignatureRecord(Fields(), message);
    if (record) message = AppendText(AppendSignatureRecord(file_, *record), file_);
    prompter_.Inform(message);
}

}  // namespace tarnwell
