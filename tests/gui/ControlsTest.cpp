// The check-box tree and list: smart check with tri-state folders, disabled
// items, lazy children, and the list's header box.

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QStyleHints>

#include "gui/CheckList.h"
#include "gui/CheckTree.h"
#include "GuiTestSupport.h"

using namespace tarnwell;
using namespace tarnwell::test;

class ControlsTest : public QObject {
    Q_OBJECT

    struct Tree {
        CheckTree view;
        QAbstractItemModelTester tester{view.Model(), QAbstractItemModelTester::FailureReportingMode::QtTest};
        TreeItem root, folder, a, b, c;
        Tree() {
            view.Initialize(true, true);
            view.resize(300, 300);
            root = view.InsertItem("ROOT");
            folder = view.InsertItem("DCIM", {}, root);
            a = view.InsertItem("a.jpg", {}, folder);
            b = view.InsertItem("b.jpg", {}, folder);
            c = view.InsertItem("c.jpg", {}, folder);
            view.expandAll();
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
        }
        int Checked(std::initializer_list<TreeItem> items) const {
            int n = 0;
            for (TreeItem i : items) n += view.GetCheck(i) ? 1 : 0;
            return n;
        }
    };

private slots:
    void CheckingAFolderChecksItsFilesAndUncheckingOneMakesItPartial() {
        Tree t;
        // By a click on the folder's box, as the user does.
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, CheckBoxCentre(&t.view, t.view.IndexOf(t.folder)));
        QCOMPARE(t.Checked({t.folder, t.a, t.b, t.c}), 4);
        QCOMPARE(t.view.StateImage(t.root), 2);
        QVERIFY(t.view.SetCheck(t.b, false));
        QCOMPARE(t.view.StateImage(t.folder), 3);
        QCOMPARE(t.view.StateImage(t.root), 3);
        QCOMPARE(t.view.IndexOf(t.folder).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QVERIFY(!t.view.GetCheck(t.folder));
        // A click on a partly checked folder checks everything again.
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, CheckBoxCentre(&t.view, t.view.IndexOf(t.folder)));
        QCOMPARE(t.Checked({t.root, t.folder, t.a, t.b, t.c}), 5);
        QCOMPARE(t.view.Data(t.root)->checkedDescendants, 4);
    }

    void InsertingUnderACheckedFolderFollowsTheNewChild() {
        Tree t;
        t.view.SetCheck(t.folder, true);
        TreeItem d = t.view.InsertItem("d.jpg", {}, t.folder);
        QCOMPARE(t.view.StateImage(t.folder), 3);
        QCOMPARE(t.view.StateImage(t.root), 3);
        t.view.SetCheck(d, true);
        QCOMPARE(t.view.StateImage(t.root), 2);
        NewCheckItem checked;
        checked.text = "e.jpg";
        checked.checked = true;
        t.view.InsertItem(checked, t.folder);
        QCOMPARE(t.view.StateImage(t.folder), 2);
        QCOMPARE(t.view.StateImage(t.root), 2);
    }

    void DeletingAFileTakesItOutOfTheCounts() {
        Tree t;
        t.view.SetCheck(t.a, true);
        t.view.SetCheck(t.b, true);
        t.view.DeleteItem(t.a);  // checked: both counts drop
        QCOMPARE(t.view.Data(t.folder)->descendants, 2);
        QCOMPARE(t.view.Data(t.folder)->checkedDescendants, 1);
        QCOMPARE(t.view.Data(t.root)->descendants, 3);
        QCOMPARE(t.view.Data(t.root)->checkedDescendants, 1);
        const int rootImage = t.view.StateImage(t.root);
        t.view.DeleteItem(t.c);  // unchecked: the folder's own flag is left as it was
        QCOMPARE(t.view.Data(t.folder)->descendants, 1);
        QCOMPARE(t.view.Data(t.folder)->checkedDescendants, 1);
        QVERIFY(!t.view.Data(t.folder)->checked);
        QCOMPARE(t.view.StateImage(t.root), rootImage);
        QVERIFY(!t.view.IsItem(t.c));
        QVERIFY2(!t.view.SetCheck(t.c, true), "a deleted item is not an item");
    }

    void ADisabledItemIgnoresClicksAndSpace() {
        Tree t;
        t.view.EnableItem(t.b, false);
        QCOMPARE(t.view.StateImage(t.b), 5);
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, CheckBoxCentre(&t.view, t.view.IndexOf(t.b)));
        QVERIFY(!t.view.GetCheck(t.b));
        // The view never makes a disabled item current; force it to be.
        t.view.SelectItem(t.b);
        QVERIFY(t.view.GetSelectedItem() != t.b);
        t.view.selectionModel()->setCurrentIndex(t.view.IndexOf(t.b), QItemSelectionModel::NoUpdate);
        QTest::keyClick(&t.view, Qt::Key_Space);
        QVERIFY(!t.view.GetCheck(t.b));
        QVERIFY(!t.view.GetCheck(t.a));
        QVERIFY(!t.view.SetCheck(t.b, true));
        // The same gestures on an enabled item do act.
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, CheckBoxCentre(&t.view, t.view.IndexOf(t.a)));
        QVERIFY(t.view.GetCheck(t.a));
        t.view.SelectItem(t.c);
        QTest::keyClick(&t.view, Qt::Key_Space);
        QVERIFY(t.view.GetCheck(t.c));
        // With a and c ticked and b disabled, the folder counts as checked.
        QCOMPARE(t.view.StateImage(t.folder), 2);
    }

    void LabelClicksAreToldAndBoxClicksAreNot() {
        Tree t;
        QSignalSpy labels(&t.view, &CheckTree::labelClicked);
        QSignalSpy checks(&t.view, &CheckTree::checkboxClicked);
        const QRect box = CheckBoxRect(&t.view, t.view.IndexOf(t.a));
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, box.center());
        QCOMPARE(labels.count(), 0);
        QCOMPARE(checks.count(), 1);
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, QPoint(box.right() + 30, box.center().y()));
        QCOMPARE(labels.count(), 1);
        QCOMPARE(labels.at(0).at(0).value<TreeItem>(), t.a);
    }

    void ChildrenAreLoadedOnceWhenTheFolderIsFirstOpened() {
        CheckTree view;
        QAbstractItemModelTester tester(view.Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        view.Initialize(true, true);
        int loads = 0;
        view.SetChildrenLoader([&](TreeItem item) {
            ++loads;
            std::vector<NewCheckItem> newItems(3);
            for (int i = 0; i < 3; ++i) newItems[i].text = QString("f%1").arg(i);
            view.InsertItems(newItems, item);
        });
        NewCheckItem folder;
        folder.text = "DCIM";
        folder.mayHaveChildren = true;
        TreeItem item = view.InsertItem(folder);
        QVERIFY(view.Model()->hasChildren(view.IndexOf(item)));
        QCOMPARE(view.Model()->rowCount(view.IndexOf(item)), 0);
        QCOMPARE(loads, 0);
        view.Expand(item, CheckTree::ExpandIt);
        view.Expand(item, CheckTree::Collapse);
        view.Expand(item, CheckTree::ExpandIt);
        QCOMPARE(loads, 1);
        QCOMPARE(view.Children(item).size(), size_t(3));
        QVERIFY(view.Data(item)->expandedOnce);
    }

    void TheHeaderBoxFollowsTheRowsAndChecksAll() {
        CheckList list;
        list.setColumnCount(2);
        list.setHeaderLabels({"File(s) List", "Size"});
        list.InitHeaderCheck();
        for (const char* name : {"a", "b", "c"}) list.AddRow({name, "1 Bytes"});
        list.resize(400, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy clicks(&list, &CheckList::rowCheckClicked);
        auto clickRow = [&](int row) {
            QModelIndex index = list.model()->index(row, 0);
            QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CheckBoxCentre(&list, index));
        };
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(list.Header()->Image(), 1);
            clickRow(row);
            QVERIFY(list.RowChecked(row));
        }
        QCOMPARE(list.Header()->Image(), 2);
        QCOMPARE(clicks.count(), 3);
        // Other changes to a row are not clicks on its box.
        list.topLevelItem(0)->setText(0, "renamed");
        list.topLevelItem(0)->setData(0, Qt::UserRole + 1, 7);
        list.topLevelItem(0)->setForeground(0, Qt::red);
        QCOMPARE(clicks.count(), 3);
        clickRow(1);
        QCOMPARE(list.Header()->Image(), 1);
        // A click on the second column's header changes nothing.
        auto* header = list.Header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        QCOMPARE(header->Image(), 1);
        QVERIFY(!list.RowChecked(1));
        // The header box checks every row, and is not taken for row clicks.
        clicks.clear();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        QCOMPARE(header->Image(), 2);
        for (int row = 0; row < 3; ++row) QVERIFY(list.RowChecked(row));
        QCOMPARE(clicks.count(), 0);
        list.DeleteAllItems();
        QCOMPARE(header->Image(), 2);
        list.AddRow({"d", "1 Bytes"});
        QCOMPARE(header->Image(), 1);
    }
};

TARNWELL_QTEST_MAIN(ControlsTest)
#include "ControlsTest.moc"
