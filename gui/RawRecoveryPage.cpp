#include "gui/RawRecoveryPage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QSplitter>

#include <functional>

#include "gui/Artwork.h"
#include "gui/SignatureSettingsBox.h"
#include "gui/WizardApp.h"

namespace tarnwell {

namespace {
QPushButton* ImageButton(const char* name, const char* text, art::Glyph glyph) {
    auto* b = new QPushButton(art::ButtonIcon(glyph), text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setToolTip(text);
    return b;
}

// Tree items carry 0 for the root and the categories, else 1 + the file's
// position in the job's items, which hold its own start and length.
quint64 FileData(std::size_t index) { return static_cast<quint64>(index) + 1; }
}  // namespace

RawRecoveryPage::RawRecoveryPage(WizardApp& app)
    : WizardPage(app, PageKind::RawRecovery, "Raw recovery"), prompter_(app.Answerer()) {
    prompter_.SetOwner(app.Window());
    NextButton()->hide();
    BackButton()->setToolTip("Back");

    const QString besideProgram = QCoreApplication::applicationDirPath() + "/FileSetting.txt";
    if (QFileInfo(besideProgram).isFile()) defaultListPath_ = besideProgram;

    auto* group = new QGroupBox(
        "Click Parse button to add default file settings or create your own file to process raw recovery.");
    group->setObjectName("settingsGroup");
    auto* g = new QGridLayout(group);
    path_ = new QLineEdit(defaultListPath_);
    path_->setObjectName("settingsPath");
    path_->setPlaceholderText("the built-in default list; choose a settings file of your own with ...");
    choosePath_ = new QPushButton("...");
    choosePath_->setObjectName("chooseSettings");
    choosePath_->setAutoDefault(false);
    parse_ = ImageButton("parse", "Parse", art::Glyph::Search);
    loadDefaults_ = new QCheckBox("Load Default Items");
    loadDefaults_->setObjectName("loadDefaults");
    loadDefaults_->setChecked(true);
    setting_ = ImageButton("setting", "Setting", art::Glyph::Add);
    auto* hint = new QLabel("[Add new signatures in \n new/existing file]");
    hint->setObjectName("settingHint");
    g->addWidget(path_, 0, 0, 1, 2);
    g->addWidget(choosePath_, 0, 2);
    g->addWidget(parse_, 0, 3);
    g->addWidget(loadDefaults_, 1, 0);
    g->addWidget(hint, 1, 1, Qt::AlignRight);
    g->addWidget(setting_, 1, 3);
    g->setColumnStretch(1, 1);
    Body()->addWidget(group);

    auto* split = new QSplitter;
    tree_ = new CheckTree;
    tree_->setObjectName("rawTree");
    list_ = new QTreeWidget;
    list_->setObjectName("filesList");
    list_->setColumnCount(1);
    list_->setHeaderLabels({"FILES LIST "});
    list_->setColumnWidth(0, 300);
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAlternatingRowColors(true);
    split->addWidget(tree_);
    split->addWidget(list_);
    split->setSizes({380, 380});
    Body()->addWidget(split, 1);

    auto* out = new QHBoxLayout;
    out->addWidget(new QLabel("Output folder:"));
    outputFolder_ = new QLineEdit;
    outputFolder_->setObjectName("outputFolder");
    outputFolder_->setPlaceholderText("a folder on another drive");
    out->addWidget(outputFolder_, 1);
    browse_ = new QToolButton;
    browse_->setObjectName("browse");
    browse_->setText("Browse");
    browse_->setIcon(art::ButtonIcon(art::Glyph::Browse));
    browse_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    browse_->setToolTip("Please choose a folder.");
    out->addWidget(browse_);
    save_ = ImageButton("save", "Save", art::Glyph::Save);
    out->addWidget(save_);
    Body()->addLayout(out);

    auto* work = new QHBoxLayout;
    bar_ = new QProgressBar;
    bar_->setObjectName("progress");
    bar_->setTextVisible(false);
    pause_ = ImageButton("pause", "Pause", art::Glyph::Pause);
    resume_ = ImageButton("resume", "Resume", art::Glyph::Resume);
    stop_ = ImageButton("stop", "Stop", art::Glyph::Stop);
    work->addWidget(bar_, 1);
    work->addWidget(pause_);
    work->addWidget(resume_);
    work->addWidget(stop_);
    Body()->addLayout(work);
    status_ = new QLabel;
    status_->setObjectName("status");
    status_->setWordWrap(true);
    Body()->addWidget(status_);

    tree_->Initialize(true, true);
    ShowWorkControls(false);

    job_ = std::make_unique<CarveJob>(Session(), progress_, prompter_);

    connect(&progress_, &QtProgress::rangeChanged, bar_, &QProgressBar::setRange);
    connect(&progress_, &QtProgress::positionChanged, bar_, &QProgressBar::setValue);
    connect(&progress_, &QtProgress::statusChanged, status_, &QLabel::setText);
    connect(parse_, &QPushButton::clicked, this, [this] { Parse(); });
    connect(setting_, &QPushButton::clicked, this, [this] { OpenSettings(); });
    connect(choosePath_, &QPushButton::clicked, this, [this] { ChooseSettingsFile(); });
    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
    connect(browse_, &QToolButton::clicked, this, [this] {
        const QString folder = app_.chooseFolder ? app_.chooseFolder() : QString();
        if (!folder.isEmpty()) outputFolder_->setText(folder);
    });
    connect(pause_, &QPushButton::clicked, this, [this] { job_->Pause(); });
    connect(resume_, &QPushButton::clicked, this, [this] { job_->Resume(); });
    connect(stop_, &QPushButton::clicked, this, [this] { job_->Stop(); });
    connect(tree_, &CheckTree::labelClicked, this, [this](TreeItem item) { LabelClicked(item); });
}

RawRecoveryPage::~RawRecoveryPage() {
    prompter_.Shutdown();
    job_.reset();  // stops and waits for the worker
}

void RawRecoveryPage::OnBack() {
    if (BackButton()->isEnabled()) WizardPage::OnBack();
}

void RawRecoveryPage::OnExit() {
    job_->Stop();
    status_->setText("All thread Stopped");
}

void RawRecoveryPage::ShowWorkControls(bool show) {
    for (QWidget* w : std::initializer_list<QWidget*>{bar_, pause_, resume_, stop_}) w->setVisible(show);
}

void RawRecoveryPage::SetInputsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{BackButton(), choosePath_, path_, setting_}) w->setEnabled(on);
}

void RawRecoveryPage::Parse() {
    // A second worker on the same reader and engine would corrupt both.
    if (job_->Busy()) {
        prompter_.Inform("Please wait for other process to complete");
        return;
    }
    ShowWorkControls(true);
    if (loadDefaults_->isChecked()) job_->LoadDefaults(defaultListPath_.toStdString());
    const QString path = path_->text().trimmed();
    if (!path.isEmpty() && !job_->LoadFile(path.toStdString())) {
        BackButton()->setEnabled(true);
        status_->setText("Processing done");
        ShowWorkControls(false);
        return;
    }
    SetInputsEnabled(false);
    auto onFound = [this](std::size_t index, const CarvedItem& item) {
        QMetaObject::invokeMethod(this, [this, index, item] { AddFound(index, item); }, Qt::QueuedConnection);
    };
    auto done = [this](const CarveSummary& summary) {
        const bool stopped = summary.stopped;
        QMetaObject::invokeMethod(this, [this, stopped] { RunDone(stopped); }, Qt::QueuedConnection);
    };
    // The tree gets its root before the worker's first find can arrive: finds
    // are delivered through this thread's event queue.
    if (job_->StartRun(onFound, done) != CarveStart::Started) {
        SetInputsEnabled(true);
        ShowWorkControls(false);
        status_->setText("Processing done");
        return;
    }
    parse_->setEnabled(false);
    BeginTree();
}

void RawRecoveryPage::BeginTree() {
    categories_.clear();
    NewCheckItem root;
    root.text = "RAW RECOVERY ";
    root.icon = icons_.FolderIcon();
    TreeItem rootItem = tree_->InsertItem(root);
    for (const SignatureRecord& s : job_->Engine()->Settings()) {
        if (categories_.count(s.category)) continue;
        NewCheckItem category;
        category.text = QString::fromStdString(s.category);
        category.icon = icons_.FolderIcon();
        categories_[s.category] = {tree_->InsertItem(category, rootItem), 0};
    }
    tree_->Expand(rootItem, CheckTree::ExpandIt);
}

void RawRecoveryPage::AddFound(std::size_t index, const CarvedItem& item) {
    auto it = categories_.find(item.category);
    if (it == categories_.end()) return;
    auto& [node, count] = it->second;
    ++count;
    tree_->SetItemText(node, QString("%1 (%2)").arg(QString::fromStdString(item.category)).arg(count));
    NewCheckItem file;
    file.text = QString::fromStdString(item.name);
    file.icon = icons_.IconFor(file.text);
    file.data = FileData(index);
    file.checked = tree_->GetCheck(node);
    tree_->InsertItems({file}, node);
}

void RawRecoveryPage::RunDone(bool stopped) {
    BackButton()->setEnabled(true);
    setting_->setEnabled(true);
    parse_->setEnabled(true);
    ShowWorkControls(false);
    status_->setText(stopped ? "Processing stopped" : "Processing done");
    emit runFinished();
}

void RawRecoveryPage::LabelClicked(TreeItem item) {
    list_->clear();
    for (TreeItem child : tree_->Children(item)) {
        if (tree_->GetItemData(child) == 0) continue;  // a category, not a file
        auto* row = new QTreeWidgetItem(list_, {tree_->GetItemText(child)});
        row->setIcon(0, icons_.IconFor(tree_->GetItemText(child)));
        row->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(child)));
    }
}

void RawRecoveryPage::ChooseSettingsFile() {
    const QString chosen = app_.chooseSettingsFile ? app_.chooseSettingsFile() : QString();
    path_->setText(chosen);  // a cancelled choice empties the path: only the defaults are loaded then
}

void RawRecoveryPage::OpenSettings() {
    SignatureSettingsBox dialog(app_, this);
    dialog.exec();
}

std::vector<std::size_t> RawRecoveryPage::TickedItems() const {
    std::vector<std::size_t> ticked;
    std::function<void(TreeItem)> walk = [&](TreeItem item) {
        for (TreeItem child : tree_->Children(item)) {
            if (quint64 data = tree_->GetItemData(child); data != 0) {
                if (tree_->GetCheck(child)) ticked.push_back(static_cast<std::size_t>(data - 1));
            } else {
                walk(child);
            }
        }
    };
    for (TreeItem root = tree_->GetRootItem(); root; root = tree_->GetNextSiblingItem(root)) walk(root);
    return ticked;
}

void RawRecoveryPage::Save() {
    auto done = [this](const CarveSaveReport&) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                ShowWorkControls(false);
                BackButton()->setEnabled(true);
                parse_->setEnabled(true);
                emit saveFinished();
            },
            Qt::QueuedConnection);
    };
    if (job_->StartSave(TickedItems(), outputFolder_->text().trimmed().toStdString(), done)) {
        ShowWorkControls(true);
        BackButton()->setEnabled(false);
        parse_->setEnabled(false);
    }
}

}  // namespace tarnwell
