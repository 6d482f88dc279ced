// PDF jobs: the pages are rendered by pdftoppm (poppler) at 600 dpi in a
// child process with bounded memory and time, read from its output as
// PPM or PGM, and fed line by line to the same raster callbacks as every
// other job.
#include "app.h"
#include "pnm_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qx316::app {

namespace {

constexpr rlim_t kRenderMemory = rlim_t(2) << 30;  // address space of the renderer
constexpr rlim_t kRenderSeconds = 600;             // CPU time of one rendering of the document
constexpr size_t kMessageBytes = 2048;

// The renderer's output and its stderr through pipes; reading fails when
// the job is cancelled, so a cancel never waits for a slow page.
class Renderer {
public:
    ~Renderer() { stop(); }

    bool start(const std::string &program, const std::vector<std::string> &args, std::string &err) {
        int out[2], errp[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            err = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        if (pipe2(errp, O_CLOEXEC) != 0) {
            err = std::string("pipe: ") + std::strerror(errno);
            ::close(out[0]);
            ::close(out[1]);
            return false;
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            const struct rlimit mem = {kRenderMemory, kRenderMemory};
            const struct rlimit cpu = {kRenderSeconds, kRenderSeconds};
            const struct rlimit nofile = {64, 64};
            setrlimit(RLIMIT_AS, &mem);
            setrlimit(RLIMIT_CPU, &cpu);
            const int null = ::open("/dev/null", O_RDONLY);
            if (null < 0 || dup2(null, 0) < 0 || dup2(out[1], 1) < 0 || dup2(errp[1], 2) < 0)
                _exit(126);
            // Nothing of the server's but the two pipes: not the printer's
            // device, not its sockets; and the signals a program expects
            // (the server ignores SIGPIPE, which would keep an orphaned
            // renderer writing into a closed pipe).
            ::close_range(3, ~0U, 0);
            setrlimit(RLIMIT_NOFILE, &nofile);
            for (int sig = 1; sig < NSIG; ++sig)
                ::signal(sig, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        ::close(out[1]);
        ::close(errp[1]);
        if (pid_ < 0) {
            err = std::string("fork: ") + std::strerror(errno);
            ::close(out[0]);
            ::close(errp[0]);
            return false;
        }
        out_ = out[0];
        err_ = errp[0];
        ::fcntl(err_, F_SETFL, O_NONBLOCK);
        return true;
    }

    int fd() const { return out_; }

    // Keeps the first bytes of the renderer's messages without ever
    // blocking on them.
    void drainMessages() {
        if (err_ < 0)
            return;
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(err_, buf, sizeof buf);
            if (n <= 0)
                break;
            if (messages_.size() < kMessageBytes)
                messages_.append(buf, size_t(n) < kMessageBytes - messages_.size() ? size_t(n)
                                                                                 : kMessageBytes - messages_.size());
        }
    }

    // Waits for the renderer; the words of how it ended ("" when it exited 0).
    std::string finish() {
        if (out_ >= 0) {
            ::close(out_);
            out_ = -1;
        }
        int status = 0;
        if (pid_ > 0) {
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
        }
        drainMessages();
        closeErr();
        std::string why;
        // pdftoppm renders a page too large for its memory as a blank
        // 1 x 1 picture and still exits 0.
        if (messages_.find("Bogus memory allocation size") != std::string::npos)
            why = "pdftoppm could not render a page this large at 600 dpi";
        if (!why.empty())
            ;
        else if (WIFSIGNALED(status))
            why = "pdftoppm stopped by signal " + std::to_string(WTERMSIG(status));
        else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            why = "pdftoppm failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        if (!why.empty() && !messages_.empty()) {
            std::string m = messages_;
            while (!m.empty() && (m.back() == '\n' || m.back() == '\r'))
                m.pop_back();
            for (char &c : m)
                if (c == '\n' || c == '\r')
                    c = ' ';
            why += ": " + m;
        }
        return why;
    }

    // Stops the renderer we started, by its pid.
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            finish();
        }
        if (out_ >= 0) {
            ::close(out_);
            out_ = -1;
        }
        closeErr();
    }

private:
    void closeErr() {
        if (err_ >= 0) {
            ::close(err_);
            err_ = -1;
        }
    }
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string messages_;
};

// Prints one rendering of the document: each rendered page centred on the
// job's page (cropped where it is larger), blank rows around it.
bool printPages(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, Renderer &r, bool gray,
                unsigned &pageNo, std::string &err) {
    const cups_page_header2_t &h = options->header;
    const int width = int(h.cupsWidth), height = int(h.cupsHeight);
    const int channels = gray ? 1 : 3;
    PnmReader reader(r.fd(), [job] { return papplJobIsCanceled(job); });
    std::vector<uint8_t> in, line(size_t(width) * size_t(channels));
    for (;;) {
        PnmHeader ph;
        const PnmReader::Result got = reader.header(ph);
        if (got == PnmReader::Result::End)
            return true;
        if (got != PnmReader::Result::Ok) {
            err = reader.error();
            return false;
        }
        if (ph.channels != channels) {
            err = "the renderer sent a page with " + std::to_string(ph.channels) + " channels, not " +
                  std::to_string(channels);
            return false;
        }
        ++pageNo;
        if (!rasterStartPage(job, options, device, pageNo))
            return false;
        in.resize(size_t(ph.width) * size_t(channels));
        const int offX = (width - ph.width) / 2, offY = (height - ph.height) / 2;
        int y = 0; // next line of the job's page
        auto blankTo = [&](int end) {
            std::memset(line.data(), 0xff, line.size());
            for (; y < end; ++y)
                if (!rasterWriteLine(job, options, device, unsigned(y), line.data()))
                    return false;
            return true;
        };
        for (int sy = 0; sy < ph.height; ++sy) {
            if (reader.row(in.data(), in.size()) != PnmReader::Result::Ok) {
                err = reader.error();
                return false;
            }
            const int ty = sy + offY;
            if (ty < 0 || ty >= height)
                continue; // rows outside the page are read and dropped
            if (!blankTo(ty))
                return false;
            std::memset(line.data(), 0xff, line.size());
            for (int x = 0; x < width; ++x) {
                const int sx = x - offX;
                if (sx >= 0 && sx < ph.width)
                    std::memcpy(&line[size_t(x) * channels], &in[size_t(sx) * channels], size_t(channels));
            }
            if (!rasterWriteLine(job, options, device, unsigned(y), line.data()))
                return false;
            ++y;
            if (papplJobIsCanceled(job))
                return true;
            if ((sy & 63) == 0)
                r.drainMessages();
        }
        if (!blankTo(height))
            return false;
        if (!rasterEndPage(job, options, device, pageNo))
            return false;
        papplJobSetImpressionsCompleted(job, 1);
    }
}

} // namespace

namespace {

bool printPdf(pappl_job_t *job, pappl_device_t *device, App &app);

} // namespace

bool pdfFilter(pappl_job_t *job, pappl_device_t *device, void *data) {
    return printClaimed(job, [&] { return printPdf(job, device, *static_cast<App *>(data)); });
}

namespace {

bool printPdf(pappl_job_t *job, pappl_device_t *device, App &app) {
    // A job cancelled while it was pending has lost its file.
    const char *file = papplJobGetFilename(job);
    if (!file) {
        papplJobSetMessage(job, "the job's document is gone");
        return false;
    }
    const std::string fileName = file;
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, INT_MAX, true);
    if (!options)
        return false;
    const cups_page_header2_t &h = options->header;
    const bool gray = h.cupsBitsPerPixel == 8;
    bool ok = rasterStartJob(job, options, device);
    std::vector<std::string> args = {"-r", std::to_string(kDpi)};
    if (gray)
        args.push_back("-gray");
    if (options->first_page > 1) {
        args.push_back("-f");
        args.push_back(std::to_string(options->first_page));
    }
    if (options->last_page < unsigned(INT_MAX)) {
        args.push_back("-l");
        args.push_back(std::to_string(options->last_page));
    }
    args.push_back("--");
    args.push_back(fileName);
    unsigned pageNo = 0;
    std::string err;
    for (int copy = 0; ok && copy < std::max(1, options->copies) && !papplJobIsCanceled(job); ++copy) {
        Renderer r;
        if (!r.start(app.pdftoppm, args, err)) {
            ok = false;
            break;
        }
        ok = printPages(job, options, device, r, gray, pageNo, err);
        if (papplJobIsCanceled(job)) {
            r.stop();
            break;
        }
        const std::string how = r.finish();
        if (ok && !how.empty()) {
            ok = false;
            err = how;
        } else if (!ok && !how.empty()) {
            err += " (" + how + ")";
        }
        if (ok && pageNo == 0) {
            ok = false;
            err = "the document has no pages to print";
        }
    }
    if (!err.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", err.c_str());
        papplJobSetMessage(job, "%s", err.c_str());
    }
    // The job end: a whole stream, also after a failure or a cancel.
    const bool ended = rasterEndJob(job, options, device);
    papplJobDeletePrintOptions(options);
    return ok && ended;
}

} // namespace

} // namespace qx316::app

namespace qx316::app {

// PWG raster files (the test page; PAPPL 1.3 streams PWG raster sent over
// IPP itself, but does not print a raster file): each page's lines, 8-bit
// sRGB or gray, to the raster callbacks.
namespace {

bool printPwg(pappl_job_t *job, pappl_device_t *device);

} // namespace

bool pwgFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    return printClaimed(job, [&] { return printPwg(job, device); });
}

namespace {

bool printPwg(pappl_job_t *job, pappl_device_t *device) {
    const char *name = papplJobGetFilename(job);
    const int fd = name ? ::open(name, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        papplJobSetMessage(job, "cannot open the job's raster");
        return false;
    }
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, INT_MAX, true);
    bool ok = ras && options && rasterStartJob(job, options, device);
    unsigned page = 0;
    std::vector<uint8_t> line;
    cups_page_header2_t h;
    while (ok && !papplJobIsCanceled(job) && cupsRasterReadHeader2(ras, &h)) {
        if (h.cupsBitsPerColor != 8 || (h.cupsBitsPerPixel != 8 && h.cupsBitsPerPixel != 24)) {
            papplJobSetMessage(job, "page %u: only 8-bit gray and RGB rasters print", page + 1);
            ok = false;
            break;
        }
        options->header = h;
        ok = rasterStartPage(job, options, device, ++page);
        line.resize(h.cupsBytesPerLine);
        for (unsigned y = 0; ok && y < h.cupsHeight; ++y) {
            if (cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
                papplJobSetMessage(job, "page %u ends at line %u of %u", page, y, h.cupsHeight);
                ok = false;
                break;
            }
            ok = rasterWriteLine(job, options, device, y, line.data());
        }
        if (ok)
            ok = rasterEndPage(job, options, device, page);
        if (ok)
            papplJobSetImpressionsCompleted(job, 1);
    }
    if (ok && page == 0 && !papplJobIsCanceled(job)) {
        papplJobSetMessage(job, "the raster has no pages");
        ok = false;
    }
    const bool ended = options ? rasterEndJob(job, options, device) : false;
    if (options)
        papplJobDeletePrintOptions(options);
    if (ras)
        cupsRasterClose(ras);
    ::close(fd);
    return ok && ended;
}

} // namespace

} // namespace qx316::app
