// Every picture the window asks for exists in the resources, is a valid SVG
// and has the size it is drawn for.

#include <QSvgRenderer>
#include <QtTest>

#include "ui/Art.h"

class ArtTest : public QObject
{
    Q_OBJECT

private slots:
    void PicturesExistWithTheirSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        for (int n = 0; n < TOOLBAR_IMAGE_COUNT; ++n)
        {
            QTest::addRow("toolbar %d", n) << ToolbarImagePath(n) << TOOLBAR_IMAGE_SIZE;
            QTest::addRow("toolbar %d disabled", n)
                << ToolbarImagePath(n, true) << TOOLBAR_IMAGE_SIZE;
        }
        for (int n = 0; n <= 4; ++n)
            QTest::addRow("status %d", n) << SiteStatusImagePath(n) << QSize(16, 16);
        QTest::newRow("application icon") << AppIconPath() << QSize(64, 64);
        QTest::newRow("splash") << SplashPicturePath() << SPLASH_SIZE;
        QTest::newRow("about") << AboutPicturePath() << ABOUT_PICTURE_SIZE;
    }

    void PicturesExistWithTheirSizes()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QSvgRenderer renderer(path);
        QVERIFY2(renderer.isValid(), qPrintable(path));
        QCOMPARE(renderer.defaultSize(), size);
    }

    void StatusPicturesAreDistinctAndOutOfRangeIsTheStar()
    {
        QSet<QString> paths;
        for (int n = 0; n <= 4; ++n)
            paths.insert(SiteStatusImagePath(n));
        QCOMPARE(paths.size(), 5);
        QCOMPARE(SiteStatusImagePath(7), SiteStatusImagePath(0));
        QCOMPARE(SiteStatusImagePath(-1), SiteStatusImagePath(0));
        QVERIFY(ToolbarIcon(TOOLBAR_IMAGE_COUNT).isNull());
    }
};

QTEST_MAIN(ArtTest)
#include "ArtTest.moc"
