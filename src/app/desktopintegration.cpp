#include "app/desktopintegration.h"

#include "app/mainwindow.h"
#include "external/buildconfig.h"

#include <QDBusMessage>
#include <QProgressBar>
#include <QStringList>

namespace desktop {

QString launcherEntryUri()
{
    return QStringLiteral("application://" LUMORA_APP_ID ".desktop");
}

double progressFraction(int value, int minimum, int maximum)
{
    if (maximum <= minimum)
        return 0.0;
    return qBound(0.0, double(value - minimum) / (maximum - minimum), 1.0);
}

} // namespace desktop

DesktopIntegration::DesktopIntegration(MainWindow *window, QProgressBar *progressBar,
                                       const QDBusConnection &bus)
    : QObject(window)
    , window(window)
    , progressBar(progressBar)
    , bus(bus)
{
    connect(window->batchSignals(), &BatchSignals::started, this, &DesktopIntegration::batchStarted);
    connect(window->batchSignals(), &BatchSignals::ended, this, &DesktopIntegration::batchEnded);
    connect(progressBar, &QProgressBar::valueChanged, this, &DesktopIntegration::progressChanged);
}

// A window closed in the middle of a batch must not leave its progress on the dock.
DesktopIntegration::~DesktopIntegration()
{
    if (running)
        publishProgress(shownProgress, false);
}

// The bar still shows the previous batch's end until the first report: a new
// batch starts from nothing.
void DesktopIntegration::batchStarted()
{
    running = true;
    publishProgress(0.0, true);
}

void DesktopIntegration::progressChanged(int value)
{
    const double progress =
        desktop::progressFraction(value, progressBar->minimum(), progressBar->maximum());
    if (running && progress != shownProgress)
        publishProgress(progress, true);
}

void DesktopIntegration::batchEnded(const QString &statusText)
{
    running = false;
    // The notification first: a dock that sees the entry hidden knows the
    // batch's messages have all been sent.
    if (!window->isActiveWindow())
        notify(statusText);
    publishProgress(shownProgress, false);
}

void DesktopIntegration::publishProgress(double progress, bool visible)
{
    shownProgress = progress;
    if (!bus.isConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/fi/lumoradownloader/LumoraDownloader/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << desktop::launcherEntryUri()
           << QVariantMap{{QStringLiteral("progress"), progress},
                          {QStringLiteral("progress-visible"), visible}};
    bus.send(update);
}

void DesktopIntegration::notify(const QString &text)
{
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral(LUMORA_APP_NAME) << 0u << QStringLiteral(LUMORA_APP_ID) << text
         << QString() << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral(LUMORA_APP_ID)}}
         << -1;
    bus.send(call);
}
