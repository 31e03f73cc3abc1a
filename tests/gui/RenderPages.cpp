// Renders every wizard page to a PNG, for the README and for looking at the
// pages without running the wizard: tarnwell-render-pages OUTPUT_FOLDER.

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

#include <cstdio>

#include "GuiTestSupport.h"
#include "app/CSysInfoAboutDlg.h"
#include "app/DriveParsingModes.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/Physical_DriveDialog.h"
#include "app/VolumeOperations.h"
#include "device/MemoryReader.h"
#include "scan/VolumeScanDlg.h"

using namespace tarnwell;
using namespace tarnwell::test;

namespace {
// A machine with a card reader, a disk only root may open, a mounted card.
DriveListRoots FakeMachine(TempDir& dir) {
    DriveListRoots r;
    r.sysBlock = (dir / "sys/block").string();
    r.sysClassBlock = (dir / "sys/class/block").string();
    r.dev = (dir / "dev").string();
    r.mountinfo = (dir / "mountinfo").string();
    dir.Write("sys/block/sda/size", "976773168\n");
    dir.Write("sys/block/sda/device/model", "Samsung SSD 870\n");
    dir.Write("sys/block/sdb/size", "62333952\n");
    dir.Write("sys/block/sdb/removable", "1\n");
    dir.Write("sys/block/sdb/device/vendor", "Generic\n");
    dir.Write("sys/block/sdb/device/model", "SD Card Reader\n");
    dir.Write("dev/sdb", "");
    std::string boot(512, '\0');
    const unsigned char fat32[] = {0xEB, 0x58, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't', 0x00, 0x02, 8, 32, 0, 2};
    std::copy(std::begin(fat32), std::end(fat32), boot.begin());
    boot[21] = char(0xF8);
    boot[32] = 0x00, boot[33] = 0x00, boot[34] = char(0xB7), boot[35] = 0x03;  // 62 324 736 sectors
    boot[36] = char(0xD0), boot[37] = 0x3B;                                     // sectors per FAT
    boot[44] = 2;
    boot[510] = 0x55, boot[511] = char(0xAA);
    dir.Write("sys/class/block/sdb1/size", "62324736\n");
    dir.Write("dev/sdb1", boot);
    dir.Write("mountinfo", "30 22 8:17 / /media/user/CARD rw,nosuid - vfat /dev/sdb1 rw\n");
    return r;
}

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
    CKorvaneApp& app = *h.app;
    QWidget* window = app.Window();
    window->resize(820, 560);
    bool ok = true;

    auto* drives = qobject_cast<Physical_DriveDialog*>(app.Page(PageKind::DriveSelection));
    drives->AddImage("/home/user/images/camera-card.img");
    drives->Tree()->setCurrentItem(drives->Tree()->topLevelItem(1)->child(0));
    ok &= Save(window, out, "1-drive-selection");

    auto* modes = new DriveParsingModes(app, "/dev/sdb");
    app.Open(drives, modes);
    modes->findChild<QRadioButton*>("advanceScan")->click();
    modes->findChild<QCheckBox*>("customSetting")->click();
    ok &= Save(window, out, "2-parsing-mode");
    app.Back(modes);

    VolumeEntry card;
    card.fileSystem = "FAT32";
    card.rootPath = "/media/user/CARD";
    card.location = "/dev/sdb1";
    card.sizeText = "30432  MB";
    auto* info = new VolumeOperations(app, &card);
    app.Open(drives, info);
    ok &= Save(window, out, "3-volume-information");

    app.session.selectedVolume = card;
    auto* mode = new ParceModeNtfsDlg(app, PageKind::VolumeInformation);
    app.Open(info, mode);
    mode->findChild<QRadioButton*>("advanced")->click();
    ok &= Save(window, out, "4-recovery-mode");
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
    auto* results = new VolumeScanDlg(app);
    QSignalSpy finished(results, &VolumeScanDlg::scanFinished);
    app.Open(mode, results);
    if (finished.isEmpty()) finished.wait(10000);
    CXHtmlTree* tree = results->Tree();
    HTREEITEM dcim = tree->Children(tree->GetRootItem()).front();
    tree->Expand(dcim, CXHtmlTree::ExpandIt);
    HTREEITEM canon = tree->Children(dcim).front();
    tree->Expand(canon, CXHtmlTree::ExpandIt);
    tree->SetCheck(tree->Children(canon)[1], true);
    tree->SetCheck(tree->Children(canon)[2], true);
    tree->SelectItem(canon);
    emit tree->labelClicked(canon);
    results->findChild<QLineEdit*>("outputFolder")->setText("/home/user/recovered");
    ok &= Save(window, out, "5-results");

    CSysInfoAboutDlg about(window);
    about.resize(420, 240);
    about.show();
    ok &= Save(&about, out, "6-about");
    return ok ? 0 : 1;
}
