#include "gui/AdvancedInputPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "gui/Artwork.h"
#include "gui/ScanResultsPage.h"
#include "gui/WizardApp.h"
#include "scan/AdvancedCandidates.h"

namespace tarnwell {

namespace {
QPushButton* WorkButton(const char* name, const char* text, art::Glyph glyph) {
    auto* b = new QPushButton(art::ButtonIcon(glyph), text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QComboBox* DropDown(const char* name) {
    auto* c = new QComboBox;
    c->setObjectName(name);
    c->setMinimumWidth(220);
    return c;
}

QLabel* Label(const char* name, const char* text) {
    auto* l = new QLabel(text);
    l->setObjectName(name);
    return l;
}

// The recovery mode page's number, read as a decimal as far as it goes.
int MaximumOf(const std::string& text) {
    const long long n = std::strtoll(text.c_str(), nullptr, 10);
    return CandidateLimit(static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX)));
}
}  // namespace

AdvancedInputPage::AdvancedInputPage(WizardApp& app)
    : WizardPage(app, PageKind::AdvancedInput, "ADVANCE OPTIONS"), prompter_(app.Answerer()) {
    prompter_.SetOwner(app.Window());
    auto* box = new QGroupBox("Advanced Input:");
    auto* grid = new QGridLayout(box);
    tableLabel_ = Label("tableLabel", "TFS :");
    tables_ = DropDown("tables");
    clusterLabel_ = Label("clusterLabel", "Sector Per Cluster :");
    clusters_ = DropDown("clusters");
    heapLabel_ = Label("heapLabel", "Heap Offset :");
    heaps_ = DropDown("heaps");
    grid->addWidget(tableLabel_, 0, 0);
    grid->addWidget(tables_, 0, 1);
    grid->addWidget(clusterLabel_, 1, 0);
    grid->addWidget(clusters_, 1, 1);
    grid->addWidget(heapLabel_, 2, 0);
    grid->addWidget(heaps_, 2, 1);
    grid->setColumnStretch(2, 1);
    Body()->addWidget(box);
    Body()->addStretch(1);

    auto* work = new QHBoxLayout;
    bar_ = new QProgressBar;
    bar_->setObjectName("progress");
    bar_->setTextVisible(false);
    pause_ = WorkButton("pause", "Pause", art::Glyph::Pause);
    resume_ = WorkButton("resume", "Resume", art::Glyph::Resume);
    stop_ = WorkButton("stop", "Stop", art::Glyph::Stop);
    work->addWidget(bar_, 1);
    work->addWidget(pause_);
    work->addWidget(resume_);
    work->addWidget(stop_);
    Body()->addLayout(work);
    status_ = Label("status", "");
    status_->setWordWrap(true);
    Body()->addWidget(status_);

    connect(&progress_, &QtProgress::rangeChanged, bar_, &QProgressBar::setRange);
    connect(&progress_, &QtProgress::positionChanged, bar_, &QProgressBar::setValue);
    connect(&progress_, &QtProgress::statusChanged, status_, &QLabel::setText);
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (!Searching()) return;
        control_.Pause();
        status_->setText("Pause button pressed");
    });
    connect(resume_, &QPushButton::clicked, this, [this] {
        if (!Searching()) return;
        control_.Resume();
        status_->setText("Resume button pressed");
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (!kind_ || !Searching()) return;
        control_.RequestStop();
        status_->setText("stop button pressed");
        BackButton()->setEnabled(true);
        NextButton()->setEnabled(true);
    });

    NextButton()->setEnabled(false);
    BackButton()->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{clusterLabel_, clusters_, heapLabel_, heaps_}) w->hide();
    Start();
}

AdvancedInputPage::~AdvancedInputPage() {
    prompter_.Shutdown();
    StopWorker();
}

void AdvancedInputPage::StopWorker() {
    control_.RequestStop();
    if (worker_.joinable()) worker_.join();
}

void AdvancedInputPage::OnExit() {
    StopWorker();
    status_->setText("All thread Stopped");
}

void AdvancedInputPage::ShowWorkControls(bool show) {
    for (QWidget* w : std::initializer_list<QWidget*>{bar_, pause_, resume_, stop_}) w->setVisible(show);
}

// Nothing will run here: the user is told why and goes Back.
void AdvancedInputPage::Refuse(const std::string& why) {
    kind_.reset();
    prompter_.Inform(why);
    status_->setText(QString::fromStdString(why));
    ShowWorkControls(false);
    BackButton()->setEnabled(true);
}

void AdvancedInputPage::Start() {
    ScanSession& s = Session();
    volume_ = s.selectedVolume;
    maximum_ = MaximumOf(s.maxFileSystems);
    TableKind kind;
    if (!TableKindForName(volume_.fileSystem, kind) ||
        (kind == TableKind::Ntfs && s.recoveryMode != RecoveryMode::Advanced)) {
        return Refuse("The advanced mode reads NTFS, FAT12, FAT16, FAT32 and exFAT volumes, not \"" +
                      volume_.fileSystem + "\". Go Back and choose another mode.");
    }
    if (kind == TableKind::ExFat) {
        heapLabel_->show();
        heaps_->show();
        clusters_->show();  // shifts, not sectors: the sectors label does not fit it
        clusters_->setToolTip("Sectors per cluster as a power of two (3: 8 sectors of 512 bytes)");
    } else {
        clusterLabel_->show();
        clusters_->show();
    }
    tableLabel_->setText(QString::fromStdString(TableListLabel(kind)));
    if (!s.reader)
        return Refuse("Please Restart the program to re begin necessary initialization...");
    if (s.volumeChosen && !s.OpenReader(volume_.location))
        return Refuse("The volume " + volume_.location + " could not be opened.");
    kind_ = kind;
    const std::string starting = FinderStartStatus(kind);
    if (!starting.empty()) status_->setText(QString::fromStdString(starting));

    SectorReader* reader = s.reader.get();
    result_ = std::make_shared<TableCandidates>();
    worker_ = std::thread([this, reader, kind] {
        *result_ = FindAdvancedCandidates(*reader, volume_, kind, maximum_, progress_, prompter_, &control_);
        QMetaObject::invokeMethod(this, [this] { Finished(); }, Qt::QueuedConnection);
    });
}

void AdvancedInputPage::Finished() {
    if (worker_.joinable()) worker_.join();
    if (!kind_ || !result_) return;
    found_ = result_;
    const TableCandidates& found = *found_;
    // The entries name no place; their tips give it, as `tarnwell candidates` prints it.
    auto at = [](std::uint64_t position) { return QString("at byte %1 of the volume").arg(position); };
    tables_->clear();
    for (std::size_t i = 0; i < found.tables.size(); ++i) {
        tables_->addItem(QString::fromStdString(TableEntryText(*kind_, i)));
        tables_->setItemData(static_cast<int>(i), at(found.tables[i]), Qt::ToolTipRole);
    }
    clusters_->clear();
    for (std::uint32_t size : found.clusterSizes) clusters_->addItem(QString::number(size));
    heaps_->clear();
    if (*kind_ == TableKind::ExFat) {
        for (std::size_t i = 0; i < found.heaps.size(); ++i) {
            heaps_->addItem(QString::fromStdString(HeapEntryText(i)));
            heaps_->setItemData(static_cast<int>(i), at(found.heaps[i]), Qt::ToolTipRole);
        }
    }
    for (QComboBox* list : {tables_, clusters_, heaps_})
        if (list->count() > 0) list->setCurrentIndex(0);
    const FinderReport report = FinderEndReport(*kind_, found);
    prompter_.Inform(report.message);
    if (!report.status.empty()) status_->setText(QString::fromStdString(report.status));
    NextButton()->setEnabled(true);
    BackButton()->setEnabled(true);
    ShowWorkControls(false);
    emit searchFinished();
}

void AdvancedInputPage::OnNext() {
    if (!found_ || tables_->currentIndex() < 0 || clusters_->currentIndex() < 0) return;
    ScanSession& s = Session();
    s.recoveryMode = RecoveryMode::Advanced;
    s.advanced.max = maximum_;
    s.advanced.table = tables_->currentIndex();
    s.advanced.cluster = clusters_->currentIndex();
    s.advanced.heap = std::max(0, heaps_->currentIndex());
    s.advanced.found = found_;
    auto* results = new ScanResultsPage(app_);
    results->MirrorAdvancedLists(*tableLabel_, *tables_, *clusters_, *heaps_);
    app_.Open(this, results);
}

void AdvancedInputPage::OnBack() {
    if (!BackButton()->isEnabled()) return;
    // The finder reads through the session's reader and reports to this page:
    // it must have ended before either goes.
    prompter_.Shutdown();
    StopWorker();
    WizardPage::OnBack();
}

}  // namespace tarnwell
