// Times the results page parser on portal-shaped pages against one plain
// linear scan of the same text, and shows how it grows with the hit count.

#include "search/resultsparser.h"

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr int hitBytes = 1024;

// A hit in the portal's shape, padded to a fixed size so that page size grows
// only with the number of hits.
QString hit(int number)
{
    const QString id = QString::number(100000 + number);
    const QString link = QStringLiteral("<a href=\"/video/%1\" >").arg(id);
    QString text = QStringLiteral("<li class=\"tulos\">") + link + QStringLiteral("<img src=\"/kuva/")
                   + id + QStringLiteral(".jpg\"/></a>") + link + QStringLiteral("Kanava</a>") + link
                   + QStringLiteral("12.3.2010</a>") + link + QStringLiteral("Jakso ") + id
                   + QStringLiteral(" &ndash; P&auml;iv&auml;n uutiset</a>\n<p>");
    const QString end = QStringLiteral("</p></li>\n");
    text += QString(hitBytes - text.size() - end.size(), u'k') + end;
    return text;
}

QString page(int hits)
{
    QString text = QStringLiteral("<html><body><ul>\n");
    for (int i = 0; i < hits; ++i)
        text += hit(i);
    return text + QStringLiteral("</ul></body></html>\n");
}

qsizetype countMarkers(const QString &page)
{
    const QString marker = QStringLiteral("href=\"/video/");
    qsizetype count = 0;
    for (qsizetype at = page.indexOf(marker); at != -1; at = page.indexOf(marker, at + marker.size()))
        ++count;
    return count;
}

// Median of several runs, in milliseconds.
double medianMs(const std::function<void()> &run)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer clock;
        clock.start();
        run();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    QTextStream out(stdout);
    qsizetype sink = 0;

    const QString big = page(2000);
    const double parseMs = medianMs([&] { sink += parseResultsPage(big).size(); });
    const double scanMs = medianMs([&] { sink += countMarkers(big); });
    out << "2000 hits, " << big.size() << " characters: parse " << parseMs << " ms, marker count "
        << scanMs << " ms, ratio " << parseMs / scanMs << "\n\n";

    out << "hits\tcharacters\tparse ms\tus per hit\n";
    for (int hits : {500, 1000, 2000, 4000, 8000}) {
        const QString text = page(hits);
        const double ms = medianMs([&] { sink += parseResultsPage(text).size(); });
        out << hits << '\t' << text.size() << '\t' << ms << '\t' << ms * 1000 / hits << '\n';
    }
    return sink > 0 ? 0 : 1;
}
