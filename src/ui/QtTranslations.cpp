#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallQtTranslations()
{
    auto* pTranslator = new QTranslator(QCoreApplication::instance());
    if (!pTranslator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                           QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    {
        delete pTranslator;
        return false;
    }
    return QCoreApplication::installTranslator(pTranslator);
}
