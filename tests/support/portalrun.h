#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

// The demo portal of one test program: started with scripts/portal in a run
// folder of its own, with the build's catalogue or another one.
class PortalRun
{
public:
    // An empty catalogue means the build's own, demo/catalogue.tsv.
    explicit PortalRun(const QString &catalogue = QString());

    // Each returns an empty string, or what went wrong. start() takes ports the
    // system gives and makes them the portal of this process and of the
    // programs it starts; it also puts the stand-in fetcher first on PATH (at
    // full speed) and makes workingDir the process's working directory, where
    // fetched files land; stop() leaves it.
    QString start(const QString &workingDir);
    QString stop();
    // The stream server (nginx) or the HTTP server alone, to make faults.
    QString stopStreamServer();
    QString startStreamServer();
    QString stopWebServer();

    // The FLV the portal streams for a catalogue id, and the video's title.
    QString sourceVideo(const QString &id) const;
    QString title(const QString &id) const;
    // A path in the portal's run folder, the one scripts/portal is given.
    QString runPath(const QString &name) const;

    // The stand-in at full speed, or at the video's own pace.
    static void setFastPace(bool fast);

private:
    QString portalScript(const QString &action);

    QTemporaryDir folder;
    QString buildDir;
    QString catalogueFile;
};

// The video pages of the catalogue ids, as one list for the address field.
QString pageAddresses(const QStringList &ids);

// Stops the server whose pid the file holds and waits for it to go; why not, or empty.
QString stopByPidFile(const QString &pidFile);

// A suite against the demo portal: the portal runs from before the first case
// to after the last, with `work` as the working directory.
class PortalSuite : public QObject
{
    Q_OBJECT

public:
    explicit PortalSuite(const QString &catalogue = QString()) : portal(catalogue) {}

protected:
    // Empty when `folder` holds the videos of `ids`, each whole under its
    // title, and nothing else, and no fetched file was left in `work`;
    // otherwise what is wrong.
    QString unsaved(const QString &folder, const QStringList &ids) const;

    PortalRun portal;
    QTemporaryDir work;

protected slots:
    void initTestCase();
    void cleanupTestCase();
};
