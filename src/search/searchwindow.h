#pragma once

#include <QDialog>
#include <QProcess>
#include <QString>

#include "search/resultsparser.h"

class QEvent;
class QLineEdit;
class QTimer;
namespace Ui {
class searchWindow;
}

// One search: runs the web fetcher for the results page of a word, lists the
// videos found, and hands the chosen ones back to the main window's address field.
class searchWindow : public QDialog
{
    Q_OBJECT

public:
    searchWindow(QWidget *parent, QString searchWord, QLineEdit *urlField);
    ~searchWindow() override;

    void runSearch();

public slots:
    void pollProcess();

protected:
    void changeEvent(QEvent *e) override;

private slots:
    void accept() override;

private:
    void showResults();
    QString failure() const;

    Ui::searchWindow *ui = nullptr;
    QProcess process;
    QString searchWord;
    QLineEdit *urlField = nullptr;
    QTimer *timer = nullptr;
    bool listFilled = false;
};
