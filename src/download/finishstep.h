#pragma once

#include "download/outputparser.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <future>

class QObject;
class StagingFolder;

// The finishing step of one job once the whole video is fetched: the checks
// before it, the converter's result, and the placing of the video under its
// final name. The placing runs on a worker thread: flushing a large file to a
// slow disk would otherwise stop the window for seconds.
class FinishStep
{
public:
    struct End
    {
        bool started = false;
        bool exitedNormally = false;
        int exitCode = -1;
    };

    // `convert`: the converter rewrites the fetched file; else it is moved.
    FinishStep(StagingFolder &staging, const outputparser::State &text, const QString &folder, bool convert);
    // A half-converted file goes; the fetched one stays for a later try.
    ~FinishStep();
    FinishStep(const FinishStep &) = delete;
    FinishStep &operator=(const FinishStep &) = delete;

    // Why the step may not start, or an empty string; claims the video's name.
    QString begin();
    // The converter's arguments. An earlier run's output may be linked to a
    // saved video; ffmpeg -y would write through it, so it goes first.
    QStringList converterArguments();
    // After the converter: why its file is not the whole video, or empty.
    QString endConverting(const End &ended);

    // Called on the placing thread just before the finished video gets its
    // full path `target`, with the file that gets it; again when it got another name.
    using PlacingHook = std::function<void(const QString &target, const QString &file)>;
    // Starts the placing; `placed` is called from `context`'s event loop once
    // the result is ready.
    void startPlacing(QObject *context, const std::function<void()> &placed, const PlacingHook &hook);
    bool placingStarted() const { return placement.valid(); }
    bool placing() const;
    // Once placed: the failure, or a warning about a saved video, or nothing.
    struct Result
    {
        QString error;
        QString warning;
    };
    Result endPlacing();

private:
    struct Placed
    {
        QString error;
        QString warning;
        QString target;
    };
    struct Move
    {
        QString source;
        QString fetched;
        QString stem;
        QString target;
        QStringList ownNames; // what goes once the video is in place
        PlacingHook hook;
    };
    Placed place(const Move &move) const;
    QString namingKept(const QString &failure) const;
    QString fetched() const;
    QString converted() const;

    StagingFolder &staging;
    const outputparser::State &text;
    QString folder;
    bool convert = false;
    QString target; // the claimed name of the finished video
    // Only a name that passed begin() is ever used to remove a file.
    bool converterRun = false;
    std::future<Placed> placement;
};
