#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

class QFileDialog;
class downloader;
class searchWindow;
namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int SlotCount = 5;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void batchStarted();
    void batchEnded(const QString &statusText);

public slots:
    void DialogOpen();
    void StartProcessing();
    void fileSelected(QString file);
    void startSearch();
    void valueChanged(int ID, int percent1, int percent2, int err, QString errmsg);

private:
    void startJobs(bool single);
    void updateProgress();
    QString takeAddress();
    void startJob(int slot, const QString &address);
    void endJob(int ID);
    void endBatch();

    int totalFiles = 0;
    int doneFiles = 0;
    Ui::MainWindow *ui = nullptr;
    int slotBusy[SlotCount] = {};
    int slotPercent[SlotCount] = {};
    downloader *jobs[SlotCount] = {};
    searchWindow *searchDialog = nullptr;
    int moreAddresses = 0;
    QFileDialog *folderDialog = nullptr;
    int failedFiles = 0;
    QStringList batchErrors;
};
