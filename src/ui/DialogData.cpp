#include "ui/DialogData.h"

#include <QLineEdit>
#include <limits>

#include "ui/MessageBox.h"

namespace
{
// Digits after optional white space (and a sign when allowed), capped at
// nLimit; nullopt without a digit.
std::optional<long long> ScanLeading(const QString& strText, bool bSigned, long long nLimit)
{
    qsizetype n = 0;
    while (n < strText.size() && strText[n].isSpace())
        ++n;
    bool bNegative = false;
    if (bSigned && n < strText.size() && (strText[n] == '+' || strText[n] == '-'))
        bNegative = strText[n++] == '-';
    if (n >= strText.size() || strText[n] < '0' || strText[n] > '9')
        return std::nullopt;
    long long nValue = 0;
    for (; n < strText.size() && strText[n] >= '0' && strText[n] <= '9'; ++n)
        nValue = std::min(nLimit + 1, nValue * 10 + (strText[n].unicode() - '0'));
    if (bNegative)
        return std::max(-nValue, -nLimit - 1);
    return std::min(nValue, nLimit);
}
} // namespace

std::optional<unsigned int> ScanLeadingUnsigned(const QString& strText)
{
    auto value = ScanLeading(strText, false, std::numeric_limits<unsigned int>::max());
    if (!value)
        return std::nullopt;
    return static_cast<unsigned int>(*value);
}

std::optional<int> ScanLeadingInt(const QString& strText)
{
    auto value = ScanLeading(strText, true, std::numeric_limits<int>::max());
    if (!value)
        return std::nullopt;
    return static_cast<int>(*value);
}

void RefuseField(QWidget* pDialog, QWidget* pField, const QString& strMessage)
{
    TarnMessageBox(pDialog, strMessage, TarnCaption(), QMessageBox::Ok, QMessageBox::Warning);
    pField->setFocus(Qt::OtherFocusReason);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pField))
        pEdit->selectAll();
}
