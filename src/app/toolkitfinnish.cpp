#include "app/toolkitfinnish.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator *loadToolkitFinnish(QCoreApplication &app)
{
    auto *catalogue = new QTranslator(&app);
    if (!catalogue->load(QStringLiteral("qtbase_fi"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(catalogue)) {
        delete catalogue;
        return nullptr;
    }
    return catalogue;
}
