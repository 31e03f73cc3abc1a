// The volume list page over the partition scanner on committed images, and the
// whole physical-drive road from the drive page to saved files.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

#include <filesystem>
#include <fstream>

#include "gui/DriveSelectionPage.h"
#include "gui/PartitionScanPage.h"
#include "gui/RawRecoveryPage.h"
#include "gui/RecoveryModePage.h"
#include "gui/ScanResultsPage.h"
#include "gui/VolumeListPage.h"
#include "GuiTestSupport.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;
namespace fs = std::filesystem;

namespace {
void Next(WizardPage* page) { QTest::mouseClick(page->NextButton(), Qt::LeftButton); }
void Back(WizardPage* page) { QTest::mouseClick(page->BackButton(), Qt::LeftButton); }

QStringList Row(QTreeWidget* list, int row) {
    QStringList out;
    for (int c = 0; c < 4; ++c) out << list->topLevelItem(row)->text(c);
    return out;
}
}  // namespace

class VolumeListTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GuiHarness> h;

    // Drive page → parsing mode (advanced when asked) → volume list, on image.
    VolumeListPage* Open(const std::string& image, bool advanced = false) {
        auto* drivePage = qobject_cast<DriveSelectionPage*>(h->app->Page(PageKind::DriveSelection));
        drivePage->AddImage(QString::fromStdString(image));
        Next(drivePage);
        auto* modes = qobject_cast<PartitionScanPage*>(h->app->Current());
        if (!modes) return nullptr;
        if (advanced) modes->findChild<QRadioButton*>("advanceScan")->click();
        Next(modes);
        auto* page = qobject_cast<VolumeListPage*>(h->app->Current());
        if (page && advanced) {
            QSignalSpy done(page, &VolumeListPage::scanFinished);
            if (!done.wait(30000)) return nullptr;
        }
        return page;
    }

private slots:
    void init() { h = std::make_unique<GuiHarness>(); }
    void cleanup() { h.reset(); }

    void TheTableScanListsTheVolumes() {
        const std::string image = ImagePath("mbr-fat");
        if (image.empty()) QSKIP("mbr-fat image not committed");
        VolumeListPage* page = Open(image);
        QVERIFY(page);
        QTreeWidget* list = page->List();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(Row(list, 0).mid(0, 2), QStringList({"0", "FAT16"}));
        QCOMPARE(Row(list, 0)[3], QString("2048"));
        QCOMPARE(Row(list, 1).mid(0, 2), QStringList({"1", "FAT32"}));
        QCOMPARE(Row(list, 1)[3], QString("43008"));
        QCOMPARE(Find<QLabel>(page, "status")->text(), QString("Select volume and click next button..."));
        QVERIFY(Find<QWidget>(page, "addCustomVolume")->isHidden());
        QVERIFY(Find<QWidget>(page, "progress")->isHidden() && Find<QWidget>(page, "stop")->isHidden());
        QVERIFY(Find<QCheckBox>(page, "customSettings")->isEnabled());
        QVERIFY(!Find<QWidget>(page, "customGroup")->isEnabled());
        QVERIFY(Find<QWidget>(page, "filterEntries")->isEnabled());

        // Nothing selected.
        Next(page);
        QCOMPARE(h->Count("please select a valid volume."), 1);
        QCOMPARE(h->app->Current(), page);

        // Selecting shows the row in the custom fields; a click picks its kind.
        list->setCurrentItem(list->topLevelItem(0));
        emit list->itemClicked(list->topLevelItem(0), 0);
        QCOMPARE(Find<QLabel>(page, "selectedVolume")->text(), QString("0"));
        auto* start = Find<SectorEdit>(page, "startSector");
        auto* end = Find<SectorEdit>(page, "endSector");
        QCOMPARE(start->Value(), std::int64_t(2048));
        QCOMPARE(end->Value(), std::int64_t(2048 + 20 * 2048 - 1));
        QCOMPARE(Find<QComboBox>(page, "treatAs")->currentText(), QString("FAT16"));

        // Custom settings change the entry handed on, and unticking them restores it.
        Find<QCheckBox>(page, "customSettings")->click();
        QVERIFY(Find<QWidget>(page, "customGroup")->isEnabled());
        Find<QComboBox>(page, "treatAs")->setCurrentText("NTFS");
        start->SetValue(4096);
        Next(page);
        QCOMPARE(h->app->session.selectedVolume.fileSystem, std::string("ntfs"));
        QCOMPARE(h->app->session.selectedVolume.startSector, std::int64_t(4096));
        auto* mode = qobject_cast<RecoveryModePage*>(h->app->Current());
        QVERIFY(mode);
        QVERIFY(!Find<QWidget>(mode, "deep")->isHidden());
        Back(mode);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Find<QCheckBox>(page, "customSettings")->click();
        Next(page);
        QCOMPARE(h->app->session.selectedVolume.fileSystem, std::string("FAT16"));
        QCOMPARE(h->app->session.selectedVolume.startSector, std::int64_t(2048));
    }

    void RawAndUnknownVolumes() {
        const std::string image = ImagePath("mbr-fat");
        if (image.empty()) QSKIP("mbr-fat image not committed");
        VolumeListPage* page = Open(image);
        QVERIFY(page);
        QTreeWidget* list = page->List();
        list->setCurrentItem(list->topLevelItem(1));
        Find<QCheckBox>(page, "customSettings")->click();
        Find<QComboBox>(page, "treatAs")->setCurrentText("RAW");
        Next(page);
        QCOMPARE(h->app->session.selectedVolume.fileSystem, std::string("RAW"));
        QCOMPARE(h->app->Current()->Kind(), PageKind::RawRecovery);
        QVERIFY(qobject_cast<RawRecoveryPage*>(h->app->Current()));
        Back(h->app->Current());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // A row the scanner could not type.
        list->topLevelItem(1)->setText(1, "unknown");
        Find<QCheckBox>(page, "customSettings")->click();  // unticked: the row's texts are taken again
        Next(page);
        QCOMPARE(h->Count("can not parse unknown volume"), 1);
        QCOMPARE(h->app->Current(), page);
    }

    void TheSpinsStopAtZero() {
        SectorEdit edit;
        edit.SetValue(1);
        edit.stepBy(-1);
        edit.stepBy(-1);
        QCOMPARE(edit.Value(), std::int64_t(0));
        edit.stepBy(1);
        QCOMPARE(edit.Value(), std::int64_t(1));
    }

    void TheAdvancedScanRunsOnAWorker() {
        const std::string image = ImagePath("mbr-fat");
        if (image.empty()) QSKIP("mbr-fat image not committed");
        VolumeListPage* page = Open(image, true);
        QVERIFY(page);
        QTRY_COMPARE(h->Count("populated partitions...."), 1);
        QVERIFY(page->List()->topLevelItemCount() >= 2);
        QVERIFY(page->NextButton()->isEnabled() && page->BackButton()->isEnabled());
        QVERIFY(Find<QWidget>(page, "addCustomVolume")->isEnabled());
        // A custom volume goes at the top and is selected.
        QTest::mouseClick(Find<QWidget>(page, "addCustomVolume"), Qt::LeftButton);
        QCOMPARE(page->List()->topLevelItem(0)->text(1), QString("CUSTOM "));
        QCOMPARE(page->List()->currentItem(), page->List()->topLevelItem(0));
        QVERIFY(Find<QCheckBox>(page, "customSettings")->isChecked());
    }

    // Stop during the search for volumes: what is listed is only part of the disk's, and the page says so.
    void AStoppedAdvancedScanSaysItStopped() {
        const fs::path image = h->dir / "big.img";
        std::ofstream(image).close();
        fs::resize_file(image, std::uintmax_t(64) << 30);  // sparse: read as zeros, far longer than the test
        auto* drivePage = qobject_cast<DriveSelectionPage*>(h->app->Page(PageKind::DriveSelection));
        drivePage->AddImage(QString::fromStdString(image.string()));
        Next(drivePage);
        auto* modes = qobject_cast<PartitionScanPage*>(h->app->Current());
        QVERIFY(modes);
        modes->findChild<QRadioButton*>("advanceScan")->click();
        Next(modes);
        auto* page = qobject_cast<VolumeListPage*>(h->app->Current());
        QVERIFY(page);
        QSignalSpy done(page, &VolumeListPage::scanFinished);
        QTest::mouseClick(Find<QPushButton>(page, "stop"), Qt::LeftButton);
        QVERIFY(done.count() > 0 || done.wait(30000));
        QCOMPARE(h->Count("populated partitions...."), 0);
        QCOMPARE(h->Count("Searching stopped before the end. Only the volumes found until then are listed."), 1);
        QVERIFY(page->BackButton()->isEnabled());
    }

    void TheWholeRoadFromADiskImageToSavedFiles() {
        const std::string image = ImagePath("mbr-fat");
        if (image.empty()) QSKIP("mbr-fat image not committed");
        VolumeListPage* page = Open(image);
        QVERIFY(page);
        QSignalSpy listGone(page, &QObject::destroyed);
        page->List()->setCurrentItem(page->List()->topLevelItem(0));
        Next(page);
        auto* mode = qobject_cast<RecoveryModePage*>(h->app->Current());
        QVERIFY(mode);
        QCOMPARE(mode->parentPageKind, PageKind::VolumeList);
        QVERIFY(Find<QWidget>(mode, "deep")->isHidden());
        Next(mode);
        auto* results = qobject_cast<ScanResultsPage*>(h->app->Current());
        QVERIFY(results);
        QSignalSpy finished(results, &ScanResultsPage::scanFinished);
        QVERIFY(finished.count() > 0 || finished.wait(10000));
        QCOMPARE(h->app->session.selectedVolume.startSector, std::int64_t(2048));
        TempDir out;
        results->findChild<QLineEdit*>("outputFolder")->setText(QString::fromStdString(out.path().string()));
        CheckTree* tree = results->Tree();
        TreeItem dcim = tree->Children(tree->GetRootItem()).front();
        tree->SelectItem(dcim);
        QSignalSpy saved(results, &ScanResultsPage::workFinished);
        QTest::mouseClick(results->findChild<QPushButton*>("save"), Qt::LeftButton);
        QVERIFY(saved.wait(10000));
        QVERIFY(fs::exists(out / "100CANON/IMG_0001.JPG"));
        QCOMPARE(h->Count("work done"), 1);
        TreeItem notes = tree->Children(tree->GetRootItem())[1];
        const QRect rect = tree->visualRect(tree->IndexOf(notes));
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 4, rect.center().y()));
        QVERIFY(fs::exists(out / "notes.txt"));
        // Back to the volume list and back again frees the pages once.
        Back(results);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Back(mode);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(h->app->Current(), page);
        Back(page);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(listGone.count(), 1);
        QCOMPARE(h->app->Page(PageKind::VolumeList), nullptr);
    }
};

TARNWELL_QTEST_MAIN(VolumeListTest)
#include "VolumeListTest.moc"
