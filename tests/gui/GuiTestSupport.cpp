#include "GuiTestSupport.h"

#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>
#include <filesystem>

namespace tarnwell::test {

void PlanCard(FakeParser& p) {
    RowId dcim = p.Add(0, "DCIM", true);
    RowId canon = p.Add(dcim, "100CANON", true);
    p.Add(canon, "IMG_0001.JPG", false, "jpeg one");
    p.Add(canon, "IMG_0002.JPG", false, "jpeg two", true);
    p.Add(canon, "dcim.jpg", false, "lower");
    p.Add(dcim, "EMPTY", true);
    p.Add(0, "notes.txt", false, "notes");
    p.Add(0, "logo.PNG", false, "png");
    p.Add(0, "LOST", true);
}

WizardApp::Options GuiHarness::Options(const DriveListRoots* roots) {
    WizardApp::Options o;
    o.answerer = &answers;
    o.lockFolder = dir.path().string();
    if (roots) {
        o.roots = *roots;
    } else {
        // An empty machine: no drives, nothing mounted.
        std::filesystem::create_directories(dir / "sys/block");
        dir.Write("mountinfo", "");
        o.roots.sysBlock = (dir / "sys/block").string();
        o.roots.sysClassBlock = (dir / "sys/block").string();
        o.roots.dev = (dir / "dev").string();
        o.roots.mountinfo = (dir / "mountinfo").string();
    }
    o.endProcess = [this](int code) { exitCode = code; };
    o.openUrl = [this](const QString&) { ++urlsOpened; };
    return o;
}

GuiHarness::GuiHarness(bool start, const DriveListRoots* roots) {
    app = std::make_unique<WizardApp>(Options(roots));
    app->parserMaker = [this](const std::string&, ParserLinks links) {
        auto p = std::make_unique<FakeParser>(std::move(links));
        plan(*p);
        p->delayPerRow = delayPerRow;
        fake = p.get();
        return p;
    };
    app->chooseImage = [] { return QString(); };
    app->chooseFolder = [] { return QString(); };
    app->chooseSettingsFile = [] { return QString(); };
    app->chooseNewSettingsFile = [] { return QString(); };
    if (start) {
        QVERIFY(app->InitInstance());
        app->Window()->show();
    }
}

int GuiHarness::Count(const std::string& text) const {
    return static_cast<int>(std::count(answers.informed.begin(), answers.informed.end(), text));
}

bool GuiHarness::Asked(const std::string& text) const {
    return std::find(answers.asked.begin(), answers.asked.end(), text) != answers.asked.end();
}

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
    boot[36] = char(0xD0), boot[37] = char(0xED);  // 60 880 sectors per FAT
    boot[44] = 2;
    boot[510] = 0x55, boot[511] = char(0xAA);
    dir.Write("sys/class/block/sdb1/size", "62324736\n");
    dir.Write("dev/sdb1", boot);
    dir.Write("mountinfo", "30 22 8:17 / /media/user/CARD rw,nosuid - vfat /dev/sdb1 rw\n");
    return r;
}

QRect CheckBoxRect(QAbstractItemView* view, const QModelIndex& index) {
    QStyleOptionViewItem option;
    option.initFrom(view->viewport());
    option.rect = view->visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = index.data().toString();
    option.index = index;
    option.widget = view;
    return view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
}

QPoint CheckBoxCentre(QAbstractItemView* view, const QModelIndex& index) {
    return CheckBoxRect(view, index).center();
}

}  // namespace tarnwell::test
