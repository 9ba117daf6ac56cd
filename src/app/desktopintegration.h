#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class MainWindow;
class QProgressBar;

namespace desktop {

// The launcher entry a dock or task manager matches against its launchers.
QString launcherEntryUri();
// The bar's value as the 0.0-1.0 fraction the launcher entry carries.
double progressFraction(int value, int minimum, int maximum);

} // namespace desktop

// Tells the desktop about the window's batches through the session bus: the
// batch's progress on the taskbar or dock while it runs, and a notification
// when it ends while the window is not the active one. Every message is sent
// without waiting for an answer, so a missing bus or service costs nothing.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    DesktopIntegration(MainWindow *window, QProgressBar *progressBar,
                       const QDBusConnection &bus = QDBusConnection::sessionBus());
    ~DesktopIntegration() override;

private:
    void batchStarted();
    void progressChanged(int value);
    void batchEnded(const QString &statusText);
    void publishProgress(double progress, bool visible);
    void notify(const QString &text);

    MainWindow *window;
    QProgressBar *progressBar;
    QDBusConnection bus;
    bool running = false;
    double shownProgress = 0.0;
};
