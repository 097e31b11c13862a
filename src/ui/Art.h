#pragma once
// The program's own pictures (res/*.svg, compiled in through tarn.qrc): the
// toolbar's nine pictures in their normal and disabled forms, the site
// tree's five status pictures, the application icon, the splash and About
// pictures, and folder and file icons for where the icon theme has none.
// GUI thread only.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// Toolbar pictures, in the toolbar's order: "已读", "切换", "编辑", "增加",
// "搜索", "更新", "后退", "前进", "向上".
inline constexpr int TOOLBAR_IMAGE_COUNT = 9;
inline constexpr QSize TOOLBAR_IMAGE_SIZE(32, 28);
inline constexpr QSize SPLASH_SIZE(550, 373);
inline constexpr QSize ABOUT_PICTURE_SIZE(177, 72);

// Resource paths, for the few callers that want the file itself.
QString ToolbarImagePath(int nImage, bool bDisabled = false);
QString SiteStatusImagePath(int nStatus);
QString AppIconPath();
QString SplashPicturePath();
QString AboutPicturePath();

// A toolbar picture with its grey form as the icon's Disabled mode; an
// empty icon for an index outside 0..8.
QIcon ToolbarIcon(int nImage);
// A site's picture by its status value: 0 not updated (star), 1 failed,
// 2 succeeded, 3 stopped, 4 waiting or updating; the star for any other value.
QIcon SiteStatusIcon(int nStatus);
QIcon AppIcon();
QIcon FallbackFolderIcon(bool bOpen = false);
QIcon FallbackFileIcon();

// A picture rendered at its own size in logical pixels for a screen of the
// given device pixel ratio.
QPixmap RenderPicture(const QString& strPath, QSize size, qreal rDevicePixelRatio);
