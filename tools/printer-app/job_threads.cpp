// Job threads, one at a time per printer, in the order the jobs came.
//
// PAPPL 1.3 starts a thread for a printer's newest pending job from every
// look at the queue (a job arriving, a job ending), and the thread marks
// its job processing only once it runs. Two looks in that gap start the
// same job twice, or a second job beside the first; a thread may also
// start a job that was cancelled while it waited. Such a thread closes the
// device under the job that runs, clears the printer's current job, and
// lists its job twice among the completed jobs, which PAPPL later frees
// twice. The driver cannot undo that from its callbacks, so the
// application's own pthread_create (PAPPL's calls reach it before the C
// library's) wraps every job thread: a second thread for a job does
// nothing; a job's thread waits until no other job of its printer runs and
// its job is the oldest waiting one; and it runs the job only if the job is
// still pending. Job threads are told apart by their argument: the jobs
// PAPPL announces through the system's event callback (jobEvent).
//
// PAPPL 1.3 frees a deleted printer and all its jobs at once, while job
// threads may still wait for it or print one of its jobs (and a printer
// deleted while it prints is freed by its job thread, which then reads the
// freed printer). The application's own papplPrinterDelete (PAPPL's calls
// reach it too) deletes a printer only when no job thread of it is left:
// otherwise it stops the printer, cancels its jobs, and the last of its job
// threads deletes it once that thread is done with the job.
#include "app.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <set>

namespace qx316::app {

namespace {

using StartRoutine = void *(*)(void *);
using CreateFn = int (*)(pthread_t *, const pthread_attr_t *, StartRoutine, void *);

CreateFn libcCreate() {
    static const CreateFn f = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    return f;
}

using DeleteFn = void (*)(pappl_printer_t *);

DeleteFn papplDelete() {
    static const DeleteFn f = reinterpret_cast<DeleteFn>(dlsym(RTLD_NEXT, "papplPrinterDelete"));
    return f;
}

struct KnownJob {
    pappl_printer_t *printer;
    int id;
};

// Never destroyed: threads may still use them while the process exits.
struct Threads {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<void *, KnownJob> jobs;                   // announced and not yet completed
    std::set<void *> threaded;                         // jobs with a thread that has not ended
    std::set<pappl_printer_t *> running;               // printers with a job thread past the gate
    std::map<pappl_printer_t *, std::set<int>> waiting; // job ids whose threads wait, per printer
    std::map<pappl_printer_t *, int> jobThreads;       // job threads started and not ended, per printer
    std::set<pappl_printer_t *> deleting;              // deleted while they had job threads
};
Threads &threads() {
    static auto *t = new Threads;
    return *t;
}

// Deletes the printer through PAPPL. The caller holds no lock; no job
// thread of the printer is left.
void deleteNow(pappl_printer_t *printer) {
    Threads &t = threads();
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        t.deleting.erase(printer);
        t.jobThreads.erase(printer);
        t.waiting.erase(printer);
        for (auto it = t.jobs.begin(); it != t.jobs.end();)
            it = it->second.printer == printer ? t.jobs.erase(it) : std::next(it);
    }
    if (const DeleteFn del = papplDelete())
        del(printer);
}

struct Start {
    StartRoutine fn;
    void *job;
    KnownJob known;
};

void *runJobThread(void *p) {
    const Start s = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    Threads &t = threads();
    {
        std::unique_lock<std::mutex> lock(t.mutex);
        std::set<int> &queue = t.waiting[s.known.printer];
        queue.insert(s.known.id);
        t.changed.wait(lock, [&] { return !t.running.count(s.known.printer) && *queue.begin() == s.known.id; });
        queue.erase(s.known.id);
        t.running.insert(s.known.printer);
    }
    void *result = nullptr;
    // A job cancelled while its thread waited is over: running it would
    // finish it a second time.
    if (papplJobGetState(static_cast<pappl_job_t *>(s.job)) == IPP_JSTATE_PENDING)
        result = s.fn(s.job);
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        t.running.erase(s.known.printer);
        t.threaded.erase(s.job);
        last = --t.jobThreads[s.known.printer] == 0;
        if (last)
            t.jobThreads.erase(s.known.printer);
        last = last && t.deleting.count(s.known.printer);
    }
    t.changed.notify_all();
    if (last)
        deleteNow(s.known.printer);
    return result;
}

void *nothing(void *) { return nullptr; }

} // namespace

void jobEvent(pappl_system_t *, pappl_printer_t *printer, pappl_job_t *job, pappl_event_t event, void *) {
    if (!job)
        return;
    Threads &t = threads();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (event & PAPPL_EVENT_JOB_CREATED)
        t.jobs[job] = KnownJob{printer ? printer : papplJobGetPrinter(job), papplJobGetID(job)};
    else if (event & PAPPL_EVENT_JOB_COMPLETED)
        t.jobs.erase(job);
}

} // namespace qx316::app

extern "C" int pthread_create(pthread_t *__restrict thread, const pthread_attr_t *__restrict attr,
                              void *(*fn)(void *), void *__restrict arg) noexcept {
    using namespace qx316::app;
    const CreateFn create = libcCreate();
    if (!create)
        return EAGAIN;
    void *const job = arg;
    Threads &t = threads();
    KnownJob known{nullptr, 0};
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        const auto it = t.jobs.find(job);
        if (it != t.jobs.end()) {
            known = it->second;
            if (!t.threaded.insert(job).second)
                return create(thread, attr, nothing, nullptr);
        }
    }
    if (!known.printer)
        return create(thread, attr, fn, job);
    auto *s = new (std::nothrow) Start{fn, job, known};
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        ++t.jobThreads[known.printer];
    }
    const int rc = s ? create(thread, attr, runJobThread, s) : EAGAIN;
    if (rc != 0) {
        delete s;
        std::lock_guard<std::mutex> lock(t.mutex);
        t.threaded.erase(job);
        if (--t.jobThreads[known.printer] == 0)
            t.jobThreads.erase(known.printer);
    }
    return rc;
}

extern "C" void papplPrinterDelete(pappl_printer_t *printer) {
    using namespace qx316::app;
    if (!printer)
        return;
    Threads &t = threads();
    bool later = false;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        if (t.deleting.count(printer))
            return;
        const auto it = t.jobThreads.find(printer);
        later = it != t.jobThreads.end() && it->second > 0;
        if (later)
            t.deleting.insert(printer);
    }
    if (!later) {
        deleteNow(printer);
        return;
    }
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Deleted: removed once its job threads have ended");
    papplPrinterPause(printer);
    papplPrinterCancelAllJobs(printer);
}
