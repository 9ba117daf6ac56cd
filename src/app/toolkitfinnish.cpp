#include "app/toolkitfinnish.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt's catalogue lacks the help texts of its command-line parser.
class ParserFinnish : public QTranslator
{
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QCommandLineParser") != 0)
            return QString();
        if (qstrcmp(sourceText, "Displays help on commandline options.") == 0)
            return QStringLiteral("Näyttää tämän ohjeen.");
        if (qstrcmp(sourceText, "Displays help including Qt specific options.") == 0)
            return QStringLiteral("Näyttää ohjeen Qt:n omine valitsimineen.");
        return QString();
    }
};

} // namespace

QTranslator *loadToolkitFinnish(QCoreApplication &app)
{
    QCoreApplication::installTranslator(new ParserFinnish(&app));
    auto *catalogue = new QTranslator(&app);
    if (!catalogue->load(QStringLiteral("qtbase_fi"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(catalogue)) {
        delete catalogue;
        return nullptr;
    }
    return catalogue;
}
