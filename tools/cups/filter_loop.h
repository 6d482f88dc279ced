// The page loop of rastertoqx316: CUPS filter arguments, a raster stream on
// a file descriptor, the printer stream to a sink, CUPS messages to a FILE.
// main() only sets up signals and standard output around it; tests and the
// fuzz target call it directly.
#ifndef QX316_CUPS_FILTER_LOOP_H
#define QX316_CUPS_FILTER_LOOP_H

#include "job.h"

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

namespace qx316::cupsfilter {

constexpr int kProgressLines = 256; // raster lines between job-media-progress messages

struct FilterRun {
    int argc = 0;
    const char *const *argv = nullptr; // job user title copies options [file]
    int inputFd = 0;                   // read when argv names no file
    Sink output;                       // the printer stream
    // Sends on what output holds back; false when the bytes are refused.
    // Called at every page end and before the run returns. May be empty.
    std::function<bool()> flush;
    // Words for a refused write (e.g. the errno of the last write); may be empty.
    std::function<std::string()> outputError;
    // Set (by a signal handler) to cancel the job; checked for every line
    // and when a read is interrupted.
    const volatile std::sig_atomic_t *cancel = nullptr;
    FILE *messages = stderr;
};

// Runs the filter: 0 when pages were printed (or the job was cancelled and
// its stream ended cleanly), 1 after an error, with one ERROR: line.
int runFilter(const FilterRun &run);

} // namespace qx316::cupsfilter

#endif
