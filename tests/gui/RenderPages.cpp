// Renders every wizard page to a PNG, for the README and for looking at the
// pages without running the wizard: tarnwell-render-pages OUTPUT_FOLDER.

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "core/DisplayText.h"
#include "device/MemoryReader.h"
#include "gui/AboutBox.h"
#include "gui/AdvancedInputPage.h"
#include "gui/DriveSelectionPage.h"
#include "gui/PartitionScanPage.h"
#include "gui/RawRecoveryPage.h"
#include "gui/RecoveryModePage.h"
#include "gui/ScanResultsPage.h"
#include "gui/SignatureSettingsBox.h"
#include "gui/VolumeInformationPage.h"
#include "gui/VolumeListPage.h"
#include "GuiTestSupport.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;

namespace {
// The fake tree with plausible times and attributes, for a picture worth showing.
class PictureParser final : public FakeParser {
public:
    using FakeParser::FakeParser;
    DetailTexts FormatTimes(RowId row) const override {
        const int day = 1 + static_cast<int>(row % 27);
        return {FormatDateTimeText(2024, 6, day, 9 + static_cast<int>(row % 9), 14), FormatDateText(2024, 7, 2),
                FormatDateTimeText(2024, 6, day, 13 + static_cast<int>(row % 6), 41), "-A"};
    }
};

bool Save(QWidget* w, const QString& folder, const char* name) {
    QCoreApplication::processEvents();
    const QString path = folder + "/" + name + ".png";
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarnwell-render-pages OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    TempDir machine;
    DriveListRoots roots = FakeMachine(machine);
    GuiHarness h(true, &roots);
    WizardApp& app = *h.app;
    QWidget* window = app.Window();
    window->resize(820, 560);
    bool ok = true;

    auto* drives = qobject_cast<DriveSelectionPage*>(app.Page(PageKind::DriveSelection));
    drives->AddImage("/home/user/images/camera-card.img");
    drives->Tree()->setCurrentItem(drives->Tree()->topLevelItem(1)->child(0));
    ok &= Save(window, out, "1-drive-selection");

    auto* modes = new PartitionScanPage(app, "/dev/sdb");
    app.Open(drives, modes);
    modes->findChild<QRadioButton*>("advanceScan")->click();
    modes->findChild<QCheckBox*>("customSetting")->click();
    ok &= Save(window, out, "2-parsing-mode");
    app.Back(modes);

    const std::string disk = ImagePath("mbr-fat");
    if (!disk.empty()) {
        app.session.devicePath = disk;
        app.session.partitionScanMode = PartitionScanMode::Standard;
        auto* diskModes = new PartitionScanPage(app, disk);
        app.Open(drives, diskModes);
        auto* volumes = new VolumeListPage(app);
        app.Open(diskModes, volumes);
        volumes->List()->setCurrentItem(volumes->List()->topLevelItem(1));
        emit volumes->List()->itemClicked(volumes->List()->topLevelItem(1), 0);
        ok &= Save(window, out, "2b-volume-list");
        app.Back(volumes);
        app.Back(diskModes);
    }

    VolumeEntry card;
    card.fileSystem = "FAT32";
    card.rootPath = "/media/user/CARD";
    card.location = "/dev/sdb1";
    card.sizeText = "30432  MB";
    auto* info = new VolumeInformationPage(app, &card);
    app.Open(drives, info);
    ok &= Save(window, out, "3-volume-information");

    app.session.selectedVolume = card;
    auto* mode = new RecoveryModePage(app, PageKind::VolumeInformation);
    app.Open(info, mode);
    mode->findChild<QRadioButton*>("advanced")->click();
    ok &= Save(window, out, "4-recovery-mode");

    // The advanced input page over a card whose boot sector is gone, and over an exFAT stick.
    for (const auto& [image, fileSystem, name] :
         {std::tuple{"fat32-card", "FAT32", "4b-advanced-input"}, std::tuple{"exfat-4k", "exFAT", "4c-advanced-exfat"}}) {
        const std::string path = ImagePath(image);
        if (path.empty()) continue;
        std::ifstream in(path, std::ios::binary);
        std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        if (std::strcmp(fileSystem, "FAT32") == 0) std::fill(bytes.begin(), bytes.begin() + 512, 0);
        app.session.reader = std::make_unique<MemoryReader>(bytes);
        app.session.selectedVolume = {};
        app.session.selectedVolume.fileSystem = fileSystem;
        app.session.selectedVolume.location = "1";
        app.session.selectedVolume.sizeText = std::to_string(bytes.size() >> 20) + "  MB";
        app.session.volumeChosen = false;
        app.session.recoveryMode = RecoveryMode::Advanced;
        auto* advanced = new AdvancedInputPage(app);
        QSignalSpy searched(advanced, &AdvancedInputPage::searchFinished);
        app.Open(mode, advanced);
        if (searched.isEmpty()) searched.wait(30000);
        ok &= Save(window, out, name);
        app.Back(advanced);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    app.session.selectedVolume = card;
    app.session.recoveryMode = RecoveryMode::Standard;
    mode->findChild<QRadioButton*>("standard")->click();

    app.session.reader = std::make_unique<MemoryReader>(std::vector<std::uint8_t>(4096));
    h.plan = [](FakeParser& p) {
        RowId dcim = p.Add(0, "DCIM", true);
        RowId canon = p.Add(dcim, "100CANON", true);
        for (int i = 1; i <= 9; ++i)
            p.Add(canon, "IMG_000" + std::to_string(i) + ".JPG", false, std::string(200000 + i * 7919, 'x'), i % 4 == 0);
        p.Add(canon, "MVI_0010.MOV", false, std::string(3 << 20, 'x'));
        p.Add(dcim, "MISC", true);
        RowId docs = p.Add(0, "Documents", true);
        p.Add(docs, "report.pdf", false, std::string(90000, 'x'));
        p.Add(docs, "notes.txt", false, "notes", true);
        p.Add(0, "$RECYCLE.BIN", true);
        p.Add(0, "autorun.inf", false, "[autorun]");
    };
    app.parserMaker = [&h](const std::string&, ParserLinks links) {
        auto p = std::make_unique<PictureParser>(std::move(links));
        h.plan(*p);
        return p;
    };
    auto* results = new ScanResultsPage(app);
    QSignalSpy finished(results, &ScanResultsPage::scanFinished);
    app.Open(mode, results);
    if (finished.isEmpty()) finished.wait(10000);
    CheckTree* tree = results->Tree();
    TreeItem dcim = tree->Children(tree->GetRootItem()).front();
    tree->Expand(dcim, CheckTree::ExpandIt);
    TreeItem canon = tree->Children(dcim).front();
    tree->Expand(canon, CheckTree::ExpandIt);
    tree->SetCheck(tree->Children(canon)[1], true);
    tree->SetCheck(tree->Children(canon)[2], true);
    tree->SelectItem(canon);
    emit tree->labelClicked(canon);
    results->findChild<QLineEdit*>("outputFolder")->setText("/home/user/recovered");
    ok &= Save(window, out, "5-results");

    // The raw road, over a volume with the carving samples planted in it.
    std::vector<std::uint8_t> volume(3 << 20, 0);
    std::size_t at = 8192;
    for (const char* type : {"jpg", "png", "gif", "bmp", "pdf", "zip", "jpg"}) {
        std::ifstream in(std::string(TARNWELL_TEST_IMAGES) + "/carve/sample." + type, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        std::copy(bytes.begin(), bytes.end(), volume.begin() + static_cast<std::ptrdiff_t>(at));
        at = (at + bytes.size() + 65536) / 65536 * 65536;
    }
    app.session.reader = std::make_unique<MemoryReader>(std::move(volume));
    app.session.selectedVolume = {};
    app.session.selectedVolume.fileSystem = "RAW";
    app.session.selectedVolume.sizeText = "3";
    auto* raw = new RawRecoveryPage(app);
    app.Open(drives, raw);
    ok &= Save(window, out, "7a-raw-recovery-start");
    QSignalSpy carved(raw, &RawRecoveryPage::runFinished);
    raw->findChild<QPushButton*>("parse")->click();
    if (carved.isEmpty()) carved.wait(10000);
    CheckTree* rawTree = raw->Tree();
    TreeItem pictures = rawTree->Children(rawTree->GetRootItem()).front();
    rawTree->Expand(pictures, CheckTree::ExpandIt);
    rawTree->SetCheck(rawTree->Children(pictures).front(), true);
    rawTree->SelectItem(pictures);
    emit rawTree->labelClicked(pictures);
    raw->findChild<QLineEdit*>("outputFolder")->setText("/home/user/recovered");
    ok &= Save(window, out, "7-raw-recovery");

    SignatureSettingsBox setting(app, raw);
    setting.findChild<QLineEdit*>("extension")->setText("png");
    setting.findChild<QLineEdit*>("startSignature")->setText("0x89,0x50,0x4E,0x47");
    setting.findChild<QLineEdit*>("endSignature")->setText("0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82");
    setting.findChild<QLineEdit*>("approxSize")->setText("10485760");
    setting.findChild<QLineEdit*>("category")->setText("Pictures");
    setting.findChild<QLineEdit*>("settingsPath")->setText("/home/user/my-signatures.txt");
    setting.show();
    ok &= Save(&setting, out, "8-signature-setting");

    AboutBox about(window);
    about.resize(420, 240);
    about.show();
    ok &= Save(&about, out, "6-about");
    return ok ? 0 : 1;
}
