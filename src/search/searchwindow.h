#pragma once

#include <QByteArray>
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
    // The most of wget's answer a search reads; past it the search fails
    // rather than fill memory with a page that does not end.
    static constexpr qsizetype AnswerLimit = 16 * 1024 * 1024;

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
    void readAnswer();
    void stopSearch();
    void showResults();
    QString failure() const;

    Ui::searchWindow *ui = nullptr;
    QProcess process;
    QString searchWord;
    QLineEdit *urlField = nullptr;
    QTimer *timer = nullptr;
    QByteArray answer;
    bool answerTooLarge = false;
    bool listFilled = false;
};
