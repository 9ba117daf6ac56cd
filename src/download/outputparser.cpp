#include "download/outputparser.h"

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace outputparser {

namespace {

const QString saveMarker = QStringLiteral("Saving to");
const QString durationMarker = QStringLiteral("Duration: ");
const QString timeMarker = QStringLiteral("time=");
const QString errorMarker = QStringLiteral("ERROR");

// Where the first save line at or after a given position begins: only a line
// that begins with the marker is one, since the stream's metadata, which the
// fetcher prints again after a resume, may hold the words. A poll meets
// many carriage returns; searching the rest of the output again at each of
// them would make one large read cost quadratic time.
class SaveMarkerSearch
{
public:
    explicit SaveMarkerSearch(const QString &output) : output(output) {}

    qsizetype from(qsizetype start)
    {
        if (!searched || (found >= 0 && found < start)) {
            found = output.indexOf(saveMarker, start, Qt::CaseInsensitive);
            while (found > 0 && output.at(found - 1) != u'\n' && output.at(found - 1) != u'\r')
                found = output.indexOf(saveMarker, found + 1, Qt::CaseInsensitive);
            lineFeed = found < 0 ? -1 : output.indexOf(u'\n', found);
            searched = true;
        }
        return found;
    }

    qsizetype lineFeedAfter() const { return lineFeed; }

private:
    const QString &output;
    qsizetype found = -1;
    qsizetype lineFeed = -1;
    bool searched = false;
};

// The save line names the file after the marker and one separator character;
// the last three characters before the line feed (flv) are left out. Without a
// line feed yet, the length is negative and mid() takes the rest.
QString nameFromSaveLine(const QString &output, qsizetype marker, qsizetype lineFeed)
{
    return output.mid(marker + 10, lineFeed - marker - 13);
}

// A character of the line, or NUL past its end.
QChar charAt(QStringView line, qsizetype index)
{
    return index < line.size() ? line.at(index) : QChar();
}

int twoDigits(QStringView line, qsizetype index)
{
    const QChar pair[2] = {charAt(line, index), charAt(line, index + 1)};
    return QStringView(pair, 2).toInt();
}

// Child text may hold any number; "inf", "nan" or a huge value must not make
// the float-to-int conversion undefined.
int truncated(double value)
{
    if (std::isnan(value))
        return 0;
    return int(qBound(double(std::numeric_limits<int>::min()), value,
                      double(std::numeric_limits<int>::max())));
}

// An error line kept aside is the start of a status text, not a second flood.
constexpr qsizetype DroppedErrorLimit = FetchingLineLimit / 2;

// Where the first line that starts with the error marker begins, if it begins
// before `before`; -1 otherwise. File names in the save line and in the
// converter's output may hold the letters anywhere else.
qsizetype firstErrorLine(const QString &output, qsizetype before)
{
    for (qsizetype e = output.indexOf(errorMarker); e >= 0 && e < before;
         e = output.indexOf(errorMarker, e + 1)) {
        if (e == 0 || output.at(e - 1) == u'\n' || output.at(e - 1) == u'\r')
            return e;
    }
    return -1;
}

// Removes count characters at from. The first error line goes aside before
// any of it is lost, the marker whole, even where the cut runs through it.
void drop(State &state, qsizetype from, qsizetype count)
{
    if (count <= 0)
        return;
    const qsizetype end = from + count;
    if (state.droppedError.isNull()) {
        const qsizetype e = firstErrorLine(state.output, end);
        if (e >= 0 && e + errorMarker.size() > from) {
            const qsizetype kept = qMax(end, e + errorMarker.size());
            state.droppedError = state.output.mid(e, qMin(kept - e, DroppedErrorLimit));
            state.droppedErrorEnd = from + (kept - end);
        }
    } else if (state.droppedErrorEnd > from) {
        state.droppedErrorEnd = qMax(from, state.droppedErrorEnd - count);
    }
    state.output.remove(from, count);
}

// Keeps the first and the last half of an output longer than the limit.
void dropMiddle(State &state, qsizetype limit)
{
    if (state.output.size() > limit)
        drop(state, limit / 2, state.output.size() - limit);
}

} // namespace

namespace {

// The text of a line's last "(...%)" group, or a null view.
QStringView percentText(QStringView line)
{
    qsizetype percent = -1;
    for (qsizetype i = line.size() - 1; i >= 0; --i) {
        if (line.at(i) == u'%') {
            percent = i;
        } else if (line.at(i) == u'(' && percent >= 0) {
            return line.mid(i + 1, percent - i - 1);
        }
    }
    return QStringView();
}

} // namespace

int linePercentage(QStringView line, int previous)
{
    const QStringView text = percentText(line);
    return text.isNull() ? previous : truncated(text.toFloat());
}

double lineShownPercent(QStringView line, double previous)
{
    const QStringView text = percentText(line);
    return text.isNull() ? previous : double(text.toFloat());
}

int lineDuration(QStringView line, int previous)
{
    const qsizetype d = line.indexOf(durationMarker);
    if (d < 0)
        return previous;
    return twoDigits(line, d + 10) * 3600 + twoDigits(line, d + 13) * 60 + twoDigits(line, d + 16);
}

namespace {

// A clock value in seconds: "83.45" or "00:01:23.45"; negative when the text
// is no time at all (ffmpeg writes "N/A" before its first frame).
double clockSeconds(QStringView value)
{
    double seconds = 0;
    for (const QStringView field : value.tokenize(u':')) {
        bool ok = false;
        const double number = field.toDouble(&ok);
        if (!ok)
            return -1;
        seconds = seconds * 60 + number;
    }
    return seconds;
}

} // namespace

int linePercent2(QStringView line, int duration, int previous)
{
    // The newest clock counts: the converter rewrites its progress line in place.
    const qsizetype t = line.lastIndexOf(timeMarker);
    // Without a duration there is nothing to divide by; keep what was shown.
    if (t < 0 || duration == 0)
        return previous;
    const qsizetype blank = line.indexOf(u' ', t + 5);
    const double seconds = clockSeconds(line.mid(t + 5, blank < 0 ? -1 : blank - t - 5));
    // ffmpeg starts a stream copy a few hundredths before zero and may end a
    // little past a duration read in whole seconds.
    if (seconds < 0 && !line.mid(t + 5).startsWith(u'-'))
        return previous;
    // Clock values are hundredths that binary fractions miss by a hair: 0.70
    // of 10 s must not truncate to 6 %.
    return qBound(0, truncated(seconds / duration * 100 + 1e-9), 100);
}

bool scanFetching(State &state)
{
    // Positions stay those of the unshortened output; `front` is where the
    // output would begin after the drops made so far in this poll.
    SaveMarkerSearch saveMarker(state.output);
    qsizetype front = 0;
    qsizetype lineStart = 0;
    bool metCarriageReturn = false;
    for (qsizetype cr = state.output.indexOf(u'\r'); cr >= 0;
         cr = state.output.indexOf(u'\r', cr + 1)) {
        const QStringView line = QStringView(state.output).mid(lineStart, cr - lineStart);
        state.percent1 = linePercentage(line, state.percent1);
        state.shownPercent = lineShownPercent(line, state.shownPercent);
        const qsizetype marker = saveMarker.from(front);
        if (marker >= 0)
            state.baseName = nameFromSaveLine(state.output, marker, saveMarker.lineFeedAfter());
        front = cr;
        lineStart = cr + 1;
        metCarriageReturn = true;
    }
    // The last carriage return stays, so an unfinished line is examined whole
    // once its end arrives.
    drop(state, 0, front);
    dropMiddle(state, FetchingLineLimit);
    return metCarriageReturn;
}

void readSaveLine(State &state)
{
    SaveMarkerSearch saveMarker(state.output);
    const qsizetype marker = saveMarker.from(0);
    if (marker >= 0)
        state.baseName = nameFromSaveLine(state.output, marker, saveMarker.lineFeedAfter());
}

void readLastProgress(State &state)
{
    scanFetching(state);
    readSaveLine(state);
    // What follows the last carriage return, up to its line feed, is the last
    // line the fetcher showed.
    const qsizetype start = state.output.startsWith(u'\r') ? 1 : 0;
    const qsizetype lineFeed = state.output.indexOf(u'\n', start);
    const QStringView line = QStringView(state.output).mid(start, lineFeed < 0 ? -1 : lineFeed - start);
    state.percent1 = linePercentage(line, state.percent1);
    state.shownPercent = lineShownPercent(line, state.shownPercent);
}

namespace {

void appendWithoutCarriageReturns(State &state, qsizetype end)
{
    QString added = state.output.mid(state.finishingScanned, end - state.finishingScanned);
    added.remove(u'\r');
    if (added.isEmpty())
        return;
    // The first duration counts, so the line is kept only as far as the limit;
    // the newest clock is looked for in what came after the last one examined,
    // together with the end of that, where a marker may have begun.
    const qsizetype room = FinishingLineLimit - state.finishingLine.size();
    if (room > 0) {
        state.finishingLine += QStringView(added).left(room);
        state.duration = lineDuration(state.finishingLine, state.duration);
    }
    const QString recent = state.finishingTail + added;
    state.percent2 = linePercent2(recent, state.duration, state.percent2);
    state.finishingTail = recent.right(FinishingTailLength);
}

} // namespace

bool scanFinishing(State &state)
{
    // Each carriage return is examined with all text from the output's start:
    // the first duration and the newest clock in it count, so the last
    // carriage return of this read gives what all of them would have given.
    const qsizetype lastCr = state.output.lastIndexOf(u'\r');
    if (lastCr >= state.finishingScanned) {
        appendWithoutCarriageReturns(state, lastCr);
        state.finishingScanned = lastCr + 1;
    }
    if (state.output.size() > FinishingOutputLimit) {
        const qsizetype head = FinishingOutputLimit / 2;
        const qsizetype dropped = state.output.size() - FinishingOutputLimit;
        dropMiddle(state, FinishingOutputLimit);
        if (state.finishingScanned > head)
            state.finishingScanned = qMax(head, state.finishingScanned - dropped);
    }
    return state.finishingScanned > 0;
}

QString endTest(const State &state)
{
    if (!state.droppedError.isNull())
        return state.droppedError + state.output.mid(state.droppedErrorEnd);
    const qsizetype e = firstErrorLine(state.output, state.output.size());
    return e < 0 ? QString() : state.output.mid(e);
}

} // namespace outputparser
