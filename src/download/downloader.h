#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

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
    QTimer *timer = nullptr;
    QString folder;
    QString output;
    QString baseName;
    QProcess process;
    int percent1 = 0;
    int percent2 = 0;
    int ID = 0;
    int fixMp4 = 0;
    int phase = 1;
    int duration = 0;
};
