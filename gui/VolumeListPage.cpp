#include "gui/VolumeListPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <set>

#include "fs/FileSystemRegistry.h"
#include "gui/Artwork.h"
#include "gui/PartitionScanPage.h"
#include "gui/RawRecoveryPage.h"
#include "gui/RecoveryModePage.h"
#include "gui/WizardApp.h"
#include "partition/PartitionScanner.h"

namespace tarnwell {

namespace {
enum Column { VolumeColumn, FileSystemColumn, SizeColumn, StartColumn };

QString Text(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

SectorEdit::SectorEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    lineEdit()->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this));
    lineEdit()->setText("0");
}

std::int64_t SectorEdit::Value() const { return LeadingNumber(lineEdit()->text()); }
void SectorEdit::SetValue(std::int64_t value) { lineEdit()->setText(QString::number(value)); }

void SectorEdit::stepBy(int steps) {
    const std::int64_t v = Value();
    if (steps > 0 && v < INT64_MAX) SetValue(v + 1);
    if (steps < 0 && v > 0) SetValue(v - 1);
}

QAbstractSpinBox::StepEnabled SectorEdit::stepEnabled() const {
    return Value() > 0 ? (StepUpEnabled | StepDownEnabled) : StepUpEnabled;
}

VolumeListPage::VolumeListPage(WizardApp& app)
    : WizardPage(app, PageKind::VolumeList, "The volumes found on the drive"), prompter_(app.Answerer()) {
    prompter_.SetOwner(app.Window());
    Body()->addWidget(new QLabel("Volume List:"));
    list_ = new QTreeWidget;
    list_->setObjectName("volumeList");
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"});
    const int widths[] = {80, 120, 120, 120};
    for (int c = 0; c < 4; ++c) list_->setColumnWidth(c, widths[c]);
    auto* row = new QHBoxLayout;
    row->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    filter_ = new QPushButton(art::ButtonIcon(art::Glyph::Filter), "Filter Entries");
    filter_->setObjectName("filterEntries");
    filter_->setToolTip("Filter volume entries.");
    addCustom_ = new QPushButton(art::ButtonIcon(art::Glyph::Add), "Add Custom Volume");
    addCustom_->setObjectName("addCustomVolume");
    addCustom_->setToolTip("Add Custom Volume entry.");
    for (QPushButton* b : {filter_, addCustom_}) b->setAutoDefault(false), side->addWidget(b);
    side->addStretch(1);
    row->addLayout(side);
    Body()->addLayout(row, 1);

    custom_ = new QCheckBox("Custom Settings For Selected Volume ");
    custom_->setObjectName("customSettings");
    Body()->addWidget(custom_);
    group_ = new QGroupBox;
    group_->setObjectName("customGroup");
    auto* grid = new QGridLayout(group_);
    grid->addWidget(new QLabel("Selected Volume :"), 0, 0);
    selected_ = new QLabel;
    selected_->setObjectName("selectedVolume");
    grid->addWidget(selected_, 0, 1);
    grid->addWidget(new QLabel("Start Sector:"), 1, 0);
    start_ = new SectorEdit;
    start_->setObjectName("startSector");
    grid->addWidget(start_, 1, 1);
    grid->addWidget(new QLabel("End Sector :"), 1, 2);
    end_ = new SectorEdit;
    end_->setObjectName("endSector");
    grid->addWidget(end_, 1, 3);
    grid->addWidget(new QLabel("Treat file system as:"), 2, 0);
    treatAs_ = new QComboBox;
    treatAs_->setObjectName("treatAs");
    treatAs_->addItems({"exFAT", "ext", "FAT16", "FAT32", "HFS+", "NTFS", "RAW"});  // sorted
    treatAs_->setCurrentIndex(-1);
    grid->addWidget(treatAs_, 2, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    Body()->addWidget(group_);

    auto* work = new QHBoxLayout;
    bar_ = new QProgressBar;
    bar_->setObjectName("progress");
    bar_->setTextVisible(false);
    stop_ = new QPushButton(art::ButtonIcon(art::Glyph::Stop), "Stop");
    stop_->setObjectName("stop");
    stop_->setAutoDefault(false);
    work->addWidget(bar_, 1);
    work->addWidget(stop_);
    Body()->addLayout(work);
    status_ = new QLabel;
    status_->setObjectName("status");
    Body()->addWidget(status_);

    connect(&progress_, &QtProgress::rangeChanged, bar_, &QProgressBar::setRange);
    connect(&progress_, &QtProgress::positionChanged, bar_, &QProgressBar::setValue);
    connect(&progress_, &QtProgress::statusChanged, status_, &QLabel::setText);
    connect(stop_, &QPushButton::clicked, this, [this] { control_.RequestStop(); });
    connect(custom_, &QCheckBox::toggled, this, [this](bool on) { EnableCustomGroup(on); });
    connect(addCustom_, &QPushButton::clicked, this, [this] { AddCustomVolume(); });
    connect(filter_, &QPushButton::clicked, this, [this] { FilterEntries(); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { RowClicked(item); });

    custom_->setEnabled(false);
    EnableCustomGroup(false);
    addCustom_->setEnabled(false);
    Session().ResetReader();
    advanced_ = Session().partitionScanMode == PartitionScanMode::Advanced;
    if (advanced_) {
        StartAdvancedScan();
    } else {
        progress_.SetRange(0, 1000);
        StandardScan();
        progress_.SetPosition(1000);
    }
}

VolumeListPage::~VolumeListPage() {
    prompter_.Shutdown();
    StopWorker();
}

void VolumeListPage::StopWorker() {
    control_.RequestStop();
    if (worker_.joinable()) worker_.join();
}

void VolumeListPage::OnExit() { StopWorker(); }

void VolumeListPage::EnableCustomGroup(bool on) { group_->setEnabled(on); }

void VolumeListPage::AddRow(std::size_t entry, int position) {
    const VolumeEntry& e = entries_[entry];
    auto* item = new QTreeWidgetItem(
        {Text(e.location), Text(e.fileSystem), Text(e.sizeText), QString::number(e.startSector)});
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(entry));
    list_->insertTopLevelItem(position < 0 ? list_->topLevelItemCount() : position, item);
}

void VolumeListPage::StandardScan() {
    ScanSession& s = Session();
    addCustom_->hide();  // the table road has no custom volumes
    scanner_.reset();
    s.ResetReader();
    if (!s.OpenReader(s.devicePath)) {
        Prompt().Inform("file not opened..");
    } else {
        list_->clear();
        entries_.clear();
        scanner_ = std::make_unique<PartitionScanner>();
        scanner_->gptFormat = s.gptFormat;
        scanner_->progress = &progress_;
        scanner_->ScanPartitionTables(*s.reader);
        for (const VolumeEntry& found : scanner_->Entries()) {
            entries_.push_back(found);
            entries_.back().location = std::to_string(entries_.size() - 1);
            AddRow(entries_.size() - 1, -1);
        }
        if (!entries_.empty()) custom_->setEnabled(true);
    }
    filter_->setEnabled(true);
    progress_.SetStatus("Finished Scanning.");
    bar_->hide();
    stop_->hide();
    progress_.SetStatus("Select volume and click next button...");
}

void VolumeListPage::StartAdvancedScan() {
    ScanSession& s = Session();
    addCustom_->setEnabled(false);
    NextButton()->setEnabled(false);
    scanner_.reset();
    s.ResetReader();
    if (!s.OpenReader(s.devicePath)) {
        NextButton()->setEnabled(true);
        Prompt().Inform("file not opened..");
        return;
    }
    auto scanner = std::make_unique<PartitionScanner>();
    scanner->progress = &progress_;
    scanner->skipVolumeSize = !s.keepVolumeSize;
    if (s.customRangeSet) {
        scanner->customStartSector = s.customStartSector;
        scanner->customEndSector = s.customEndSector;
    }
    scanner->control = &control_;
    scanner->onVolume = [this](const VolumeEntry& found) {
        QMetaObject::invokeMethod(
            this,
            [this, found] {
                entries_.push_back(found);
                entries_.back().location = std::to_string(entries_.size() - 1);
                AddRow(entries_.size() - 1, -1);
            },
            Qt::QueuedConnection);
    };
    list_->clear();
    entries_.clear();
    scanner_ = std::move(scanner);
    // While the worker runs, nothing on this page touches the entries or leaves.
    BackButton()->setEnabled(false);
    filter_->setEnabled(false);
    worker_ = std::thread([this] {
        scanner_->ScanForVolumes(*Session().reader);
        QMetaObject::invokeMethod(this, [this] { AdvancedFinished(); }, Qt::QueuedConnection);
    });
}

void VolumeListPage::AdvancedFinished() {
    if (worker_.joinable()) worker_.join();
    BackButton()->setEnabled(true);
    // A stopped search lists only the volumes before the point it reached.
    const bool stopped = scanner_ && scanner_->Summary().stopped;
    progress_.SetStatus("Scanned Partitions");
    Prompt().Inform(stopped ? "Searching stopped before the end. Only the volumes found until then are listed."
                            : "populated partitions....");
    progress_.SetStatus("Finished Scanning.");
    scanner_.reset();
    if (list_->topLevelItemCount() > 0) custom_->setEnabled(true);
    addCustom_->setEnabled(true);
    filter_->setEnabled(true);
    bar_->hide();
    stop_->hide();
    NextButton()->setEnabled(true);
    progress_.SetStatus("Select volume and click next button...");
    emit scanFinished();
}

void VolumeListPage::SelectionChanged() {
    QTreeWidgetItem* item = list_->currentItem();
    if (!item) return;
    selected_->setText(item->text(VolumeColumn));
    const std::int64_t start = LeadingNumber(item->text(StartColumn));
    start_->SetValue(start);
    // Start and end are in the row's own sectors (4096 bytes on a 4Kn drive).
    const std::size_t index = item->data(0, Qt::UserRole).toULongLong();
    const std::uint32_t unit = index < entries_.size() ? entries_[index].sectorSize : 512;
    VolumeEntry size;
    size.sizeText = item->text(SizeColumn).toStdString();
    const std::int64_t sectors = size.SizeMiB() * ((1 << 20) / unit);
    end_->SetValue(sectors > 0 ? start + sectors - 1 : 0);
}

void VolumeListPage::RowClicked(QTreeWidgetItem* item) {
    // The choice whose parser reads the row's file system (FAT16 for FAT12, HFS+ for HFSX).
    const ParserKind parser = FileSystemByName(item->text(FileSystemColumn).trimmed().toStdString()).parser;
    if (parser == ParserKind::None) return;
    for (int i = 0; i < treatAs_->count(); ++i)
        if (FileSystemByName(treatAs_->itemText(i).toStdString()).parser == parser)
            return treatAs_->setCurrentIndex(i);
}

void VolumeListPage::AddCustomVolume() {
    const std::size_t n = entries_.size();
    VolumeEntry e;
    e.location = std::to_string(n);
    e.fileSystem = "CUSTOM ";
    e.sizeText = "0";
    e.startSector = 0;
    // The drive's own sectors, as its other rows count them.
    if (!entries_.empty()) e.sectorSize = entries_.front().sectorSize;
    e.foundBy = FoundBy::Manual;
    custom_->setEnabled(true);
    custom_->setChecked(true);
    entries_.push_back(e);
    AddRow(n, advanced_ ? 0 : static_cast<int>(n));
    QTreeWidgetItem* item = list_->topLevelItem(advanced_ ? 0 : static_cast<int>(n));
    list_->setCurrentItem(item);
    start_->SetValue(0);
    end_->SetValue(0);
}

// Lists again only the volumes of a known file system, each start sector once;
// the entries themselves all stay.
void VolumeListPage::FilterEntries() {
    list_->clear();
    std::set<std::int64_t> starts;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const VolumeEntry& e = entries_[i];
        QString fs = Text(e.fileSystem).trimmed();
        if (fs.isEmpty() || fs.compare(ShownName(FsType::Unknown), Qt::CaseInsensitive) == 0) continue;
        if (!starts.insert(e.startSector).second) continue;
        AddRow(i, -1);
    }
}

void VolumeListPage::OnNext() {
    QTreeWidgetItem* item = list_->currentItem();
    if (!item || !item->isSelected()) {
        Prompt().Inform("please select a valid volume.");
        return;
    }
    VolumeEntry& entry = entries_[item->data(0, Qt::UserRole).toULongLong()];
    if (!custom_->isChecked() && edited_) {
        entry.location = item->text(VolumeColumn).toStdString();
        entry.fileSystem = item->text(FileSystemColumn).toStdString();
        entry.sizeText = item->text(SizeColumn).remove("MB").trimmed().toStdString();
        entry.startSector = LeadingNumber(item->text(StartColumn));
    }
    bool raw = false;
    if (custom_->isChecked()) {
        edited_ = true;
        const std::int64_t start = start_->Value();
        const std::int64_t end = end_->Value();
        entry.startSector = start;
        entry.sizeText = std::to_string(end > start ? ((end - start + 1) * std::int64_t(entry.sectorSize)) >> 20 : 0);
        entry.sectorCount = end > start ? static_cast<std::uint64_t>(end - start + 1) : 0;
        const QString chosen = treatAs_->currentText();
        const FileSystemInfo& fs = FileSystemByName(chosen.toStdString());
        if (chosen == "RAW") raw = true;
        else if (fs.type != FsType::Unknown) entry.fileSystem = fs.kind;
    }
    scanner_.reset();
    if (raw) {
        entry.fileSystem = "RAW";
        Session().selectedVolume = entry;
        app_.Open(this, new RawRecoveryPage(app_));
        return;
    }
    if (QString::fromStdString(entry.fileSystem).compare(ShownName(FsType::Unknown), Qt::CaseInsensitive) == 0) {
        Prompt().Inform("can not parse unknown volume");
        return;
    }
    Session().selectedVolume = entry;
    app_.Open(this, new RecoveryModePage(app_, PageKind::VolumeList));
}

void VolumeListPage::OnBack() {
    if (!BackButton()->isEnabled()) return;
    StopWorker();
    WizardPage::OnBack();
}

}  // namespace tarnwell
