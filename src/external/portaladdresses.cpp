#include "external/portaladdresses.h"

#include "external/buildconfig.h"

#include <QUrl>

namespace external {

namespace {

struct Addresses
{
    QString portal = QStringLiteral(LUMORA_PORTAL_URL);
    QString stream = QStringLiteral(LUMORA_STREAM_URL);
};

Addresses &chosen()
{
    static Addresses addresses;
    return addresses;
}

// Scheme, host and port only: a path, query or user name would be glued in
// front of the program's own paths, so it is refused rather than mended.
QString schemeAndHost(const QString &text, const QStringList &schemes)
{
    QString trimmed = text.trimmed();
    if (trimmed.endsWith(u'/'))
        trimmed.chop(1);
    const QUrl url(trimmed, QUrl::StrictMode);
    const bool bare = url.isValid() && !url.host().isEmpty() && url.path().isEmpty()
                      && !url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty();
    if (!bare || !schemes.contains(url.scheme()))
        return QString();
    return url.toString(QUrl::FullyEncoded);
}

} // namespace

QString portalUrl()
{
    return chosen().portal;
}

QString streamUrl()
{
    return chosen().stream;
}

QString choosePortal(const QString &choice)
{
    if (choice.trimmed().isEmpty())
        return QString();
    const QString portalText = choice.section(u',', 0, 0);
    const QString streamText = choice.section(u',', 1);
    const QString portal = schemeAndHost(portalText, {QStringLiteral("http"), QStringLiteral("https")});
    if (portal.isEmpty())
        return QStringLiteral("portaalin osoite \"%1\" ei kelpaa; anna muodossa http://palvelin:portti")
            .arg(portalText.trimmed());
    QString stream;
    if (streamText.trimmed().isEmpty()) {
        QUrl sameHost;
        sameHost.setScheme(QStringLiteral("rtmp"));
        sameHost.setHost(QUrl(portal).host());
        stream = sameHost.toString(QUrl::FullyEncoded);
    } else {
        stream = schemeAndHost(streamText, {QStringLiteral("rtmp"), QStringLiteral("rtmpe"),
                                            QStringLiteral("rtmps"), QStringLiteral("rtmpt"),
                                            QStringLiteral("rtmpte"), QStringLiteral("rtmpts")});
        if (stream.isEmpty())
            return QStringLiteral("striimipalvelimen osoite \"%1\" ei kelpaa; anna muodossa rtmp://palvelin:portti")
                .arg(streamText.trimmed());
    }
    chosen() = {portal, stream};
    return QString();
}

QString choosePortalFrom(const QString &commandLine)
{
    if (!commandLine.isEmpty())
        return choosePortal(commandLine);
    return choosePortal(qEnvironmentVariable(PortalVariable));
}

} // namespace external
