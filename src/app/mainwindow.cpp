#include "app/mainwindow.h"

#include "app/accessiblecombobox.h"
#include "app/batchendtext.h"
#include "app/batchprogress.h"
#include "app/desktopintegration.h"
#include "app/queuefield.h"
#include "app/statusline.h"
#include "download/downloader.h"
#include "external/buildconfig.h"
#include "external/portaladdresses.h"
#include "forms/formfit.h"
#include "search/searchwindow.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QLineEdit>

#include <algorithm>
#include <iterator>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    AccessibleComboBox::install();
    ui->setupUi(this);
    // The form names the build's portal; the program may have been given another.
    ui->label->setText(ui->label->text().replace(QStringLiteral(LUMORA_PORTAL_URL), external::portalUrl()));
    status = std::make_unique<StatusLine>(ui->statusbar);
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    status->show(QStringLiteral("Valmiina lataamaan!"));
    for (int count = 1; count <= SlotCount; ++count)
        ui->threadcount->addItem(QString::number(count));
    queueField = std::make_unique<QueueField>(ui->url, batch);
    connect(ui->url, &QLineEdit::textChanged, this, &MainWindow::queueEdited);
    formfit::fitToFont(this, ui->centralWidget);
    new DesktopIntegration(this, ui->progressBar);
    connect(memory.journalEvents(), &JournalSignals::writeFailed, this, &MainWindow::showJournalWarning,
            Qt::QueuedConnection);
    // What the last run left unsaved comes back; nothing starts by itself,
    // so that a list that ended the program cannot end it again.
    if (const BatchJournal::Contents &left = memory.left(); !left.addresses.isEmpty()) {
        ui->url->setText(left.addresses.join(u';'));
        ui->outputfile->setText(left.folder);
        ui->checkBox->setChecked(left.repair);
    }
    if (const QString said = memory.startText(); !said.isEmpty())
        status->show(said);
}

MainWindow::~MainWindow()
{
    // The jobs' addresses stay unsaved when their children are ended.
    if (batch.active())
        memory.close();
    // Jobs have no parent; deleting those still running ends their children.
    for (downloader *job : jobs)
        delete job;
    delete ui;
}

void MainWindow::DialogOpen()
{
    if (!folderDialog) {
        folderDialog = new QFileDialog(this, QStringLiteral("Tallenna kansioon.."),
                                       QStringLiteral("."), QString());
        connect(folderDialog, &QFileDialog::fileSelected, this, &MainWindow::fileSelected);
    }
    folderDialog->setFileMode(QFileDialog::Directory);
    folderDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    folderDialog->show();
}

void MainWindow::fileSelected(QString file)
{
    ui->outputfile->setText(file);
}

void MainWindow::StartProcessing()
{
    startJobs(false);
    if (!batch.active())
        return;
    // A list whose videos are all in the folder already has ended without a job.
    if (batch.finished())
        endBatch();
    else
        updateProgress(); // the bar leaves the last batch's end before any job reports
}

void MainWindow::startSearch()
{
    searchDialog = new searchWindow(this, ui->searchword->text(), ui->url);
    // A closed dialog has stopped its search; the ones still open stay.
    connect(searchDialog, &QDialog::finished, searchDialog, &QObject::deleteLater);
    searchDialog->show();
    searchDialog->runSearch();
}

void MainWindow::startJobs(bool single)
{
    if (!batch.active() && !batch.hasAddresses(ui->url->text())) {
        status->show(QStringLiteral("Ei osoitteita: liitä videoiden osoitteet kenttään"));
        return;
    }
    ui->pushButton->setEnabled(false);
    if (!batch.active()) {
        batch.begin(ui->url->text());
        memory.begin();
        reasons.clear();
        batchWarnings.clear();
        emit batchEvents.started();
        status->showReasons(QString());
        batchThreads = ui->threadcount->currentText();
        showCount(CountText::Loading);
    }
    for (int r = 0; single ? r <= 0 : ui->threadcount->currentText().toInt() > r; ++r) {
        if (!batch.waiting() || !startNext())
            break;
    }
    ui->outputfile->setEnabled(false);
}

// Takes addresses from the front of the field until one job has started.
// Returns false when no slot is free; the address then stays in the field.
bool MainWindow::startNext()
{
    while (batch.waiting()) {
        const int *freeSlot = std::find(std::begin(slotBusy), std::end(slotBusy), 0);
        if (freeSlot == std::end(slotBusy))
            return false;
        const QString before = ui->url->text();
        const QueueField::Place place = queueField->place();
        BatchQueue::Taken taken = batch.take(before);
        qsizetype dropped = taken.dropped;
        // Videos in the folder already are passed over without showing each
        // take: a long list given again would stop the window for seconds.
        const int doneBefore = batch.done();
        bool passed = false;
        while ((passed = memory.alreadySaved(ui->outputfile->text(), taken.address))) {
            batch.jobEnded(taken.ticket, false);
            if (!batch.waiting())
                break;
            taken = batch.take(taken.field);
            dropped += taken.dropped;
        }
        queueField->showTaken(place, taken.field, dropped);
        // They count at once, as on the bar; a failure's message stays in view.
        if (batch.done() > doneBefore && countText != CountText::None)
            showCount(CountText::Done);
        if (passed)
            continue;
        // An empty piece is passed over.
        if (!taken.address.isEmpty()) {
            startJob(int(freeSlot - std::begin(slotBusy)), taken);
            return true;
        }
    }
    return true;
}

void MainWindow::startJob(int slot, const BatchQueue::Taken &taken)
{
    const int fixMp4 = ui->checkBox->checkState() == Qt::Checked ? 1 : 0;
    jobs[slot] = new downloader(slot, fixMp4, taken.address, ui->outputfile->text());
    slotBusy[slot] = 1;
    slotTicket[slot] = taken.ticket;
    connect(jobs[slot], &downloader::valueChanged, this, &MainWindow::valueChanged);
    jobs[slot]->onPlacing(memory.recorder(taken.address));
}

void MainWindow::valueChanged(int ID, int percent1, int percent2, int err, QString errmsg)
{
    // Only a job in one of the slots reports; anything else would write past
    // them, or end a job of the batch that never sent it.
    if (ID < 0 || ID >= SlotCount)
        return;
    if (!batch.active()) {
        reportWithoutBatch(err != 0, errmsg);
        return;
    }
    if (!slotBusy[ID])
        return;
    const bool failed = err != 0;
    const bool succeeded = !failed && percent1 == 100 && percent2 == 100;
    if (failed) {
        showError(errmsg, endJob(ID, true));
    } else if (succeeded) {
        endJob(ID, false);
        showCount(CountText::Done);
        // A saved video may come with a warning, which the tool tip keeps.
        if (!errmsg.isEmpty())
            showWarning(errmsg);
    } else {
        slotDone[ID] = batchprogress::jobDone(percent1, percent2);
    }
    if ((failed || succeeded) && batch.waiting())
        startJobs(true);
    if (batch.finished())
        endBatch();
    if (batch.active())
        updateProgress();
}

// No batch runs, so nothing is counted and nothing kept: a failure is said,
// anything else shows the last batch's end again.
void MainWindow::reportWithoutBatch(bool failed, const QString &errmsg)
{
    status->show(failed ? errmsg : QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!"));
    if (!failed)
        ui->progressBar->setValue(100);
}

void MainWindow::showError(const QString &errmsg, const QString &address)
{
    status->show(errmsg);
    countText = CountText::None;
    reasons.add(errmsg, address);
    // The status line's next text wipes the message; until the batch's end
    // lists them all, the tool tip keeps the newest whole.
    status->showReasons(errmsg);
}

void MainWindow::showWarning(const QString &warning)
{
    batchWarnings << warning;
    status->showReasons(warning);
}

// The batch goes on with its list only in the field; the warning counts at
// its end as a saved video's does. One that comes after the end joins its text.
void MainWindow::showJournalWarning(const QString &warning)
{
    if (batch.active()) {
        showWarning(warning);
        return;
    }
    status->append(warning);
}

void MainWindow::showCount(CountText kind)
{
    countText = kind;
    const QString total = QString::number(batch.total());
    if (kind == CountText::Loading)
        status->show(QStringLiteral("Ladataan tiedostoja..") + batchThreads + u'/' + total);
    else if (kind == CountText::Done)
        status->show(QStringLiteral("Valmiina ") + QString::number(batch.done()) + u'/' + total);
}

// Addresses added to or removed from the queue join or leave the running batch.
void MainWindow::queueEdited()
{
    if (!queueField->edited() || !batch.active())
        return;
    batch.fieldEdited(ui->url->text());
    memory.edited();
    showCount(countText);
    updateProgress();
}

// The job is in the middle of sending its final report; it is deleted once
// that emission has returned. Returns the job's address.
QString MainWindow::endJob(int ID, bool failed)
{
    if (jobs[ID])
        jobs[ID]->deleteLater();
    jobs[ID] = nullptr;
    slotBusy[ID] = 0;
    slotDone[ID] = 0;
    const QString address = batch.jobEnded(slotTicket[ID], failed);
    if (!failed)
        memory.changed();
    return address;
}

void MainWindow::endBatch()
{
    ui->pushButton->setEnabled(true);
    ui->outputfile->setEnabled(true);
    status->show(batchEndText(batch, memory.endNote(), batchWarnings.size(), reasons.summary()));
    // Built once, from the newest few hundred: the batch may have failed whole.
    // Warnings are rare (a saved video whose folder could not be flushed).
    QStringList all = batchWarnings;
    if (reasons.count() > 0)
        all << reasons.list();
    status->showReasons(all.join(u'\n'));
    // The failed addresses wait in the field for one more press.
    memory.end(*unsaved());
    const QString retry = batch.retryField(ui->url->text());
    batch.reset();
    queueField->showFront(batch.show(retry));
    countText = CountText::None;
    ui->progressBar->setValue(100);
    std::fill(std::begin(slotDone), std::end(slotDone), 0);
    emit batchEvents.ended(status->text());
}

std::optional<BatchJournal::Contents> MainWindow::unsaved() const
{
    if (!batch.active())
        return std::nullopt;
    // A whole path: the next start may come from another working directory.
    return BatchJournal::Contents{SavedVideos::wholePath(ui->outputfile->text()), ui->checkBox->isChecked(),
                                  batch.unsaved(ui->url->text())};
}

void MainWindow::updateProgress()
{
    double done = batch.done();
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (slotBusy[slot])
            done += slotDone[slot];
    }
    ui->progressBar->setValue(batchprogress::batchPercent(batch.total(), done));
}
