#pragma once

#include "download/downloader.h"

// Download jobs' poll ticks an hour apart while this lives: whatever still
// happens, happens because a child or a step ended, not because a tick came.
class LongTicks
{
public:
    LongTicks() : saved(downloader::intervals) { downloader::intervals = {3600000, 3600000, 3600000}; }
    ~LongTicks() { downloader::intervals = saved; }
    LongTicks(const LongTicks &) = delete;
    LongTicks &operator=(const LongTicks &) = delete;

private:
    downloader::Intervals saved;
};
