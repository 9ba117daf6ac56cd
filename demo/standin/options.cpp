#include "options.h"

namespace standin {

namespace {

QString readCount(const QString &name, const QString &value, int *target)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < 0 || number > 3600)
        return QStringLiteral("%1 needs a whole number, got '%2'").arg(name, value);
    *target = number;
    return {};
}

} // namespace

QString parseOptions(const QStringList &arguments, Options *options)
{
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        const QString &name = arguments[i];
        if (i + 1 >= arguments.size())
            return QStringLiteral("option %1 needs a value").arg(name);
        const QString &value = arguments[i + 1];
        QString problem;
        if (name == QLatin1String("--rtmp"))
            options->rtmp = value;
        else if (name == QLatin1String("--swfUrl"))
            options->swfUrl = value;
        else if (name == QLatin1String("--pageUrl"))
            options->pageUrl = value;
        else if (name == QLatin1String("--timeout"))
            problem = readCount(name, value, &options->timeoutSeconds);
        else if (name == QLatin1String("--autoResume"))
            problem = readCount(name, value, &options->autoResume);
        else
            problem = QStringLiteral("unknown option '%1'").arg(name);
        if (!problem.isEmpty())
            return problem;
    }
    if (!options->rtmp.startsWith(QLatin1String("rtmp://")))
        return QStringLiteral("--rtmp rtmp://host:port/app is required");
    if (!options->pageUrl.startsWith(QLatin1String("http")))
        return QStringLiteral("--pageUrl with the video page address is required");
    return {};
}

} // namespace standin
