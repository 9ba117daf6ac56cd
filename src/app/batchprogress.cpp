#include "app/batchprogress.h"

#include <QtGlobal>

#include <cmath>

namespace batchprogress {

double jobDone(int fetched, int finished)
{
    return FetchWeight * qBound(0, fetched, 100) / 100.0 + (1 - FetchWeight) * qBound(0, finished, 100) / 100.0;
}

int batchPercent(int total, double jobsDone)
{
    if (total <= 0)
        return 0;
    // The small addition keeps 59 of 60 done, say, from reading as 98.333…-ε.
    const double percent = std::floor(jobsDone * 100.0 / total + 1e-9);
    return int(qBound(0.0, percent, 99.0));
}

} // namespace batchprogress
