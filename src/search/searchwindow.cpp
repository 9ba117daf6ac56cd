#include "search/searchwindow.h"

#include "external/externalprograms.h"
#include "forms/formfit.h"
#include "ui_searchwindow.h"

#include <QEvent>
#include <QLineEdit>
#include <QListWidgetItem>
#include <QTimer>

#include <utility>

searchWindow::searchWindow(QWidget *parent, QString searchWord, QLineEdit *urlField)
    : QDialog(parent)
    , ui(new Ui::searchWindow)
    , urlField(urlField)
{
    ui->setupUi(this);
    formfit::fitToFont(this, this);
    this->searchWord = searchWord;
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &searchWindow::pollProcess);
    // The list fills as soon as wget has ended or could not start, not at the next tick.
    connect(&process, &QProcess::finished, this, &searchWindow::showResults);
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            showResults();
    });
    connect(&process, &QProcess::readyReadStandardOutput, this, &searchWindow::readAnswer);
    // OK, Cancel and the window's close button all end in finished().
    connect(this, &QDialog::finished, this, &searchWindow::stopSearch);
}

searchWindow::~searchWindow()
{
    // A child still running, or killed when the dialog was closed and not yet
    // reaped, is ended here without a report: the form is gone by then. A
    // killed wget ends at once.
    process.disconnect(this);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    delete ui;
    delete timer;
}

namespace {

constexpr int pollInterval = 500;

// Linux passes no program argument longer than 128 KiB, its closing NUL
// included; a longer search address would read as wget missing.
constexpr qsizetype longestAddress = 128 * 1024 - 1;

// Why wget ended without a page, by its documented exit codes.
QString exitReason(int exitCode)
{
    switch (exitCode) {
    case 4: return QStringLiteral("palvelimeen ei saatu yhteyttä tai se ei vastannut");
    case 5: return QStringLiteral("palvelimen varmenne ei kelpaa");
    case 6: return QStringLiteral("palvelin vaati tunnistautumisen");
    case 7: return QStringLiteral("palvelimen vastaus oli virheellinen");
    case 8: return QStringLiteral("palvelin vastasi virheellä");
    default: return QStringLiteral("wget päättyi virhekoodilla %1").arg(exitCode);
    }
}

// A row that is no result: selecting it must not hand back an address.
QListWidgetItem *statusRow(const QString &text)
{
    auto *row = new QListWidgetItem(text);
    row->setFlags(row->flags() & ~Qt::ItemIsSelectable);
    return row;
}

QListWidgetItem *failureRow(const QString &reason)
{
    return statusRow(QStringLiteral("Haku epäonnistui: ") + reason);
}

} // namespace

void searchWindow::runSearch()
{
    const QStringList arguments = external::webFetcherArguments(searchWord);
    // The address is percent-encoded ASCII: its characters are its bytes.
    if (arguments.constLast().size() > longestAddress) {
        listFilled = true;
        ui->list->addItem(failureRow(QStringLiteral("hakusana on liian pitkä")));
        return;
    }
    // A poll before the start had nothing of this search to show.
    listFilled = false;
    ui->list->insertItem(ui->list->count(), statusRow(QStringLiteral("Haku käynnissä..")));
    // Started first: a start that fails at once fills the list and stops it.
    timer->start(pollInterval);
    // A killed program takes its wget along rather than leave it to its retries.
    external::runAsChild(process);
    process.start(external::webFetcherProgram(), arguments);
}

void searchWindow::pollProcess()
{
    if (process.state() != QProcess::NotRunning) {
        timer->start(pollInterval);
        return;
    }
    showResults();
}

// The answer is taken as it arrives, so the process object never holds more
// than one read of it.
void searchWindow::readAnswer()
{
    const QByteArray read = process.readAllStandardOutput();
    if (answerTooLarge)
        return;
    answer += read;
    if (answer.size() > AnswerLimit) {
        answerTooLarge = true;
        answer = QByteArray();
        process.kill();
    }
}

// A closed dialog shows nothing more, so its wget has nothing left to do.
void searchWindow::stopSearch()
{
    timer->stop();
    process.disconnect(this);
    process.kill();
}

void searchWindow::showResults()
{
    timer->stop();
    if (listFilled)
        return;
    listFilled = true;
    delete ui->list->takeItem(0);
    readAnswer();
    const QByteArray page = std::exchange(answer, QByteArray());
    const QString reason = failure();
    if (reason.isEmpty()) {
        ui->list->addItems(parseResultsPage(resultsPageText(page)));
        return;
    }
    ui->list->addItem(failureRow(reason));
}

// Empty when wget ended normally with exit code 0, whatever page it wrote.
QString searchWindow::failure() const
{
    if (answerTooLarge)
        return QStringLiteral("palvelimen vastaus on yli %1 MiB").arg(AnswerLimit / (1024 * 1024));
    if (process.error() == QProcess::FailedToStart)
        return QStringLiteral("wget-ohjelmaa ei voitu käynnistää");
    if (process.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("wget keskeytyi");
    if (process.exitCode() != 0)
        return exitReason(process.exitCode());
    return QString();
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
    // A page may list one video twice; choosing both rows must not fetch it twice.
    addresses.removeDuplicates();
    urlField->setText(appendAddresses(urlField->text(), addresses));
    close();
}
