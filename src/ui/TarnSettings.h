#pragma once
// Where the window keeps its settings (geometry, splitter): QSettings under
// the organisation and application names the program has always used.

#include <QString>

inline QString TarnSettingsOrganization()
{
    return QStringLiteral("应用程序向导生成的本地应用程序");
}

inline QString TarnSettingsApplication()
{
    return QStringLiteral("Tarn");
}
