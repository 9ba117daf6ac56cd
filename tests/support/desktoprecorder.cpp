#include "desktoprecorder.h"

#include <QDBusConnection>
#include <QDBusError>

namespace {

const QString connectionName = QStringLiteral("recorded-desktop");

} // namespace

DesktopRecorder::DesktopRecorder() = default;

DesktopRecorder::~DesktopRecorder()
{
    QDBusConnection::disconnectFromBus(connectionName);
    daemon.terminate();
    daemon.waitForFinished();
}

bool DesktopRecorder::listen()
{
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
    }
    address = QString::fromLatin1(daemon.readLine().trimmed());
    if (address.isEmpty()) {
        problem = QStringLiteral("no session bus: ") + daemon.errorString();
        return false;
    }
    QDBusConnection desk = QDBusConnection::connectToBus(address, connectionName);
    // Bus signals reach a slot only by its signature text.
    const bool listening =
        desk.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                            QDBusConnection::ExportScriptableSlots)
        && desk.registerService(QStringLiteral("org.freedesktop.Notifications"))
        && desk.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                        QStringLiteral("Update"), this, SLOT(launcherUpdate(QString,QVariantMap)));
    if (!listening)
        problem = QStringLiteral("the bus refused the desktop: ") + desk.lastError().message();
    return listening;
}

uint DesktopRecorder::Notify(const QString &appName, uint, const QString &icon, const QString &summary,
                             const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    notifications << QStringList{appName, icon, summary, body,
                                 hints.value(QStringLiteral("desktop-entry")).toString()};
    return uint(notifications.size());
}

void DesktopRecorder::launcherUpdate(const QString &uri, QVariantMap properties)
{
    properties.insert(QStringLiteral("uri"), uri);
    launcher << properties;
}
