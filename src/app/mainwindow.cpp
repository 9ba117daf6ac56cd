#include "app/mainwindow.h"

#include "download/downloader.h"
#include "search/searchwindow.h"
#include "ui_mainwindow.h"

#include <QFileDialog>

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
}

MainWindow::~MainWindow()
{
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

void MainWindow::startJobs(bool)
{
}

void MainWindow::valueChanged(int, int, int, int, QString)
{
}

void MainWindow::updateProgress()
{
}
