#include "ui/FileIconCache.h"

#include <QMimeType>

#include "ui/Art.h"

namespace
{
// Longer "extensions" are parts of names, not types: not worth a lookup each.
constexpr size_t MAX_EXTENSION = 16;
} // namespace

CFileIconCache::CFileIconCache()
    : m_file(QIcon::fromTheme(QStringLiteral("text-x-generic"), FallbackFileIcon()))
{
    QIcon closed = QIcon::fromTheme(QStringLiteral("folder"), FallbackFolderIcon(false));
    QIcon open = QIcon::fromTheme(QStringLiteral("folder-open"), FallbackFolderIcon(true));
    // One icon for both states: the tree shows the open picture on its
    // selected item.
    for (int nSize : {16, 20, 22, 24, 32, 48})
    {
        m_folder.addPixmap(closed.pixmap(nSize, nSize), QIcon::Normal);
        m_folder.addPixmap(open.pixmap(nSize, nSize), QIcon::Selected);
    }
}

QString CFileIconCache::Extension(std::string_view name)
{
    size_t nDot = name.rfind('.');
    if (nDot == std::string_view::npos || nDot == 0 || nDot + 1 == name.size() ||
        name.size() - nDot - 1 > MAX_EXTENSION)
        return {};
    QString strExtension;
    for (char c : name.substr(nDot + 1))
        strExtension += QChar::fromLatin1(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
    return strExtension;
}

QIcon CFileIconCache::FileIcon(std::string_view name)
{
    QString strExtension = Extension(name);
    auto it = m_byExtension.constFind(strExtension);
    if (it != m_byExtension.constEnd())
        return *it;
    QIcon icon = LookUp(strExtension);
    m_byExtension.insert(strExtension, icon);
    return icon;
}

QIcon CFileIconCache::LookUp(const QString& strExtension)
{
    if (strExtension.isEmpty())
        return m_file;
    const QList<QMimeType> types =
        m_mimes.mimeTypesForFileName(QStringLiteral("x.") + strExtension);
    for (const QMimeType& type : types)
    {
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(type.genericIconName());
        if (!icon.isNull())
            return icon;
    }
    return m_file;
}
