#include "app/mainwindow.h"

#include "app/clippedtexts.h"
#include "app/desktopintegration.h"
#include "download/downloader.h"
#include "search/searchwindow.h"
#include "ui_mainwindow.h"

#include <QFileDialog>

#include <algorithm>
#include <iterator>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->statusbar->setText(QStringLiteral("Valmiina lataamaan!"));
    for (int count = 1; count <= SlotCount; ++count)
        ui->threadcount->addItem(QString::number(count));
    showClippedTextsInToolTips(ui->centralWidget);
    new DesktopIntegration(this, ui->progressBar);
}

MainWindow::~MainWindow()
{
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
}

void MainWindow::startSearch()
{
    searchDialog = new searchWindow(this, ui->searchword->text(), ui->url);
    searchDialog->show();
    searchDialog->runSearch();
}

void MainWindow::startJobs(bool single)
{
    ui->pushButton->setEnabled(false);
    if (totalFiles == 0) {
        totalFiles = ui->url->text().count(u';') + 1;
        failedFiles = 0;
        batchErrors.clear();
        emit batchStarted();
        ui->statusbar->setToolTip(QString());
        ui->statusbar->setText(QStringLiteral("Ladataan tiedostoja..") + ui->threadcount->currentText()
                               + u'/' + QString::number(totalFiles));
    }
    for (int r = 0; single ? r <= 0 : ui->threadcount->currentText().toInt() > r; ++r) {
        const QString address = takeAddress();
        const int *freeSlot = std::find(std::begin(slotBusy), std::end(slotBusy), 0);
        if (freeSlot == std::end(slotBusy)) {
            // No slot: the address goes back where it came from instead of vanishing.
            if (moreAddresses)
                ui->url->setText(address + u';' + ui->url->text());
            break;
        }
        startJob(int(freeSlot - std::begin(slotBusy)), address);
        if (!moreAddresses)
            break;
    }
    ui->outputfile->setEnabled(false);
}

// Takes the address at the front of the field; the last one stays in the field.
QString MainWindow::takeAddress()
{
    const QString field = ui->url->text();
    const qsizetype separator = field.indexOf(u';');
    moreAddresses = separator >= 0 ? 1 : 0;
    if (separator < 0)
        return field;
    ui->url->setText(field.mid(separator + 1));
    return field.left(separator);
}

void MainWindow::startJob(int slot, const QString &address)
{
    const int fixMp4 = ui->checkBox->checkState() == Qt::Checked ? 1 : 0;
    jobs[slot] = new downloader(slot, fixMp4, address, ui->outputfile->text());
    slotBusy[slot] = 1;
    connect(jobs[slot], &downloader::valueChanged, this, &MainWindow::valueChanged);
}

void MainWindow::valueChanged(int ID, int percent1, int percent2, int err, QString errmsg)
{
    const bool failed = err != 0;
    const bool succeeded = !failed && percent1 == 100 && percent2 == 100;
    if (failed) {
        ui->statusbar->setText(errmsg);
        ++failedFiles;
        batchErrors << errmsg;
        // The status line's next text wipes the message; the tool tip keeps them all.
        ui->statusbar->setToolTip(batchErrors.join(u'\n'));
        endJob(ID);
    } else if (succeeded) {
        endJob(ID);
        ui->statusbar->setText(QStringLiteral("Valmiina ") + QString::number(doneFiles) + u'/'
                               + QString::number(totalFiles));
    } else {
        slotPercent[ID] = percent1;
    }
    if ((failed || succeeded) && moreAddresses)
        startJobs(true);
    if (doneFiles == totalFiles)
        endBatch();
    if (totalFiles != 0)
        updateProgress();
}

// The job is in the middle of sending its final report; it is deleted once
// that emission has returned.
void MainWindow::endJob(int ID)
{
    if (jobs[ID])
        jobs[ID]->deleteLater();
    jobs[ID] = nullptr;
    ++doneFiles;
    slotBusy[ID] = 0;
    slotPercent[ID] = 0;
}

void MainWindow::endBatch()
{
    ui->pushButton->setEnabled(true);
    ui->outputfile->setEnabled(true);
    if (failedFiles == 0)
        ui->statusbar->setText(QStringLiteral("Tiedosto(t) onnistuneesti tallennettu!"));
    else
        ui->statusbar->setText(QStringLiteral("Valmis: %1/%2 tallennettu, %3 epäonnistui")
                                   .arg(doneFiles - failedFiles)
                                   .arg(totalFiles)
                                   .arg(failedFiles));
    doneFiles = 0;
    totalFiles = 0;
    failedFiles = 0;
    ui->progressBar->setValue(100);
    std::fill(std::begin(slotPercent), std::end(slotPercent), 0);
    emit batchEnded(ui->statusbar->text());
}

void MainWindow::updateProgress()
{
    const int share = int(100.0 / totalFiles);
    int value = doneFiles * share;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (slotBusy[slot])
            value = int(value + (slotPercent[slot] / 100.0) * share);
    }
    ui->progressBar->setValue(value);
}
