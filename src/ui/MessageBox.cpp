#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QRegularExpression>
#include <algorithm>
#include <utility>

#include "doc/DocHost.h"

namespace
{
MessageBoxHook& MessageHook()
{
    static MessageBoxHook s_hook;
    return s_hook;
}

FileDialogHook& FileHook()
{
    static FileDialogHook s_hook;
    return s_hook;
}

// The standard buttons in the program's language, whatever Qt translations
// happen to be installed.
struct ButtonText
{
    QMessageBox::StandardButton button;
    const char* pszText;
};
const ButtonText BUTTON_TEXTS[] = {
    {QMessageBox::Ok, "确定"},     {QMessageBox::Cancel, "取消"}, {QMessageBox::Yes, "是"},
    {QMessageBox::No, "否"},       {QMessageBox::Retry, "重试"},  {QMessageBox::Abort, "中止"},
    {QMessageBox::Ignore, "忽略"},
};
} // namespace

QString TarnCaption()
{
    return QString::fromUtf8(TARN_CAPTION);
}

int TarnMessageBox(QWidget* pParent, const QString& strText, const QString& strCaption,
                   QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    if (icon == QMessageBox::NoIcon)
        icon = buttons == QMessageBox::Ok ? QMessageBox::Information : QMessageBox::Question;
    const MessageBoxRequest request{pParent, strText, strCaption, buttons, icon};
    if (MessageHook())
        return MessageHook()(request);

    QMessageBox box(icon, strCaption, strText, buttons, pParent);
    // Texts may quote names from a server, which must never read as markup.
    box.setTextFormat(Qt::PlainText);
    for (const ButtonText& text : BUTTON_TEXTS)
        if (QAbstractButton* pButton = box.button(text.button))
            pButton->setText(QString::fromUtf8(text.pszText));
    return box.exec();
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(MessageHook(), std::move(hook));
}

QString TarnGetOpenFileName(QWidget* pParent, const QStringList& filters,
                            const QString& strDefaultSuffix, const QString& strCaption,
                            const QString& strFolder)
{
    const FileDialogRequest request{pParent,          strCaption, filters,
                                    strDefaultSuffix, strFolder,  nullptr};
    if (FileHook())
        return FileHook()(request);

    QFileDialog dialog(pParent, strCaption, strFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Filters may name their patterns apart from their labels, as in
    // "all files(*.*)(*)": the label is shown, the last patterns apply.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(strDefaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString TarnGetSaveFileName(QWidget* pParent, const QStringList& filters, int* pnFilter,
                            const QString& strCaption)
{
    *pnFilter = 0;
    FileDialogRequest request{pParent, strCaption, filters, QString(), QString(), pnFilter};
    if (FileHook())
        return FileHook()(request);

    auto suffixOf = [](const QString& strFilter)
    {
        // "CSV 文件 (*.csv)" gives "csv".
        qsizetype nStar = strFilter.indexOf(QLatin1String("*."));
        if (nStar < 0)
            return QString();
        qsizetype nEnd = strFilter.indexOf(QRegularExpression(QStringLiteral("[ )]")), nStar);
        return strFilter.mid(nStar + 2, nEnd < 0 ? -1 : nEnd - nStar - 2);
    };
    QFileDialog dialog(pParent, strCaption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.setDefaultSuffix(suffixOf(filters.constFirst()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&](const QString& strFilter)
                     { dialog.setDefaultSuffix(suffixOf(strFilter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    *pnFilter = std::max<int>(0, int(filters.indexOf(dialog.selectedNameFilter())));
    return dialog.selectedFiles().constFirst();
}

FileDialogHook SetFileDialogHook(FileDialogHook hook)
{
    return std::exchange(FileHook(), std::move(hook));
}
