#include "search/searchwindow.h"

#include "external/externalprograms.h"
#include "ui_searchwindow.h"

#include <QEvent>
#include <QLineEdit>
#include <QListWidgetItem>
#include <QTimer>

searchWindow::searchWindow(QWidget *parent, QString searchWord, QLineEdit *urlField)
    : QDialog(parent)
    , ui(new Ui::searchWindow)
    , urlField(urlField)
{
    ui->setupUi(this);
    this->searchWord = searchWord;
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &searchWindow::pollProcess);
}

searchWindow::~searchWindow()
{
    delete ui;
    delete timer;
}

namespace {

constexpr int pollInterval = 500;

} // namespace

void searchWindow::runSearch()
{
    // The in-progress row is no result: selecting it must not hand back an address.
    auto *inProgress = new QListWidgetItem(QStringLiteral("Haku käynnissä.."));
    inProgress->setFlags(inProgress->flags() & ~Qt::ItemIsSelectable);
    ui->list->insertItem(ui->list->count(), inProgress);
    process.start(external::webFetcherProgram(), external::webFetcherArguments(searchWord));
    timer->start(pollInterval);
}

void searchWindow::pollProcess()
{
    if (process.state() != QProcess::NotRunning) {
        timer->start(pollInterval);
        return;
    }
    showResults();
    timer->stop();
}

void searchWindow::showResults()
{
    delete ui->list->takeItem(0);
    ui->list->addItems(parseResultsPage(external::childText(process.readAllStandardOutput())));
}

void searchWindow::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void searchWindow::accept()
{
    QStringList addresses;
    const QList<QListWidgetItem *> selected = ui->list->selectedItems();
    for (const QListWidgetItem *item : selected)
        addresses.append(videoAddress(item->text()));
    urlField->setText(appendAddresses(urlField->text(), addresses));
    close();
}
