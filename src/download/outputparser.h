#pragma once

#include <QString>
#include <QStringView>

// The rules by which a download job reads its children's standard error.
// Plain functions over the job's text and numbers, so they run without a
// process or a timer.
namespace outputparser {

struct State
{
    QString output;   // standard-error text not yet dropped
    QString baseName; // fetched file's name as Latin-1 text, ending with the dot
    int percent1 = 0;
    // The fetcher's last shown percentage as it showed it; negative before any.
    double shownPercent = -1;
    int percent2 = 0;
    int duration = 0;
    // Finishing phase: the text of output without carriage returns up to the
    // last carriage return already examined, and where the next one is looked for.
    QString finishingLine;
    qsizetype finishingScanned = 0;
    // The last characters examined, where a time marker and its value may begin.
    QString finishingTail;
    // A child's error must fail the job whatever it printed afterwards: once a
    // drop takes the first line that starts with "ERROR", that line and what
    // was dropped after it stay here, and the text goes on in output from
    // droppedErrorEnd. Null until then.
    QString droppedError;
    qsizetype droppedErrorEnd = 0;
};

// What a child may make the job keep. Real output stays far below both: a
// fetcher line is under 200 characters, a conversion's whole output a few
// kilobytes. Past a limit the middle of the text is dropped, so the first
// save line or error and the newest progress stay.
constexpr qsizetype FetchingLineLimit = 64 * 1024;
constexpr qsizetype FinishingOutputLimit = 1024 * 1024;
// The converter's duration that counts is the first one; none is looked for
// past this length of the line under examination.
constexpr qsizetype FinishingLineLimit = 64 * 1024;
// Enough for a time marker and any clock value the converter writes.
constexpr qsizetype FinishingTailLength = 64;

// Fetching phase: examines output at every carriage return, reads the
// percentage and the saved file's name, and drops everything before the last
// carriage return met. Returns whether a carriage return was met.
bool scanFetching(State &state);

// When the fetcher has ended: its last lines are not scanned, yet a save line
// among them still names the file.
void readSaveLine(State &state);

// When the fetcher has ended: its last lines are examined too, also a last
// progress line that ends with a line feed rather than a carriage return.
void readLastProgress(State &state);

// Finishing phase: reads the converter's duration and time. Nothing is
// dropped below the limit; the duration that counts is the first of the whole
// output, the time the newest.
// Returns whether the output holds a carriage return.
bool scanFinishing(State &state);

// After a child has ended: the text from the first line that starts with
// "ERROR" on, dropped or not, or a null string when no line did.
QString endTest(const State &state);

// Percentage of a fetcher progress line, from its last "(...%)" group;
// previous when the line has none.
int linePercentage(QStringView line, int previous);
// The same percentage as the line shows it, or previous.
double lineShownPercent(QStringView line, double previous);

// The converter's "Duration: HH:MM:SS" as seconds; previous without the marker.
int lineDuration(QStringView line, int previous);

// Finishing percentage, 0 to 100, from the converter's last "time=" value,
// given in seconds or as hours:minutes:seconds; previous without the marker,
// without a time or without a duration to divide by.
int linePercent2(QStringView line, int duration, int previous);

} // namespace outputparser
