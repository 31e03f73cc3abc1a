#include "gui/ScanResultsPage.h"

#include <QGridLayout>
#include <QSplitter>

#include "gui/Artwork.h"
#include "gui/WizardApp.h"

namespace tarnwell {

namespace {
const QColor kDeletedRed(255, 0, 0);

QPushButton* ImageButton(const char* name, const char* text, art::Glyph glyph) {
    auto* b = new QPushButton(art::ButtonIcon(glyph), text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}
}  // namespace

ScanResultsPage::ScanResultsPage(WizardApp& app)
    : WizardPage(app, PageKind::ScanResults, "Found files and folders"), prompter_(app.Answerer()) {
    prompter_.SetOwner(app.Window());
    NextButton()->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Volume Data:"));
    volumeData_ = new QLineEdit;
    volumeData_->setObjectName("volumeData");
    volumeData_->setReadOnly(true);
    top->addWidget(volumeData_, 1);
    Body()->addLayout(top);

    auto* split = new QSplitter;
    tree_ = new CheckTree;
    tree_->setObjectName("fileTree");
    list_ = new CheckList;
    list_->setObjectName("detailList");
    split->addWidget(tree_);
    split->addWidget(list_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 5);
    split->setSizes({280, 480});
    Body()->addWidget(split, 1);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Output folder:"), 0, 0);
    outputFolder_ = new QLineEdit;
    outputFolder_->setObjectName("outputFolder");
    outputFolder_->setPlaceholderText("a folder on another drive");
    grid->addWidget(outputFolder_, 0, 1);
    browse_ = new QToolButton;
    browse_->setObjectName("browse");
    browse_->setIcon(art::ButtonIcon(art::Glyph::Browse));
    browse_->setToolTip("Please choose a folder.");
    grid->addWidget(browse_, 0, 2);
    save_ = ImageButton("save", "Save", art::Glyph::Save);
    grid->addWidget(save_, 0, 3);
    grid->addWidget(new QLabel("Find:"), 1, 0);
    pattern_ = new QLineEdit;
    pattern_->setObjectName("searchPattern");
    grid->addWidget(pattern_, 1, 1);
    auto* hint = new QLabel("* Use \"|\" to find multiple file type ");
    hint->setObjectName("searchHint");
    grid->addWidget(hint, 2, 1);
    search_ = ImageButton("search", "Search", art::Glyph::Search);
    grid->addWidget(search_, 1, 3);
    grid->setColumnStretch(1, 1);
    Body()->addLayout(grid);

    auto* work = new QHBoxLayout;
    bar_ = new QProgressBar;
    bar_->setObjectName("progress");
    bar_->setTextVisible(false);
    fileSize_ = new QLabel;
    fileSize_->setObjectName("fileSize");
    pause_ = ImageButton("pause", "Pause", art::Glyph::Pause);
    resume_ = ImageButton("resume", "Resume", art::Glyph::Resume);
    stop_ = ImageButton("stop", "Stop", art::Glyph::Stop);
    work->addWidget(bar_, 1);
    work->addWidget(fileSize_);
    work->addWidget(pause_);
    work->addWidget(resume_);
    work->addWidget(stop_);
    Body()->addLayout(work);
    status_ = new QLabel;
    status_->setObjectName("status");
    status_->setWordWrap(true);
    Body()->addWidget(status_);

    // The advanced page's picks, kept beside the tree; never shown.
    mirrorTableLabel_ = new QLabel(this);
    mirrorTableLabel_->setObjectName("mirrorTableLabel");
    mirrorTables_ = new QComboBox(this);
    mirrorTables_->setObjectName("mirrorTables");
    mirrorClusters_ = new QComboBox(this);
    mirrorClusters_->setObjectName("mirrorClusters");
    mirrorHeaps_ = new QComboBox(this);
    mirrorHeaps_->setObjectName("mirrorHeaps");
    for (QWidget* w : std::initializer_list<QWidget*>{mirrorTableLabel_, mirrorTables_, mirrorClusters_, mirrorHeaps_})
        w->hide();

    tree_->Initialize(true, true);
    list_->setColumnCount(6);
    list_->setHeaderLabels(
        {"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute"});
    const int widths[] = {160, 140, 140, 140, 80, 70};
    for (int c = 0; c < 6; ++c) list_->setColumnWidth(c, widths[c]);
    list_->InitHeaderCheck();
    BackButton()->setEnabled(false);

    connect(&progress_, &QtProgress::rangeChanged, bar_, &QProgressBar::setRange);
    connect(&progress_, &QtProgress::positionChanged, bar_, &QProgressBar::setValue);
    connect(&progress_, &QtProgress::statusChanged, status_, &QLabel::setText);
    connect(pause_, &QPushButton::clicked, this, [this] { job_->Pause(); });
    connect(resume_, &QPushButton::clicked, this, [this] { job_->Resume(); });
    connect(stop_, &QPushButton::clicked, this, [this] { job_->Stop(); });
    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
    connect(search_, &QPushButton::clicked, this, [this] { Search(); });
    connect(browse_, &QToolButton::clicked, this, [this] { ChooseFolder(); });
    connect(tree_, &CheckTree::labelClicked, this, [this](TreeItem item) { LabelClicked(item); });
    connect(tree_, &CheckTree::itemDoubleClicked, this, [this](TreeItem item) { DoubleClicked(item); });
    connect(list_, &CheckList::rowCheckClicked, this, [this](int row, bool checked) {
        if (listShowsSearchResults_) return;
        auto* item = list_->topLevelItem(row);
        auto node = item ? reinterpret_cast<TreeItem>(item->data(0, Qt::UserRole + 1).value<quintptr>()) : nullptr;
        if (tree_->IsItem(node)) tree_->SetCheck(node, checked);
    });
    tree_->SetChildrenLoader([this](TreeItem item) { LoadChildren(item); });

    const VolumeEntry& volume = Session().selectedVolume;
    volumeData_->setText(QString::fromStdString(volume.rootPath.empty() ? volume.location : volume.rootPath));
    job_ = std::make_unique<ScanJob>(Session(), progress_, prompter_);
    if (app.parserMaker) job_->SetParserMaker(app.parserMaker);
    job_->onScanFinished = [this](ScanOutcome outcome) {
        QMetaObject::invokeMethod(this, [this, outcome] { Finished(outcome); }, Qt::QueuedConnection);
    };
    if (!job_->Start()) {
        // Nothing runs on this page; Back is the way on, whatever the reason.
        BackButton()->setEnabled(true);
    }
}

ScanResultsPage::~ScanResultsPage() {
    prompter_.Shutdown();  // a worker waiting for an answer gets "No"
    job_.reset();          // stops and waits for the worker
}

void ScanResultsPage::MirrorAdvancedLists(const QLabel& tableLabel, const QComboBox& tables,
                                        const QComboBox& clusters, const QComboBox& heaps) {
    mirrorTableLabel_->setText(tableLabel.text());
    const std::pair<QComboBox*, const QComboBox*> pairs[] = {
        {mirrorTables_, &tables}, {mirrorClusters_, &clusters}, {mirrorHeaps_, &heaps}};
    for (auto [mirror, source] : pairs) {
        mirror->clear();
        for (int i = 0; i < source->count(); ++i) mirror->addItem(source->itemText(i));
        mirror->setCurrentIndex(source->currentIndex());
    }
}

void ScanResultsPage::OnBack() {
    if (BackButton()->isEnabled()) WizardPage::OnBack();
}

void ScanResultsPage::OnExit() {
    job_->Stop();
    status_->setText("All thread Stopped");
}

void ScanResultsPage::ShowWorkControls(bool show) {
    for (QWidget* w : std::initializer_list<QWidget*>{bar_, pause_, resume_, stop_}) w->setVisible(show);
}

void ScanResultsPage::Finished(ScanOutcome outcome) {
    BackButton()->setEnabled(true);
    if (outcome == ScanOutcome::Refused) return emit scanFinished();
    ShowWorkControls(false);
    FileSystemParser* parser = job_->Parser();
    if (!parser) return emit scanFinished();
    // The worker has ended: from here on the rows no longer change, so the tree
    // may read them.
    const RowId root = parser->Root();
    NewCheckItem newItem;
    newItem.text = QString::fromStdString(Session().rootFolderName);
    newItem.icon = icons_.FolderIcon();
    newItem.data = root;
    newItem.mayHaveChildren = parser->FirstChild(root) != kNoRow;
    TreeItem item = tree_->InsertItem(newItem);
    tree_->Expand(item, CheckTree::ExpandIt);
    emit scanFinished();
}

void ScanResultsPage::LoadChildren(TreeItem item) {
    FileSystemParser* parser = job_->Parser();
    if (!parser || job_->Outcome() == ScanOutcome::Running) return;
    // Children take their folder's tick, so opening a ticked folder keeps it ticked.
    const bool checked = tree_->GetCheck(item);
    std::vector<NewCheckItem> newItems;
    std::uint64_t guard = parser->RowCount() + 1;
    for (RowId r = parser->FirstChild(tree_->GetItemData(item)); r != kNoRow && guard-- > 0;
         r = parser->NextSibling(r)) {
        EntryInfo info = parser->Info(r);
        NewCheckItem newItem;
        newItem.text = QString::fromStdString(info.name);
        newItem.icon = info.folder ? icons_.FolderIcon() : icons_.IconFor(newItem.text);
        newItem.data = r;
        newItem.checked = checked;
        if (info.deleted) newItem.textColor = kDeletedRed;
        newItem.mayHaveChildren = info.folder && parser->FirstChild(r) != kNoRow;
        newItems.push_back(std::move(newItem));
    }
    tree_->InsertItems(newItems, item);
}

void ScanResultsPage::AddEntryRow(TreeItem item, bool nameOnly) {
    FileSystemParser* parser = job_->Parser();
    const RowId row = tree_->GetItemData(item);
    QStringList texts{tree_->GetItemText(item)};
    if (!nameOnly) {
        DetailTexts t = parser->FormatTimes(row);
        for (const std::string* s : {&t.created, &t.accessed, &t.modified}) texts << QString::fromStdString(*s);
        texts << QString::fromStdString(parser->FormatSize(row)) << QString::fromStdString(t.attributes);
    }
    QTreeWidgetItem* rowItem = list_->AddRow(texts, QVariant::fromValue<quint64>(row));
    rowItem->setData(0, Qt::UserRole + 1, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
    if (auto color = tree_->Data(item)->textColor)
        for (int c = 0; c < texts.size(); ++c) rowItem->setForeground(c, *color);
}

void ScanResultsPage::LabelClicked(TreeItem item) {
    FileSystemParser* parser = job_->Parser();
    if (!parser || job_->Outcome() == ScanOutcome::Running) return;
    if (parser->Info(tree_->GetItemData(item)).folder) {
        tree_->EnsureChildren(item);
        if (!tree_->GetChildItem(item)) return;
        list_->DeleteAllItems();
        listShowsSearchResults_ = false;
        for (TreeItem child : tree_->Children(item))
            if (!parser->Info(tree_->GetItemData(child)).folder) AddEntryRow(child, false);
    } else {
        list_->DeleteAllItems();
        listShowsSearchResults_ = false;
        AddEntryRow(item, false);
    }
}

void ScanResultsPage::DoubleClicked(TreeItem item) {
    FileSystemParser* parser = job_->Parser();
    if (!parser || job_->Outcome() == ScanOutcome::Running) return;
    const RowId row = tree_->GetItemData(item);
    if (!parser->Info(row).folder) {
        job_->SaveFile(row, outputFolder_->text().toStdString());
        return;
    }
    tree_->EnsureChildren(item);
    if (!tree_->GetChildItem(item)) return;
    list_->DeleteAllItems();
    for (TreeItem child : tree_->Children(item))
        if (!parser->Info(tree_->GetItemData(child)).folder) AddEntryRow(child, true);
}

std::vector<std::vector<RowId>> ScanResultsPage::TickedChains() const {
    std::vector<std::vector<RowId>> chains;
    std::vector<RowId> chain;
    std::function<void(TreeItem)> walk = [&](TreeItem folder) {
        for (TreeItem child : tree_->Children(folder)) {
            const int state = tree_->StateImage(child) & 3;
            if (state == 1) continue;
            chain.push_back(tree_->GetItemData(child));
            if (state == 2) chains.push_back(chain);
            else walk(child);  // partly ticked: only some of it goes
            chain.pop_back();
        }
    };
    if (TreeItem root = tree_->GetRootItem()) walk(root);
    return chains;
}

void ScanResultsPage::ChooseFolder() {
    const QString folder = app_.chooseFolder ? app_.chooseFolder() : QString();
    if (!folder.isEmpty()) outputFolder_->setText(folder);  // a cancelled choice keeps what was there
}

void ScanResultsPage::WorkDone() {
    ShowWorkControls(false);
    BackButton()->setEnabled(true);
    emit workFinished();
}

void ScanResultsPage::Save() {
    SaveRequest request;
    request.outputFolder = outputFolder_->text().trimmed().toStdString();
    if (TreeItem selected = tree_->GetSelectedItem()) {
        request.folder = tree_->GetItemData(selected);
        // Its rows below the root name the saved files' paths in the report.
        const TreeItem root = tree_->GetRootItem();
        for (TreeItem at = selected; at != nullptr && at != root; at = tree_->GetParentItem(at))
            request.folderChain.insert(request.folderChain.begin(), tree_->GetItemData(at));
    }
    request.ticked = TickedChains();
    auto done = [this](const SaveReport&) { QMetaObject::invokeMethod(this, [this] { WorkDone(); }, Qt::QueuedConnection); };
    if (job_->StartSave(std::move(request), done)) {
        ShowWorkControls(true);
        BackButton()->setEnabled(false);
    }
}

void ScanResultsPage::Search() {
    if (job_->WorkerBusy() || !job_->Parser()) {
        job_->StartSearch({}, {});  // says "Please wait for other process to complete"
        return;
    }
    list_->DeleteAllItems();
    listShowsSearchResults_ = true;
    FileSystemParser* parser = job_->Parser();
    const std::string root = Session().rootFolderName;
    auto onHit = [this, parser, root](const SearchHit& hit) {
        // The texts are made here, on the search's thread, which owns the reading meanwhile.
        DetailTexts t = parser->FormatTimes(hit.row);
        QStringList texts{QString::fromStdString(hit.DisplayPath(root)), QString::fromStdString(t.created),
                          QString::fromStdString(t.accessed), QString::fromStdString(t.modified),
                          QString::fromStdString(parser->FormatSize(hit.row)), QString::fromStdString(t.attributes)};
        const bool deleted = parser->Info(hit.row).deleted;
        const RowId row = hit.row;
        QMetaObject::invokeMethod(
            this,
            [this, texts, deleted, row] {
                QTreeWidgetItem* item = list_->AddRow(texts, QVariant::fromValue<quint64>(row));
                if (deleted)
                    for (int c = 0; c < texts.size(); ++c) item->setForeground(c, kDeletedRed);
            },
            Qt::QueuedConnection);
    };
    auto done = [this](SearchEnd) { QMetaObject::invokeMethod(this, [this] { WorkDone(); }, Qt::QueuedConnection); };
    if (job_->StartSearch(pattern_->text().toStdString(), onHit, done)) {
        ShowWorkControls(true);
        BackButton()->setEnabled(false);
    }
}

}  // namespace tarnwell
