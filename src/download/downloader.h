#pragma once

#include "download/outputparser.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <future>

class QTimer;

// One video's download: runs the stream fetcher, then the finishing step, and
// reports through valueChanged. Its creator deletes it on the final report.
class downloader : public QObject
{
    Q_OBJECT

public:
    downloader(int ID, int fixMp4, QString pageUrl, QString folder);
    ~downloader() override;

signals:
    void valueChanged(int ID, int percent1, int percent2, int err, QString errmsg);

public slots:
    void pollProcess();

private:
    void readOutput();
    void readFlood();
    void scanOutput();
    bool copying() const;
    void reportProgress();
    void childEnded();
    void beginFinishing();
    void endFinishing();
    void fail(const QString &errmsg);

    QTimer *timer = nullptr;
    QString folder;
    outputparser::State text;
    QProcess process;
    int ID = 0;
    int fixMp4 = 0;
    int phase = 1;
    bool startFailed = false;
    bool metCarriageReturn = false;
    // The copy of a fetched file runs on its own thread; a large file on
    // another file system would otherwise stop the window for seconds.
    std::future<QString> move;
};
