#include "app/mainwindow.h"

#include "app/accessiblecombobox.h"
#include "app/desktopintegration.h"
#include "download/downloader.h"
#include "forms/formfit.h"
#include "search/searchwindow.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QLineEdit>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

// The end of the selection where the cursor is not; the cursor without one.
int selectionAnchor(const QLineEdit *field)
{
    if (!field->hasSelectedText())
        return field->cursorPosition();
    return field->cursorPosition() == field->selectionStart() ? field->selectionEnd() : field->selectionStart();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    AccessibleComboBox::install();
    ui->setupUi(this);
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->statusbar->setText(QStringLiteral("Valmiina lataamaan!"));
    for (int count = 1; count <= SlotCount; ++count)
        ui->threadcount->addItem(QString::number(count));
    // A pasted list or a search's hand-back is never cut short: the default
    // limit holds about 800 portal addresses.
    ui->url->setMaxLength(std::numeric_limits<int>::max());
    connect(ui->url, &QLineEdit::textChanged, this, &MainWindow::queueEdited);
    formfit::fitToFont(this, ui->centralWidget);
    new DesktopIntegration(this, ui->progressBar);
    // What the last run left unsaved comes back; nothing starts by itself,
    // so that a list that ended the program cannot end it again.
    if (const BatchJournal::Contents &left = memory.left(); !left.addresses.isEmpty()) {
        ui->url->setText(left.addresses.join(u';'));
        ui->outputfile->setText(left.folder);
        ui->checkBox->setChecked(left.repair);
    }
    if (const QString said = memory.startText(); !said.isEmpty())
        ui->statusbar->setText(said);
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
    // A batch of empty addresses only has ended without a job.
    if (batch.finished())
        endBatch();
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
    ui->pushButton->setEnabled(false);
    if (!batch.active()) {
        batch.begin(ui->url->text());
        memory.begin();
        batchErrors.clear();
        emit batchEvents.started();
        ui->statusbar->setToolTip(QString());
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
        const int cursor = ui->url->cursorPosition();
        const int anchor = selectionAnchor(ui->url);
        BatchQueue::Taken taken = batch.take(before);
        qsizetype dropped = taken.dropped;
        // Videos in the folder already are passed over without showing each
        // take: a long list given again would stop the window for seconds.
        bool passed = false;
        while ((passed = memory.alreadySaved(ui->outputfile->text(), taken.address))) {
            batch.jobEnded(taken.ticket, false);
            if (!batch.waiting())
                break;
            taken = batch.take(taken.field);
            dropped += taken.dropped;
        }
        showQueue(taken.field);
        keepSelection(anchor, cursor, qMax<qsizetype>(0, before.size() - dropped), dropped);
        if (passed) {
            showCount(CountText::Done);
            continue;
        }
        if (!taken.address.isEmpty()) {
            startJob(int(freeSlot - std::begin(slotBusy)), taken);
            return true;
        }
        // Nothing to fetch: the piece counts as failed, with its own message.
        batch.jobEnded(taken.ticket, true);
        showError(QStringLiteral("ERROR: tyhjää osoitetta ei voi ladata"));
    }
    return true;
}

// The front of the queue in the field; its tool tip counts what waits behind.
void MainWindow::showQueue(const QString &front)
{
    writingField = true;
    if (ui->url->text() != front)
        ui->url->setText(front);
    writingField = false;
    const int behind = batch.behindField();
    if (behind == 0)
        ui->url->setToolTip(QString());
    else
        ui->url->setToolTip(QStringLiteral("Kentän osoitteiden jälkeen jonossa vielä %1 %2")
                                .arg(behind)
                                .arg(behind == 1 ? QStringLiteral("osoite") : QStringLiteral("osoitetta")));
}

// The user may be typing in the field while a take rewrites it: the cursor
// and any selection stay on the same text, not after what the take brought
// into view, so that what they type or delete lands where they were.
void MainWindow::keepSelection(int anchor, int cursor, qsizetype kept, qsizetype dropped)
{
    const qsizetype end = qMin(kept, ui->url->text().size());
    const auto moved = [&](int position) { return int(qBound<qsizetype>(0, position - dropped, end)); };
    ui->url->setSelection(moved(anchor), moved(cursor) - moved(anchor));
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
    const bool failed = err != 0;
    const bool succeeded = !failed && percent1 == 100 && percent2 == 100;
    if (failed) {
        showError(errmsg);
        endJob(ID, true);
    } else if (succeeded) {
        endJob(ID, false);
        showCount(CountText::Done);
    } else {
        slotPercent[ID] = percent1;
    }
    if ((failed || succeeded) && batch.waiting())
        startJobs(true);
    if (batch.finished())
        endBatch();
    if (batch.active())
        updateProgress();
}

void MainWindow::showError(const QString &errmsg)
{
    ui->statusbar->setText(errmsg);
    countText = CountText::None;
    batchErrors << errmsg;
    // The status line's next text wipes the message; the tool tip keeps them all.
    ui->statusbar->setToolTip(batchErrors.join(u'\n'));
}

void MainWindow::showCount(CountText kind)
{
    countText = kind;
    const QString total = QString::number(batch.total());
    if (kind == CountText::Loading)
        ui->statusbar->setText(QStringLiteral("Ladataan tiedostoja..") + batchThreads + u'/' + total);
    else if (kind == CountText::Done)
        ui->statusbar->setText(QStringLiteral("Valmiina ") + QString::number(batch.done()) + u'/' + total);
}

// Addresses added to or removed from the queue join or leave the running batch.
// A list pasted one address a line is put on one line first, each line
// break a ";", so that the field shows it readably and takes it whole.
void MainWindow::queueEdited()
{
    if (writingField)
        return;
    const QString text = ui->url->text();
    if (text.contains(u'\n') || text.contains(u'\r')) {
        const qsizetype fromEnd = text.size() - ui->url->cursorPosition();
        ui->url->setText(addressesOnOneLine(text));
        ui->url->setCursorPosition(int(qMax<qsizetype>(0, ui->url->text().size() - fromEnd)));
        return;
    }
    if (!batch.active())
        return;
    batch.fieldEdited(ui->url->text());
    memory.changed();
    showCount(countText);
    updateProgress();
}

// The job is in the middle of sending its final report; it is deleted once
// that emission has returned.
void MainWindow::endJob(int ID, bool failed)
{
    if (jobs[ID])
        jobs[ID]->deleteLater();
    jobs[ID] = nullptr;
    batch.jobEnded(slotTicket[ID], failed);
    if (!failed)
        memory.changed();
    slotBusy[ID] = 0;
    slotPercent[ID] = 0;
}

void MainWindow::endBatch()
{
    ui->pushButton->setEnabled(true);
    ui->outputfile->setEnabled(true);
    ui->statusbar->setText(endText());
    // The failed addresses wait in the field for one more press.
    memory.end(*unsaved());
    showQueue(batch.retryField(ui->url->text()));
    batch.reset();
    countText = CountText::None;
    ui->progressBar->setValue(100);
    std::fill(std::begin(slotPercent), std::end(slotPercent), 0);
    emit batchEvents.ended(ui->statusbar->text());
}

QString MainWindow::endText() const
{
    if (batch.failed() == 0)
        return QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!") + memory.endNote();
    QString text = QStringLiteral("Valmis: %1/%2 tallennettu, %3 epäonnistui")
                       .arg(batch.done() - batch.failed())
                       .arg(batch.total())
                       .arg(batch.failed());
    if (batch.retried() > 0)
        text += QStringLiteral(" – %1 palautettu kenttään").arg(batch.retried());
    return text + memory.endNote();
}

std::optional<BatchJournal::Contents> MainWindow::unsaved() const
{
    if (!batch.active())
        return std::nullopt;
    return BatchJournal::Contents{ui->outputfile->text(), ui->checkBox->isChecked(), batch.unsaved(ui->url->text())};
}

void MainWindow::updateProgress()
{
    if (batch.total() == 0)
        return;
    const int share = int(100.0 / batch.total());
    // Past 100 addresses one is worth less than a whole point, which would
    // keep the bar at 0 until the end: the batch's share done is shown instead.
    if (share == 0) {
        double done = batch.done();
        for (int slot = 0; slot < SlotCount; ++slot) {
            if (slotBusy[slot])
                done += slotPercent[slot] / 100.0;
        }
        ui->progressBar->setValue(int(done * 100.0 / batch.total()));
        return;
    }
    int value = batch.done() * share;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (slotBusy[slot])
            value = int(value + (slotPercent[slot] / 100.0) * share);
    }
    ui->progressBar->setValue(value);
}
