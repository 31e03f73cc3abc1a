#pragma once
// Icons for file names, from the MIME database and the icon theme, with the
// style's own file and folder icons where the theme has none. The file need
// not exist: only its name is looked at.

#include <QHash>
#include <QIcon>
#include <QMimeDatabase>

namespace tarnwell {

class FileIcons {
public:
    QIcon FolderIcon();
    QIcon IconFor(const QString& fileName);

private:
    QMimeDatabase mime_;
    QHash<QString, QIcon> cache_;  // by MIME type name
    QIcon folder_;
};

}  // namespace tarnwell
