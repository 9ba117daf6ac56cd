#pragma once

#include "app/mainwindow.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

// The real main window, worked through its widgets as a user would, found by
// their object names.
class WindowDriver
{
public:
    // Shown on screen unless `onScreen` is false, as for a window that is not seen.
    explicit WindowDriver(bool onScreen = true);
    // A new window in place of the old, as at the program's next start.
    void renew();

    QLineEdit *line(const char *name) const { return window->findChild<QLineEdit *>(QLatin1String(name)); }
    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(QLatin1String(name)); }
    int bar() const { return window->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value(); }
    QString status() const { return line("statusbar")->text(); }
    // Every text the status line has shown, the newest last.
    const QStringList &statusHistory() const { return shown; }
    bool controlsEnabled() const { return button("pushButton")->isEnabled() && line("outputfile")->isEnabled(); }

    // Fills in the folder, the downloads at once and the repair check box.
    void setUp(const QString &folder, int threads, bool repairMp4);
    // Fills in the batch and presses "Tallenna".
    void startBatch(const QString &addresses, const QString &folder, int threads,
                    bool repairMp4 = true);

    // Pastes the list into the emptied address field, as the user's Ctrl+V does.
    void paste(const QString &list);
    // Waits for the batch's end; false when it did not come.
    bool waitForEnd(int timeout);

    // Types the word and presses "Aloita haku"; the newest search dialog.
    QDialog *search(const QString &word);
    // The same, once the search has ended; null when it did not.
    QDialog *finishedSearch(const QString &word, int timeout);
    static QListWidget *resultList(QDialog *dialog) { return dialog->findChild<QListWidget *>(QStringLiteral("list")); }
    static QStringList resultRows(QDialog *dialog);
    // The search has ended once its in-progress row is gone.
    static bool searchEnded(QDialog *dialog);
    // Selects the rows that contain the given texts and presses OK.
    static bool choose(QDialog *dialog, const QStringList &texts);

    std::unique_ptr<MainWindow> window;

private:
    bool onScreen;
    QStringList shown;
};
