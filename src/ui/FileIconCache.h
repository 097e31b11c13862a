#pragma once
// The file list's pictures: the desktop's icon for a file's type, found once
// per extension through the MIME database and the icon theme, and the
// folder icons; the program's own pictures where the theme has none.
// GUI thread only.

#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>
#include <string_view>

class CFileIconCache
{
public:
    CFileIconCache();

    // The icon of a file name (bytes, as the server sent them).
    QIcon FileIcon(std::string_view name);
    // Normal: closed; selected: open.
    const QIcon& FolderIcon() const { return m_folder; }

    // The lower-case extension of a name: what follows its last dot, or ""
    // for a name without one (a leading dot starts no extension).
    static QString Extension(std::string_view name);

private:
    QIcon LookUp(const QString& strExtension);

    QMimeDatabase m_mimes;
    QHash<QString, QIcon> m_byExtension;
    QIcon m_file;
    QIcon m_folder;
};
