#pragma once
// Reading numbers out of dialog fields. The number is what stands at the
// start of the text, as the C library's scanning reads it: leading white
// space is skipped and anything after the digits is ignored, so "21abc" is
// 21 while "abc" and "" are no number at all.

#include <QString>
#include <optional>

class QWidget;

// An unsigned number ("%u" without a sign); values beyond the type are
// capped at its maximum.
std::optional<unsigned int> ScanLeadingUnsigned(const QString& strText);
// A signed number ("%d", an optional + or -); values beyond the type are
// capped at its minimum or maximum.
std::optional<int> ScanLeadingInt(const QString& strText);

// A field's value was refused: shows the message (caption "Tarn") and puts
// the focus back into the field with its text selected, for the user to fix.
void RefuseField(QWidget* pDialog, QWidget* pField, const QString& strMessage);
