#pragma once

#include "download/downloader.h"

// Download jobs' poll ticks an hour apart while this lives: whatever still
// happens, happens because a child or a step ended, not because a tick came.
class LongTicks
{
public:
    LongTicks() : saved(downloader::intervals) { downloader::intervals = {3600000, 3600000, 3600000}; }
    ~LongTicks() { downloader::intervals = saved; }
    Q_DISABLE_COPY(LongTicks)

private:
    downloader::Intervals saved;
};
