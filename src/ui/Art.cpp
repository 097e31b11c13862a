#include "ui/Art.h"

#include <QPainter>
#include <QSvgRenderer>
#include <iterator>
#include <mutex>

// Q_INIT_RESOURCE must be called outside any namespace. Calling it here also
// keeps the linker from dropping the resources of this static library.
static void InitTarnResources()
{
    Q_INIT_RESOURCE(tarn);
}

namespace
{
const char* const TOOLBAR_NAMES[TOOLBAR_IMAGE_COUNT] = {
    "read", "toggle", "edit", "add", "search", "update", "back", "forward", "up",
};
const char* const STATUS_NAMES[] = {"waiting", "failed", "succeeded", "stopped", "running"};
const int STATUS_COUNT = int(std::size(STATUS_NAMES));

void EnsureResources()
{
    static std::once_flag s_once;
    std::call_once(s_once, InitTarnResources);
}

QString ResourcePath(const QString& strName)
{
    EnsureResources();
    return QStringLiteral(":/tarn/") + strName;
}
} // namespace

QString ToolbarImagePath(int nImage, bool bDisabled)
{
    if (nImage < 0 || nImage >= TOOLBAR_IMAGE_COUNT)
        return {};
    return ResourcePath(QStringLiteral("toolbar/%1%2.svg")
                            .arg(QString::fromLatin1(TOOLBAR_NAMES[nImage]),
                                 bDisabled ? QStringLiteral("-disabled") : QString()));
}

QString SiteStatusImagePath(int nStatus)
{
    if (nStatus < 0 || nStatus >= STATUS_COUNT)
        nStatus = 0;
    return ResourcePath(
        QStringLiteral("status/%1.svg").arg(QString::fromLatin1(STATUS_NAMES[nStatus])));
}

QString AppIconPath()
{
    return ResourcePath(QStringLiteral("tarn.svg"));
}

QString SplashPicturePath()
{
    return ResourcePath(QStringLiteral("splash.svg"));
}

QString AboutPicturePath()
{
    return ResourcePath(QStringLiteral("about.svg"));
}

QIcon ToolbarIcon(int nImage)
{
    if (nImage < 0 || nImage >= TOOLBAR_IMAGE_COUNT)
        return {};
    QIcon icon(ToolbarImagePath(nImage));
    icon.addFile(ToolbarImagePath(nImage, true), QSize(), QIcon::Disabled);
    return icon;
}

QIcon SiteStatusIcon(int nStatus)
{
    return QIcon(SiteStatusImagePath(nStatus));
}

QIcon AppIcon()
{
    return QIcon(AppIconPath());
}

QIcon FallbackFolderIcon(bool bOpen)
{
    return QIcon(ResourcePath(bOpen ? QStringLiteral("list/folder-open.svg")
                                    : QStringLiteral("list/folder.svg")));
}

QIcon FallbackFileIcon()
{
    return QIcon(ResourcePath(QStringLiteral("list/file.svg")));
}

QPixmap RenderPicture(const QString& strPath, QSize size, qreal rDevicePixelRatio)
{
    if (rDevicePixelRatio <= 0)
        rDevicePixelRatio = 1;
    QPixmap pixmap(size * rDevicePixelRatio);
    pixmap.setDevicePixelRatio(rDevicePixelRatio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(strPath);
    if (renderer.isValid())
    {
        QPainter painter(&pixmap);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    return pixmap;
}
