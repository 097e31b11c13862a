// tarn-helppdf IN.md OUT.pdf
// Lays out the Markdown user guide on A4 pages in a Chinese font and writes
// it as PDF. Pictures are found relative to the Markdown file; a picture
// wider than the text is scaled down to the text width.

#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>
#include <QUrl>

namespace
{
// The first of these that is installed; fontconfig falls back for missing glyphs.
const char* const CJK_FONTS[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC"};
const int BODY_POINT_SIZE = 11;
const int LINE_HEIGHT_PERCENT = 135;
// The margin QTextDocument::print() gives a document without a page size.
const qreal PRINT_MARGIN_MM = 20;

QString PickFont()
{
    const QStringList families = QFontDatabase::families();
    for (const char* pszFamily : CJK_FONTS)
        if (families.contains(QString::fromUtf8(pszFamily), Qt::CaseInsensitive))
            return QString::fromUtf8(pszFamily);
    return {};
}

// Markdown images carry no size: give each one its natural size, capped at
// the text width so that a wide screenshot fits the page. A picture that does
// not exist (yet) is left out rather than shown as a broken image.
void FitImages(QTextDocument& doc, const QString& strBaseFolder, qreal rTextWidth)
{
    struct Image
    {
        int nPosition;
        int nLength;
        QTextImageFormat format;
    };
    QList<Image> images;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                images.append({it.fragment().position(), it.fragment().length(),
                               it.fragment().charFormat().toImageFormat()});

    // Backwards, so that removing one leaves the positions of the others valid.
    for (auto it = images.crbegin(); it != images.crend(); ++it)
    {
        QTextImageFormat format = it->format;
        const QUrl url(format.name());
        const QString strPath =
            url.isRelative() ? strBaseFolder + "/" + format.name() : url.toLocalFile();
        QTextCursor cursor(&doc);
        cursor.setPosition(it->nPosition);
        cursor.setPosition(it->nPosition + it->nLength, QTextCursor::KeepAnchor);
        const QSize size = QImageReader(strPath).size();
        if (!size.isValid())
        {
            cursor.removeSelectedText();
            if (cursor.block().text().isEmpty())
            {
                cursor.select(QTextCursor::BlockUnderCursor);
                cursor.removeSelectedText();
            }
            continue;
        }
        const qreal rScale = qMin<qreal>(1.0, rTextWidth / size.width());
        format.setWidth(size.width() * rScale);
        format.setHeight(size.height() * rScale);
        cursor.setCharFormat(format);
    }
}
// A line break inside a Chinese paragraph of the source must not become a
// space, as it would between two English words. Code blocks stay as written.
QString JoinChineseLines(const QString& strMarkdown)
{
    static const QRegularExpression s_break(
        QStringLiteral("(?<=[\\x{2E80}-\\x{9FFF}\\x{FF00}-\\x{FFEF}])\\n(?=[\\x{2E80}-\\x{9FFF}\\x{"
                       "FF00}-\\x{FFEF}])"));
    QStringList parts = strMarkdown.split(QStringLiteral("```"));
    for (qsizetype n = 0; n < parts.size(); n += 2) // the even parts lie outside the fences
        parts[n].replace(s_break, QString());
    return parts.join(QStringLiteral("```"));
}

// Chinese text reads better with more room between lines than Qt's default;
// a line holding a picture keeps the picture's own height.
void SpaceLines(QTextDocument& doc)
{
    QTextBlockFormat format;
    format.setLineHeight(LINE_HEIGHT_PERCENT, QTextBlockFormat::ProportionalHeight);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
    {
        if (block.text().contains(QChar::ObjectReplacementCharacter))
            continue;
        QTextCursor cursor(block);
        cursor.mergeBlockFormat(format);
    }
}
} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 3)
    {
        err << "usage: tarn-helppdf IN.md OUT.pdf\n";
        return 2;
    }

    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly))
    {
        err << "tarn-helppdf: cannot read " << args[1] << "\n";
        return 1;
    }
    const QString strMarkdown = QString::fromUtf8(source.readAll());
    const QString strBaseFolder = QFileInfo(args[1]).absolutePath();

    const QString strFont = PickFont();
    if (strFont.isEmpty())
        err << "tarn-helppdf: no Chinese font found (install fonts-wqy-microhei)\n";

    // Written to a temporary file and renamed, so a failed run never leaves a
    // half-written help.pdf that the build would take as up to date.
    QSaveFile output(args[2]);
    if (!output.open(QIODevice::WriteOnly))
    {
        err << "tarn-helppdf: cannot write " << args[2] << "\n";
        return 1;
    }
    {
        QPdfWriter writer(&output);
        writer.setTitle(QStringLiteral("Tarn 使用说明"));
        writer.setCreator(QStringLiteral("Tarn"));
        // No page margins of our own: print() lays the text out with 2 cm
        // margins and puts the page numbers into the bottom one.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));

        QTextDocument doc;
        doc.setBaseUrl(QUrl::fromLocalFile(strBaseFolder + "/"));
        QFont font(strFont.isEmpty() ? QGuiApplication::font().family() : strFont);
        font.setPointSize(BODY_POINT_SIZE);
        doc.setDefaultFont(font);
        doc.setMarkdown(JoinChineseLines(strMarkdown));
        SpaceLines(doc);

        // Image sizes are in pixels at 96 dpi, scaled to the writer when printed.
        const qreal rTextWidthMm =
            QPageSize(QPageSize::A4).size(QPageSize::Millimeter).width() - 2 * PRINT_MARGIN_MM;
        FitImages(doc, strBaseFolder, rTextWidthMm / 25.4 * 96);
        doc.print(&writer);
    }
    if (!output.commit())
    {
        err << "tarn-helppdf: cannot write " << args[2] << "\n";
        return 1;
    }
    return 0;
}
