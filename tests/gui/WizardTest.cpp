// Start-up, the page frame and chain, and the pages before the results: their
// texts, enabling and hiding rules, and where "Next" leads.

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolButton>

#include <filesystem>

#include "gui/AdvancedInputPage.h"
#include "gui/DriveSelectionPage.h"
#include "gui/PartitionScanPage.h"
#include "gui/RecoveryModePage.h"
#include "gui/ScanResultsPage.h"
#include "gui/VolumeInformationPage.h"
#include "GuiTestSupport.h"
#include "support/TestImages.h"

using namespace tarnwell;
using namespace tarnwell::test;

namespace {
DriveSelectionPage* DrivePage(GuiHarness& h) {
    return qobject_cast<DriveSelectionPage*>(h.app->Page(PageKind::DriveSelection));
}

QTreeWidgetItem* GroupItem(QTreeWidget* tree, const QString& text) {
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == text) return tree->topLevelItem(i);
    return nullptr;
}

void Next(WizardPage* page) { QTest::mouseClick(page->NextButton(), Qt::LeftButton); }
void Back(WizardPage* page) { QTest::mouseClick(page->BackButton(), Qt::LeftButton); }
void FreeDeleted() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
private slots:
    void ASecondInstanceIsRefused() {
        GuiHarness first;
        WizardApp::Options o = first.Options(nullptr);
        RecordingAnswers second;
        o.answerer = &second;
        WizardApp other(o);
        QVERIFY(!other.InitInstance());
        QCOMPARE(second.informed, std::vector<std::string>{"Another instance of application is already running"});
        QVERIFY(first.app->Window()->isVisible());
    }

    void TheDrivePageHasThreeGroupsAndRefusesAGroupOrNothing() {
        GuiHarness h;
        auto* page = DrivePage(h);
        QVERIFY(page);
        QTreeWidget* tree = Find<QTreeWidget>(page, "driveTree");
        QStringList groups;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) groups << tree->topLevelItem(i)->text(0);
        QCOMPARE(groups, QStringList({"     VOLUMES:", "     PHYSICAL DRIVES:", "     IMAGE FILES:"}));
        QCOMPARE(GroupItem(tree, "     IMAGE FILES:")->child(0)->text(0), QString("Open image…"));
        QVERIFY(page->BackButton()->isHidden());
        tree->setCurrentItem(nullptr);
        Next(page);
        tree->setCurrentItem(GroupItem(tree, "     VOLUMES:"));
        Next(page);
        QCOMPARE(h.Count("Please select a volume or a drive.."), 2);
        QCOMPARE(h.app->Current(), page);
        QVERIFY2(h.app->session.reader, "the reader is replaced even so");
    }

    void DrivesThatCannotBeOpenedAreExplained() {
        TempDir sys;
        DriveListRoots roots;
        roots.sysBlock = (sys / "sys/block").string();
        roots.sysClassBlock = (sys / "sys/class/block").string();
        roots.dev = (sys / "dev").string();
        roots.mountinfo = (sys / "mountinfo").string();
        sys.Write("sys/block/sdb/size", "2048\n");
        sys.Write("sys/block/sdb/removable", "1\n");
        // No device node this user may open (none at all, so that it holds for root too).
        std::filesystem::create_directories(sys / "dev");
        sys.Write("mountinfo", "");
        auto drives = ListPhysicalDrives(roots);
        QCOMPARE(drives.size(), size_t(1));
        QVERIFY(!drives[0].readable);
        GuiHarness h(true, &roots);
        auto* page = DrivePage(h);
        auto* hint = Find<QLabel>(page, "accessHint");
        QVERIFY(!hint->isHidden());
        QVERIFY(hint->text().contains("disk\" group"));
        QTreeWidgetItem* group = GroupItem(page->Tree(), "     PHYSICAL DRIVES:");
        QCOMPARE(group->childCount(), 1);
        QVERIFY(!(group->child(0)->flags() & Qt::ItemIsSelectable));
    }

    void EnterAndEscapeDoNothing() {
        GuiHarness h;
        int chosen = 0;
        h.app->chooseImage = [&] {
            ++chosen;
            return QString();
        };
        auto* page = DrivePage(h);
        QTreeWidget* tree = page->Tree();
        tree->setCurrentItem(GroupItem(tree, "     IMAGE FILES:")->child(0));  // "Open image…"
        tree->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(tree, key);
        page->NextButton()->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(page->NextButton(), key);
        QCOMPARE(chosen, 0);
        QCOMPARE(h.app->Current(), page);
        QVERIFY(h.answers.informed.empty());
        QVERIFY(h.app->Window()->isVisible());
        QTest::keyClick(tree, Qt::Key_Space);  // other keys still work
    }

    void TheCloseBoxAsksFirst() {
        GuiHarness h;
        h.answers.answers = {false, true};
        QVERIFY(!h.app->Window()->close());
        QVERIFY(h.Asked("Do you want to Close Application ?"));
        QCOMPARE(h.exitCode, -1);
        QVERIFY(h.app->Window()->isVisible());
        h.app->Window()->close();
        QCOMPARE(h.answers.asked.size(), size_t(2));
        QCOMPARE(h.exitCode, 0);
        QCOMPARE(h.urlsOpened, 1);
    }

    void TheHelpMenuHasItsThreeItems() {
        GuiHarness h;
        auto* help = Find<QToolButton>(DrivePage(h), "help");
        QStringList items;
        for (QAction* a : help->menu()->actions()) items << a->text();
        QCOMPARE(items, QStringList({"Help", "About", "Software Webpage"}));
        QCOMPARE(help->text(), QString("Help"));
    }

    void ADiskImageGoesThroughTheParsingModePage() {
        const std::string image = ImagePath("mbr-fat");
        if (image.empty()) QSKIP("mbr-fat image not committed");
        GuiHarness h;
        auto* drivePage = DrivePage(h);
        drivePage->AddImage(QString::fromStdString(image));
        Next(drivePage);
        auto* page = qobject_cast<PartitionScanPage*>(h.app->Current());
        QVERIFY(page);
        QVERIFY(!h.app->session.volumeChosen);
        QCOMPARE(h.app->session.devicePath, image);
        QCOMPARE(h.app->session.deviceSectorCount, std::uint64_t(245760));
        QCOMPARE(Find<QLabel>(page, "selectedDrive")->text(), QString::fromStdString(image));
        auto* standard = Find<QRadioButton>(page, "standardScan");
        auto* advance = Find<QRadioButton>(page, "advanceScan");
        auto* keep = Find<QCheckBox>(page, "keepSize");
        auto* custom = Find<QCheckBox>(page, "customSetting");
        auto* start = Find<QLineEdit>(page, "startSector");
        auto* end = Find<QLineEdit>(page, "endSector");
        QCOMPARE(start->text(), QString("0"));
        QCOMPARE(end->text(), QString("0"));
        QVERIFY(standard->isChecked());
        QVERIFY(!keep->isEnabled() && !custom->isEnabled() && !start->isEnabled());
        advance->click();
        QVERIFY(keep->isEnabled() && custom->isEnabled() && !start->isEnabled());
        custom->click();
        QVERIFY(start->isEnabled() && end->isEnabled());
        standard->click();
        QVERIFY(!custom->isChecked() && !start->isEnabled() && !end->isEnabled());
        // Digits only; the range is handed over as typed, an end of 0 included.
        advance->click();
        custom->click();
        start->clear();
        QTest::keyClicks(start, "20x48");
        QCOMPARE(start->text(), QString("2048"));
        Find<QCheckBox>(page, "gptFormat")->click();
        Next(page);
        const ScanSession& s = h.app->session;
        QCOMPARE(int(s.partitionScanMode), int(PartitionScanMode::Advanced));
        QVERIFY(s.customRangeSet && s.gptFormat && !s.keepVolumeSize);
        QCOMPARE(s.customStartSector, std::int64_t(2048));
        QCOMPARE(s.customEndSector, std::int64_t(0));
        QVERIFY(h.app->Current() != page);
    }

    void BackFreesEachPageOnce() {
        const std::string image = ImagePath("mbr-fat");
        if (image.empty()) QSKIP("mbr-fat image not committed");
        GuiHarness h;
        auto* drivePage = DrivePage(h);
        drivePage->AddImage(QString::fromStdString(image));
        Next(drivePage);
        WizardPage* modes = h.app->Current();
        Next(modes);
        WizardPage* third = h.app->Current();
        QVERIFY(modes != drivePage && third != modes);
        QSignalSpy modesGone(modes, &QObject::destroyed);
        QSignalSpy thirdGone(third, &QObject::destroyed);
        const PageKind thirdKind = third->Kind();
        Back(third);
        Back(third);  // a second press before it is gone changes nothing
        FreeDeleted();
        QCOMPARE(thirdGone.count(), 1);
        QCOMPARE(h.app->Current(), modes);
        QCOMPARE(h.app->Page(thirdKind), nullptr);
        Back(modes);
        FreeDeleted();
        QCOMPARE(modesGone.count(), 1);
        QCOMPARE(thirdGone.count(), 1);
        QCOMPARE(h.app->Current(), drivePage);
        QCOMPARE(h.app->Page(PageKind::ParsingMode), nullptr);
        // And the road can be taken again.
        Next(drivePage);
        QVERIFY(qobject_cast<PartitionScanPage*>(h.app->Current()));
    }

    // An image that is one volume takes the mounted-volume road.
    void AVolumeImageGoesThroughTheVolumeInformationPage() {
        const std::string image = ImagePath("sample-card");
        if (image.empty()) QSKIP("sample-card image not committed");
        GuiHarness h;
        auto* drivePage = DrivePage(h);
        drivePage->AddImage(QString::fromStdString(image));
        Next(drivePage);
        auto* info = qobject_cast<VolumeInformationPage*>(h.app->Current());
        QVERIFY(info);
        QVERIFY(h.app->session.volumeChosen);
        QCOMPARE(Find<QLabel>(info, "volumeName")->text(), QString::fromStdString(image));
        QCOMPARE(Find<QLabel>(info, "volumeFileSystem")->text(), QString("FAT32"));
        QVERIFY(Find<QLabel>(info, "volumeSize")->text().endsWith("  MB"));
        QVERIFY(info->NextButton()->isEnabled());
        Next(info);
        auto* mode = qobject_cast<RecoveryModePage*>(h.app->Current());
        QVERIFY(mode);
        QCOMPARE(mode->parentPageKind, PageKind::VolumeInformation);
        QCOMPARE(h.app->session.selectedVolume.location, image);
        Next(mode);
        auto* results = qobject_cast<ScanResultsPage*>(h.app->Current());
        QVERIFY(results);
        QSignalSpy finished(results, &ScanResultsPage::scanFinished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(Find<QLineEdit>(results, "volumeData")->text(), QString::fromStdString(image));
        QVERIFY(results->BackButton()->isEnabled());
        // Back all the way home frees every page once.
        std::vector<std::unique_ptr<QSignalSpy>> gone;
        for (QObject* page : std::initializer_list<QObject*>{results, mode, info})
            gone.push_back(std::make_unique<QSignalSpy>(page, &QObject::destroyed));
        for (WizardPage* page : std::initializer_list<WizardPage*>{results, mode, info}) {
            Back(page);
            FreeDeleted();
        }
        for (auto& spy : gone) QCOMPARE(spy->count(), 1);
        QCOMPARE(h.app->Current(), drivePage);
        for (PageKind kind : {PageKind::ScanResults, PageKind::RecoveryMode, PageKind::VolumeInformation})
            QCOMPARE(h.app->Page(kind), nullptr);
    }

    void AMountedVolumeGoesThroughTheVolumeInformationPage() {
        TempDir machine;
        DriveListRoots roots = FakeMachine(machine);
        GuiHarness h(true, &roots);
        auto* drivePage = DrivePage(h);
        QTreeWidgetItem* volumes = GroupItem(drivePage->Tree(), "     VOLUMES:");
        QCOMPARE(volumes->childCount(), 1);
        QCOMPARE(volumes->child(0)->text(0), QString("/media/user/CARD"));
        QCOMPARE(GroupItem(drivePage->Tree(), "     PHYSICAL DRIVES:")->child(0)->text(0), QString("Generic SD Card Reader"));
        drivePage->Tree()->setCurrentItem(volumes->child(0));
        Next(drivePage);
        auto* info = qobject_cast<VolumeInformationPage*>(h.app->Current());
        QVERIFY(info);
        QVERIFY(h.app->session.volumeChosen);
        QCOMPARE(Find<QLabel>(info, "volumeName")->text(), QString("/media/user/CARD"));
        QCOMPARE(Find<QLabel>(info, "volumeFileSystem")->text(), QString("FAT32"));
        QCOMPARE(Find<QLabel>(info, "volumeSize")->text(), QString("30432  MB"));
        Next(info);
        auto* mode = qobject_cast<RecoveryModePage*>(h.app->Current());
        QVERIFY(mode);
        QCOMPARE(h.app->session.selectedVolume.location, std::string("/dev/sdb1"));
        QVERIFY(Find<QRadioButton>(mode, "deep")->isHidden());
    }

    void TheRecoveryModePageOffersTheModesOfTheKind() {
        struct Case {
            const char* fileSystem;
            bool advanced, deep, formattedBox;
        };
        const Case cases[] = {
            {"FAT32", true, false, true},  {"FAT16", true, false, true}, {"FAT", true, false, true},
            {"exFAT", true, false, true},  {"ext4", false, false, false}, {"ext", false, false, false},
            {"HFS+", false, true, false},  {"HFSX", false, true, false},
            {"NTFS", true, true, false},   {"CUSTOM ", true, true, false}, {"  fat12", true, false, true},
        };
        GuiHarness h;
        for (const Case& c : cases) {
            h.app->session.selectedVolume.fileSystem = c.fileSystem;
            RecoveryModePage page(*h.app, PageKind::VolumeList);
            auto* advanced = Find<QRadioButton>(&page, "advanced");
            auto* deep = Find<QRadioButton>(&page, "deep");
            auto* formatted = Find<QCheckBox>(&page, "formatted");
            auto* max = Find<QLineEdit>(&page, "maxFileSystems");
            QVERIFY2(Find<QRadioButton>(&page, "standard")->isChecked(), c.fileSystem);
            QVERIFY2(!Find<QRadioButton>(&page, "standard")->isHidden(), c.fileSystem);
            QCOMPARE(!advanced->isHidden(), c.advanced);
            QCOMPARE(!deep->isHidden(), c.deep);
            QVERIFY(max->isHidden() && formatted->isHidden());
            QCOMPARE(max->text(), QString("3"));
            if (!c.advanced) continue;
            advanced->click();
            QVERIFY(!max->isHidden() && !Find<QLabel>(&page, "maxHint")->isHidden());
            QCOMPARE(!formatted->isHidden(), c.formattedBox);
            QCOMPARE(page.Mode(), RecoveryMode::Advanced);
            if (!c.formattedBox) continue;
            formatted->click();
            QVERIFY(h.app->session.driveFormatted);
            advanced->click();  // any mode click clears the tick
            QVERIFY(!formatted->isChecked() && !h.app->session.driveFormatted);
        }
    }

    void TheAdvancedModeOpensTheAdvancedInputPageWithTheMaximum() {
        GuiHarness h;
        h.app->session.selectedVolume.fileSystem = "NTFS";
        auto* mode = new RecoveryModePage(*h.app, PageKind::VolumeInformation);
        h.app->Open(DrivePage(h), mode);
        Find<QRadioButton>(mode, "advanced")->click();
        Find<QLineEdit>(mode, "maxFileSystems")->setText("7");
        Next(mode);
        auto* next = qobject_cast<AdvancedInputPage*>(h.app->Current());
        QVERIFY(next);
        QCOMPARE(next->Kind(), PageKind::AdvancedInput);
        QCOMPARE(h.app->session.maxFileSystems, std::string("7"));
        QCOMPARE(h.app->session.recoveryMode, RecoveryMode::Advanced);
    }
};

TARNWELL_QTEST_MAIN(WizardTest)
#include "WizardTest.moc"
