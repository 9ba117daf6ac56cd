#include "search/searchwindow.h"

#include "ui_searchwindow.h"

#include <QEvent>
#include <QLineEdit>
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

void searchWindow::runSearch()
{
}

void searchWindow::pollProcess()
{
}

void searchWindow::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void searchWindow::accept()
{
    close();
}
