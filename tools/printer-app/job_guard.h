// Which thread prints a job. PAPPL 1.3 may start a second thread for a job
// that is still pending (it marks the job processing only once the first
// thread runs), and both threads then call the job's filter and raster
// callbacks. The guard lets the first thread that enters own the job for
// its whole run; any other thread learns that it is a duplicate, or that
// the owner has already finished, and must leave the job alone. No PAPPL
// here, so the rules are tested on their own.
#ifndef QX316_PRINTER_APP_JOB_GUARD_H
#define QX316_PRINTER_APP_JOB_GUARD_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace qx316::app {

class JobGuard {
public:
    enum class Claim {
        Owner,     // this thread prints the job (first entry, or the owner entering again)
        Duplicate, // another thread is printing the job now
        Finished,  // the job's owner has already finished it
    };
    explicit JobGuard(size_t finishedKept = 1024) : finishedKept_(finishedKept) {}

    // Enters job id (one job in the whole server) on this thread. Every Owner claim is matched by one leave().
    Claim enter(int64_t id);
    // Leaves one level of the owner's claim; the last one finishes the job
    // with its result, which a late duplicate reads from finishedResult().
    void leave(int64_t id, bool ok);
    // The result the owner finished the job with (false when unknown).
    bool finishedResult(int64_t id) const;
    // Jobs being printed now.
    size_t active() const;

private:
    struct Entry {
        std::thread::id owner;
        int depth = 0;
        bool ok = true;
    };
    mutable std::mutex mutex_;
    std::map<int64_t, Entry> active_;
    std::map<int64_t, bool> finished_;  // id -> result, the most recent finishedKept_ jobs
    std::deque<int64_t> finishedOrder_;
    size_t finishedKept_;
};

} // namespace qx316::app

#endif
