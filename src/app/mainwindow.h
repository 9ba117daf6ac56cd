#pragma once

#include "app/batchmemory.h"
#include "app/batchqueue.h"
#include "app/batchsignals.h"
#include "app/failurereasons.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QFileDialog;
class QueueField;
class StatusLine;
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

    BatchSignals *batchSignals() { return &batchEvents; }

public slots:
    void DialogOpen();
    void StartProcessing();
    void fileSelected(QString file);
    void startSearch();
    void valueChanged(int ID, int percent1, int percent2, int err, QString errmsg);

private:
    // Which count the status line shows, so that an edit of the queue can
    // show the new total in it.
    enum class CountText { None, Loading, Done };

    void startJobs(bool single);
    void updateProgress();
    bool startNext();
    void startJob(int slot, const BatchQueue::Taken &taken);
    QString endJob(int ID, bool failed);
    void reportWithoutBatch(bool failed, const QString &errmsg);
    void showError(const QString &errmsg, const QString &address);
    void showWarning(const QString &warning);
    void showJournalWarning(const QString &warning);
    void showCount(CountText kind);
    void queueEdited();
    void endBatch();
    std::optional<BatchJournal::Contents> unsaved() const;

    BatchQueue batch;
    BatchSignals batchEvents;
    Ui::MainWindow *ui = nullptr;
    int slotBusy[SlotCount] = {};
    double slotDone[SlotCount] = {}; // how far each job has come, 0 to 1
    int slotTicket[SlotCount] = {};
    downloader *jobs[SlotCount] = {};
    QPointer<searchWindow> searchDialog; // the newest; closed ones are deleted
    QFileDialog *folderDialog = nullptr;
    FailureReasons reasons;
    QStringList batchWarnings; // videos saved with a warning, for the tool tip
    QString batchThreads;
    CountText countText = CountText::None;
    std::unique_ptr<QueueField> queueField;
    std::unique_ptr<StatusLine> status;
    BatchMemory memory{[this] { return unsaved(); }};
};
