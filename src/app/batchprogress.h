#pragma once

// The progress bar's arithmetic, apart from the window.
namespace batchprogress {

// A job's share of its own work that is the fetch; the rest is the finishing
// step, conversion or copy. On the portal a fetch runs at about the video's
// pace while a stream copy on a local disk takes seconds, yet a large video's
// conversion and flush still take long enough to be seen on the bar.
constexpr double FetchWeight = 0.9;

// How far one job has come, 0 to 1, from the percentages of its reports:
// `fetched` of the fetch and `finished` of the finishing step.
double jobDone(int fetched, int finished);

// The bar's value while a batch runs: the share of its `total` addresses
// done, jobs at work counted by how far they have come; truncated once, and
// below 100 until the batch ends.
int batchPercent(int total, double jobsDone);

} // namespace batchprogress
