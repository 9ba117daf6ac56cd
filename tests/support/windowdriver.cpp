#include "windowdriver.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QTest>

WindowDriver::WindowDriver(bool onScreen) : onScreen(onScreen)
{
    renew();
}

void WindowDriver::renew()
{
    window.reset();
    window = std::make_unique<MainWindow>();
    // A status text is soon replaced by the next one; the history keeps them.
    QObject::connect(line("statusbar"), &QLineEdit::textChanged, [this](const QString &text) { shown << text; });
    if (onScreen)
        window->show();
}

void WindowDriver::setUp(const QString &folder, int threads, bool repairMp4)
{
    line("outputfile")->setText(folder);
    window->findChild<QCheckBox *>(QStringLiteral("checkBox"))->setChecked(repairMp4);
    auto *threadCount = window->findChild<QComboBox *>(QStringLiteral("threadcount"));
    threadCount->setCurrentIndex(threadCount->findText(QString::number(threads)));
}

void WindowDriver::startBatch(const QString &addresses, const QString &folder, int threads, bool repairMp4)
{
    line("url")->setText(addresses);
    setUp(folder, threads, repairMp4);
    button("pushButton")->click();
}

void WindowDriver::paste(const QString &list)
{
    QGuiApplication::clipboard()->setText(list);
    line("url")->clear();
    line("url")->paste();
}

bool WindowDriver::waitForEnd(int timeout)
{
    return QTest::qWaitFor([this] { return controlsEnabled(); }, timeout);
}

QDialog *WindowDriver::search(const QString &word)
{
    line("searchword")->setText(word);
    button("pushButton_2")->click();
    const QList<QDialog *> dialogs = window->findChildren<QDialog *>(QStringLiteral("searchWindow"));
    return dialogs.isEmpty() ? nullptr : dialogs.last();
}

QDialog *WindowDriver::finishedSearch(const QString &word, int timeout)
{
    QDialog *dialog = search(word);
    return dialog && QTest::qWaitFor([dialog] { return searchEnded(dialog); }, timeout) ? dialog : nullptr;
}

QStringList WindowDriver::resultRows(QDialog *dialog)
{
    QStringList rows;
    for (int row = 0; row < resultList(dialog)->count(); ++row)
        rows << resultList(dialog)->item(row)->text();
    return rows;
}

bool WindowDriver::searchEnded(QDialog *dialog)
{
    return resultList(dialog)->findItems(QStringLiteral("Haku käynnissä.."), Qt::MatchExactly).isEmpty();
}

bool WindowDriver::choose(QDialog *dialog, const QStringList &texts)
{
    for (const QString &text : texts) {
        const QList<QListWidgetItem *> rows = resultList(dialog)->findItems(text, Qt::MatchContains);
        if (rows.size() != 1)
            return false;
        rows.first()->setSelected(true);
    }
    dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    return true;
}
