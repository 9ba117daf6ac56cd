#pragma once

#include "windowdriver.h"

#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>

// The main window over a fresh temporary folder, which is the working
// directory and $WORK while it lasts, with a folder "out" to save into. The
// fetcher FakePrograms::Fetcher::ByAddress keeps its files there.
class WorkingWindow : public WindowDriver
{
public:
    explicit WorkingWindow(bool onScreen = false);
    ~WorkingWindow();

    // Fills in the addresses and the downloads at once, and presses "Tallenna".
    void start(const QString &addresses, int threads);
    // The status line at the batch's end, or what it said when no end came.
    QString ended(int timeout = 30000);
    QString run(const QString &addresses, int threads)
    {
        start(addresses, threads);
        return ended();
    }
    QString field() const { return line("url")->text(); }
    void setField(const QString &text) const { line("url")->setText(text); }
    // The status line's tool tip, where the messages stay.
    QString tip() const { return line("statusbar")->toolTip(); }
    // The files in "out", by name.
    QStringList savedFiles() const;

    // The by-address fetcher of each id: lets it end, whether it started, how
    // many times, and the /proc entry of the process that started once.
    void release(const QStringList &ids) const;
    bool started(const QString &id) const;
    int runs(const QString &id) const;
    QString process(const QString &id) const;

    QTemporaryDir work;
};
