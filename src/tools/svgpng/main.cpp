// tarn-svgpng IN.svg OUT.png WIDTH [HEIGHT]
// Renders an SVG picture into a transparent PNG of the given size. Run on
// the offscreen platform, so the build needs no display.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 4 && args.size() != 5)
    {
        err << "usage: tarn-svgpng IN.svg OUT.png WIDTH [HEIGHT]\n";
        return 2;
    }
    bool bWidthOk = false;
    bool bHeightOk = true;
    const int nWidth = args[3].toInt(&bWidthOk);
    const int nHeight = args.size() == 5 ? args[4].toInt(&bHeightOk) : nWidth;
    if (!bWidthOk || !bHeightOk || nWidth <= 0 || nHeight <= 0)
    {
        err << "tarn-svgpng: bad size\n";
        return 2;
    }

    QSvgRenderer renderer(args[1]);
    if (!renderer.isValid())
    {
        err << "tarn-svgpng: cannot read " << args[1] << "\n";
        return 1;
    }
    QImage image(nWidth, nHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    if (!image.save(args[2], "PNG"))
    {
        err << "tarn-svgpng: cannot write " << args[2] << "\n";
        return 1;
    }
    return 0;
}
