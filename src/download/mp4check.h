#pragma once

#include <QString>

class QIODevice;

// Whether a file the converter wrote holds the whole video. The converter can
// exit with status 0 after a failed write (a full disk), leaving a file that
// starts well but ends early; such a file must never take a video's place.
namespace mp4check {

// Why the MP4 in `file` is cut or unfinished, or an empty string. A whole file
// is a row of top-level boxes that runs exactly to its end, one of them the
// index (moov), which the converter writes last. The device is read from its
// start with seeks, never whole.
QString problem(QIODevice &file);

// The same for a file on disk; a file that cannot be read is not whole.
QString fileProblem(const QString &path);

} // namespace mp4check
