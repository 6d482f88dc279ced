// rastertoqx316: the CUPS filter that turns CUPS raster pages into the model
// 316's printer stream. Usage (as CUPS runs it):
//   rastertoqx316 job-id user title copies options [file]
// The raster comes from the file or standard input; the printer stream goes
// to standard output; messages for the scheduler go to standard error.
#include "filter_loop.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_cancel = 0;

void onTerm(int) { g_cancel = 1; }

int g_writeErrno = 0;

// Writes all bytes to standard output; a write interrupted by SIGTERM goes
// on, since the page end still has to reach the printer.
bool writeAll(const uint8_t *p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            g_writeErrno = w < 0 ? errno : EIO;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// The printer stream arrives in chunks of a few bytes to a few kilobytes;
// they are gathered into blocks so that a write(2) carries many of them.
// The page loop sends the block on at every page end and before it returns.
// After a refused write every later one is refused too.
constexpr size_t kOutputBlock = 64 * 1024;
uint8_t g_out[kOutputBlock];
size_t g_outUsed = 0;
bool g_outFailed = false;

bool flushOut() {
    if (g_outFailed)
        return false;
    const size_t n = g_outUsed;
    g_outUsed = 0;
    g_outFailed = !writeAll(g_out, n);
    return !g_outFailed;
}

bool writeOut(const uint8_t *p, size_t n) {
    if (g_outFailed)
        return false;
    if (n > kOutputBlock - g_outUsed) {
        if (!flushOut())
            return false;
        if (n >= kOutputBlock) {
            g_outFailed = !writeAll(p, n);
            return !g_outFailed;
        }
    }
    std::memcpy(g_out + g_outUsed, p, n);
    g_outUsed += n;
    return true;
}

} // namespace

int main(int argc, char **argv) {
    // No SA_RESTART: a read waiting on the input returns, and the page loop
    // sees the flag at once.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onTerm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    qx316::cupsfilter::FilterRun run;
    run.argc = argc;
    run.argv = argv;
    run.inputFd = STDIN_FILENO;
    run.output = writeOut;
    run.flush = flushOut;
    run.outputError = [] { return g_writeErrno ? std::string(std::strerror(g_writeErrno)) : std::string(); };
    run.cancel = &g_cancel;
    run.messages = stderr;
    return qx316::cupsfilter::runFilter(run);
}
