// The drive-letter road on the committed memory-card image with the real FAT
// parser: from the drive page to files saved on disk, from the raw image and
// from the same card in an image container.

#include <QLineEdit>
#include <QSignalSpy>

#include <cstdlib>
#include <filesystem>

#include "fs/FileSystemRegistry.h"
#include "gui/DriveSelectionPage.h"
#include "gui/ScanResultsPage.h"
#include "GuiTestSupport.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;
namespace fs = std::filesystem;

namespace {
bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }
}  // namespace

class RoadTest : public QObject {
    Q_OBJECT

    // "Open image…" with image, then Next to the results and Save of DCIM.
    void RecoverThroughTheWizard(const std::string& image) {
        UnchangedGuard unchanged(image);
        GuiHarness h;
        h.app->parserMaker = nullptr;  // the real parsers
        auto* drivePage = qobject_cast<DriveSelectionPage*>(h.app->Page(PageKind::DriveSelection));
        drivePage->AddImage(QString::fromStdString(image));
        QTest::mouseClick(drivePage->NextButton(), Qt::LeftButton);  // volume information: the image is one volume
        QCOMPARE(h.app->Current()->Kind(), PageKind::VolumeInformation);
        QTest::mouseClick(h.app->Current()->NextButton(), Qt::LeftButton);  // recovery mode
        QTest::mouseClick(h.app->Current()->NextButton(), Qt::LeftButton);  // results
        auto* results = qobject_cast<ScanResultsPage*>(h.app->Current());
        QVERIFY(results);
        QSignalSpy finished(results, &ScanResultsPage::scanFinished);
        QVERIFY(finished.count() > 0 || finished.wait(30000));
        QCOMPARE(results->Job().Outcome(), ScanOutcome::Completed);
        CheckTree* tree = results->Tree();
        TreeItem dcim = nullptr;
        for (TreeItem c : tree->Children(tree->GetRootItem()))
            if (tree->GetItemText(c) == "DCIM") dcim = c;
        QVERIFY(dcim);
        TempDir out;
        results->findChild<QLineEdit*>("outputFolder")->setText(QString::fromStdString(out.path().string()));
        tree->SelectItem(dcim);
        QSignalSpy saved(results, &ScanResultsPage::workFinished);
        QTest::mouseClick(results->findChild<QPushButton*>("save"), Qt::LeftButton);
        QVERIFY(saved.wait(30000));
        QVERIFY(fs::file_size(out / "100CANON/IMG_0001.JPG") > 0);
        QCOMPARE(h.Count("work done"), 1);
    }

private slots:
    void TheCardImageIsRecoveredThroughTheWizard() {
        const std::string image = ImagePath("sample-card");
        if (image.empty()) QSKIP("sample-card image not committed");
        if (!MakeParser("FAT32", ParserLinks{})) QSKIP("no FAT32 parser in this build");
        RecoverThroughTheWizard(image);
    }

    // The GUI opens containers as the command line does, by what they hold.
    void TheCardInAQcow2ContainerIsRecoveredAlike() {
        const std::string card = ImagePath("sample-card");
        if (card.empty()) QSKIP("sample-card image not committed");
        if (!Have("qemu-img")) QSKIP("qemu-utils not installed");
        TempDir dir;
        const std::string image = (dir / "card.qcow2").string();
        QCOMPARE(std::system(("qemu-img convert -f raw -O qcow2 '" + card + "' '" + image + "' >/dev/null 2>&1").c_str()),
                 0);
        RecoverThroughTheWizard(image);
    }
};

TARNWELL_QTEST_MAIN(RoadTest)
#include "RoadTest.moc"
