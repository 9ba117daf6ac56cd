#pragma once

#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

// A desktop on a session bus of its own, so that nothing reaches the desktop
// of whoever runs the tests: it holds the notification service and listens
// to the launcher entry signal, as a dock does.
class DesktopRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    DesktopRecorder();
    ~DesktopRecorder() override;

    // Starts the bus and takes the service; false, and `problem` says why, when it could not.
    bool listen();

    QString address; // of the bus, for the program under test
    QString problem;
    QList<QStringList> notifications; // application, icon, summary, body, desktop entry
    QList<QVariantMap> launcher;      // each update's properties, with its "uri"

public slots:
    Q_SCRIPTABLE uint Notify(const QString &appName, uint, const QString &icon, const QString &summary,
                             const QString &body, const QStringList &, const QVariantMap &hints, int);
    void launcherUpdate(const QString &uri, QVariantMap properties);

private:
    QProcess daemon;
};
