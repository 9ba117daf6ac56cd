#pragma once

#include "jobrun.h"

#include <QByteArray>
#include <QString>

// Runs the job into `folder` with the fetcher's script and, unless it is empty,
// the converter's put first on PATH while it runs; false when no end came.
bool runWithFakes(JobRun &run, const QByteArray &fetcher, const QByteArray &converter, int fixMp4,
                  const QString &folder, int timeout = 60000);
