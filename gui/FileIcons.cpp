#include "gui/FileIcons.h"

#include <QApplication>
#include <QStyle>

namespace tarnwell {

QIcon FileIcons::FolderIcon() {
    if (folder_.isNull())
        folder_ = QIcon::fromTheme("folder", QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    return folder_;
}

QIcon FileIcons::IconFor(const QString& fileName) {
    const QMimeType type = mime_.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    auto it = cache_.find(type.name());
    if (it != cache_.end()) return *it;
    const QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
    cache_.insert(type.name(), icon);
    return icon;
}

}  // namespace tarnwell
