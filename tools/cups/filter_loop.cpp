#include "filter_loop.h"

#include "filter_colour.h"
#include "filter_raster.h"

#include "colour.h"

#include <cups/cups.h>
#include <cups/raster.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace qx316::cupsfilter {

namespace {

// Bytes read from the raster input at a time. libcups asks for an
// uncompressed raster one line at a time; the input reads ahead so that a
// line costs a copy rather than a system call.
constexpr size_t kInputBlock = 64 * 1024;

// The raster input as libcups reads it. An interrupted read gives up when
// the job is cancelled, so a filter waiting on an idle pipe stops at once.
struct Input {
    int fd = -1;
    const volatile std::sig_atomic_t *cancel = nullptr;
    bool eof = false;
    int error = 0;
    uint64_t total = 0;           // bytes handed to libcups
    std::vector<uint8_t> ahead;   // bytes read ahead: [at, end) not yet handed over
    size_t at = 0, end = 0;
};

// One read of the input: bytes read, 0 at its end, -1 on an error or cancel.
ssize_t readSome(Input *in, unsigned char *buf, size_t len) {
    for (;;) {
        const ssize_t n = ::read(in->fd, buf, len);
        if (n > 0)
            return n;
        if (n == 0) {
            in->eof = true;
            return 0;
        }
        if (errno == EINTR) {
            if (in->cancel && *in->cancel)
                return -1;
            continue;
        }
        in->error = errno;
        return -1;
    }
}

ssize_t readInput(void *ctx, unsigned char *buf, size_t len) {
    Input *in = static_cast<Input *>(ctx);
    if (in->at == in->end) {
        // A request as big as a block goes straight to the caller's buffer.
        const bool direct = len >= in->ahead.size();
        const ssize_t n = readSome(in, direct ? buf : in->ahead.data(), direct ? len : in->ahead.size());
        if (n <= 0)
            return n;
        if (direct) {
            in->total += uint64_t(n);
            return n;
        }
        in->at = 0;
        in->end = size_t(n);
    }
    const size_t n = std::min(len, in->end - in->at);
    std::memcpy(buf, in->ahead.data() + in->at, n);
    in->at += n;
    in->total += uint64_t(n);
    return ssize_t(n);
}

// A temporary file in CUPS's temporary directory, removed at once: planar
// pages wait there for their last colour, and the rows of a page with
// copies wait there for the next copy. Memory stays at one line.
class Spool {
public:
    Spool() = default;
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;
    ~Spool() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool open(std::string &err) {
        char name[1024];
        fd_ = cupsTempFd(name, sizeof name);
        if (fd_ < 0) {
            err = std::string("cannot create a temporary file: ") + std::strerror(errno);
            return false;
        }
        ::unlink(name);
        return true;
    }

    bool write(const uint8_t *p, size_t n, std::string &err) {
        while (n > 0) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                err = std::string("cannot write the temporary file: ") + std::strerror(w < 0 ? errno : ENOSPC);
                return false;
            }
            p += w;
            n -= size_t(w);
        }
        return true;
    }

    bool readAt(uint8_t *p, size_t n, uint64_t at, std::string &err) {
        while (n > 0) {
            const ssize_t r = ::pread(fd_, p, n, off_t(at));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                err = std::string("cannot read the temporary file: ") + (r < 0 ? std::strerror(errno) : "short file");
                return false;
            }
            p += r;
            n -= size_t(r);
            at += uint64_t(r);
        }
        return true;
    }

private:
    int fd_ = -1;
};

std::string oneLine(std::string s) {
    for (char &c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    return s;
}

class Filter {
public:
    explicit Filter(const FilterRun &run) : run_(run) {}
    ~Filter() {
        if (raster_)
            cupsRasterClose(raster_);
        if (ownFd_ >= 0)
            ::close(ownFd_);
    }
    int run();
    int finish(int status);

private:
    enum class Step { Next, Stop };

    bool cancelled() const { return run_.cancel && *run_.cancel; }
    void say(const char *prefix, const std::string &text) {
        std::fprintf(run_.messages, "%s: %s\n", prefix, oneLine(text).c_str());
        std::fflush(run_.messages);
    }
    bool flushOutput();
    std::string outputWords() const;
    Step fail(const std::string &text);
    Step kitFail(const std::string &where);
    Step cancelJob();
    Step page(const cups_page_header2_t &h);
    Step startJob(const PrintOptions &o);
    void setColour(const cups_page_header2_t &h, const PageLayout &l, const PrintRequest &r);
    Step printCopy(const PageLayout &l, int copy, Spool *planes, Spool *rows);
    bool readLine(const PageLayout &l, int y, Spool *planes, uint8_t *line, std::string &err);

    const FilterRun &run_;
    Input in_;
    int ownFd_ = -1;
    cups_raster_t *raster_ = nullptr;
    PrintRequest jobRequest_;
    PrintOptions cur_;
    std::string colourKey_; // what the job's converter was built for
    std::unique_ptr<Job> job_;
    int pages_ = 0;      // pages printed (all their copies)
    int copiesOut_ = 0;  // copies of the current page begun
    int status_ = 0;
    std::vector<uint8_t> line_, row_;
};

bool Filter::flushOutput() { return !run_.flush || run_.flush(); }

// Why the output refused bytes, in words.
std::string Filter::outputWords() const {
    const std::string words = "cannot write the printer stream";
    const std::string why = run_.outputError ? run_.outputError() : std::string();
    return why.empty() ? words : words + " (" + why + ")";
}

Filter::Step Filter::fail(const std::string &text) {
    // A healthy job ends the page at the current line and then the job, so
    // the stream never stops inside a command.
    if (job_)
        job_->cancel();
    flushOutput();
    say("ERROR", text);
    status_ = 1;
    return Step::Stop;
}

Filter::Step Filter::kitFail(const std::string &where) {
    std::string words = job_->error();
    if (job_->code() == kErrSink && run_.outputError) {
        const std::string why = run_.outputError();
        if (!why.empty())
            words += " (" + why + ")";
    }
    if (job_->code() == kErrSink)
        words = "cannot write the printer stream: " + words;
    return fail(where.empty() ? words : where + ": " + words);
}

Filter::Step Filter::cancelJob() {
    const int done = copiesOut_;
    const int rc = job_ ? job_->cancel() : kOk;
    const bool sent = flushOutput();
    if (done > 0)
        say("PAGE", std::to_string(pages_ + 1) + " " + std::to_string(done));
    if (rc != kOk || !sent) {
        say("ERROR", "job cancelled, but the printer stream could not be ended cleanly: " +
                         (rc != kOk ? job_->error() : outputWords()));
        status_ = 1;
    } else {
        say("INFO", "Job cancelled after " + std::to_string(pages_ + (done > 0)) + " pages");
        status_ = 0;
    }
    return Step::Stop;
}

Filter::Step Filter::startJob(const PrintOptions &o) {
    job_ = std::make_unique<Job>(o);
    cur_ = o;
    if (job_->begin(run_.output) != kOk)
        return kitFail("page " + std::to_string(pages_ + 1));
    say("DEBUG", "rastertoqx316: quality code " + std::to_string(o.quality) + ", media code " + std::to_string(o.media) +
                     ", colour mode " + std::to_string(o.colorMode) + ": " + describeMode(job_->mode()));
    return Step::Next;
}

// The page's colour transform: sRGB, sGray and Adobe RGB rasters to the ink
// profile the PPD names for the page's colour model, media and resolution
// (or the built-in model's), with the intent asked for. A profile that
// cannot be used is reported and the built-in one prints: the job goes on.
// Device colour spaces (RGB, W, CMYK, ...) print as they are, through the
// kit's own separation.
void Filter::setColour(const cups_page_header2_t &h, const PageLayout &l, const PrintRequest &r) {
    const unsigned space = unsigned(h.cupsColorSpace);
    const bool adobe = space == CUPS_CSPACE_ADOBERGB;
    if (space != CUPS_CSPACE_SRGB && space != CUPS_CSPACE_SW && !adobe) {
        if (!colourKey_.empty() && colourKey_ != "device")
            job_->setInkConverter(nullptr);
        colourKey_ = "device";
        return;
    }
    Intent intent = Intent::Auto;
    if (!findIntent(r.intent, intent))
        say("WARNING", std::string(kIntentName) + "=" + r.intent + " is not an intent this printer knows; printing with auto");
    const char *model = l.colors == 1 ? "Gray" : l.colors == 4 ? "CMYK" : "RGB";
    const Choice *media = choiceByCode(OptionId::Media, cur_.media);
    const std::string mediaWord = media ? media->keyword : "m" + std::to_string(cur_.media);
    const std::string resolution = h.HWResolution[0] == h.HWResolution[1]
                                       ? std::to_string(h.HWResolution[0]) + "dpi"
                                       : std::to_string(h.HWResolution[0]) + "x" + std::to_string(h.HWResolution[1]) + "dpi";
    std::string entry;
    const std::string file = findProfile(std::getenv("PPD"), model, mediaWord, resolution, entry);
    const std::string key = std::string(intentKeyword(intent)) + "|" + file + "|" + std::to_string(cur_.media) +
                            (adobe ? "|adobe" : "");
    if (key == colourKey_)
        return;
    colourKey_ = key;
    ColourSettings colour;
    colour.intent = intent;
    if (adobe)
        colour.pageProfile = adobeRgbProfile();
    std::string err;
    if (!file.empty()) {
        const std::string path = profilePath(file);
        if (readProfileFile(path, colour.inkProfile, err))
            colour.inkProfileName = path;
        else
            say("WARNING", std::string(kInkProfileKeyword) + " " + entry + ": " + err + "; printing with the built-in ink profile");
    }
    auto conv = makeInkConverter(colour, job_->mode(), cur_.media, err);
    if (!conv && !err.empty() && !colour.inkProfile.empty()) {
        say("WARNING", std::string(kInkProfileKeyword) + " " + entry + ": " + err + "; printing with the built-in ink profile");
        colour.inkProfile.clear();
        conv = makeInkConverter(colour, job_->mode(), cur_.media, err);
    }
    if (!conv && !err.empty())
        say("WARNING", "no colour management: " + err);
    say("DEBUG", std::string("rastertoqx316: intent ") + intentKeyword(intent) + ", ink profile " +
                     (colour.inkProfile.empty() ? std::string("built in") : colour.inkProfileName));
    job_->setInkConverter(std::move(conv));
}

bool Filter::readLine(const PageLayout &l, int y, Spool *planes, uint8_t *line, std::string &err) {
    if (planes) {
        for (int c = 0; c < l.colors; ++c)
            if (!planes->readAt(line + size_t(c) * l.bandBytes, l.bandBytes,
                                (uint64_t(c) * uint64_t(l.shape.height) + uint64_t(y)) * l.bytesPerLine, err))
                return false;
        return true;
    }
    if (cupsRasterReadPixels(raster_, line, unsigned(l.bytesPerLine)) != l.bytesPerLine) {
        err = "the raster ends at line " + std::to_string(y) + " of " + std::to_string(l.shape.height);
        if (in_.error)
            err += std::string(" (") + std::strerror(in_.error) + ")";
        return false;
    }
    return true;
}

Filter::Step Filter::printCopy(const PageLayout &l, int copy, Spool *planes, Spool *rows) {
    const std::string where = "page " + std::to_string(pages_ + 1);
    if (job_->beginPage(l.shape) != kOk)
        return kitFail("");
    ++copiesOut_;
    const size_t rb = row_.size();
    const int h = l.shape.height;
    uint8_t *line = lineIsRow(l) ? row_.data() : line_.data();
    std::string err;
    for (int y = 0; y < h; ++y) {
        if (cancelled())
            return cancelJob();
        if (copy == 1) {
            if (!readLine(l, y, planes, line, err))
                return cancelled() ? cancelJob() : fail(where + ": " + err);
            convertLine(l, line, row_.data());
            if (rows && !rows->write(row_.data(), rb, err))
                return fail(where + ": " + err);
        } else if (!rows->readAt(row_.data(), rb, uint64_t(y) * rb, err)) {
            return fail(where + ": " + err);
        }
        if (job_->writeRow(row_.data(), rb) != kOk)
            return kitFail("");
        if ((y + 1) % kProgressLines == 0)
            say("ATTR", "job-media-progress=" + std::to_string(int(int64_t(y + 1) * 100 / h)));
    }
    if (job_->endPage() != kOk)
        return kitFail("");
    return Step::Next;
}

Filter::Step Filter::page(const cups_page_header2_t &h) {
    const int number = pages_ + 1;
    const std::string where = "page " + std::to_string(number);
    PageLayout l;
    PrintRequest request;
    PrintOptions opts;
    std::string err;
    if (!pageLayout(h, l, err) || !pageOptions(h, jobRequest_, request, err) || !resolveRequest(request, opts, err))
        return fail(where + ": " + err);
    if (job_ && !sameOptions(opts, cur_)) {
        // The library binds options to a job: a page with other options
        // ends this job and starts the next one in the same stream.
        say("INFO", where + " has other print options: starting a new job");
        const int rc = job_->end();
        if (rc != kOk)
            return kitFail(where);
        job_.reset();
        colourKey_.clear();
    }
    if (!job_ && startJob(opts) == Step::Stop)
        return Step::Stop;
    setColour(h, l, request);
    say("INFO", "Printing page " + std::to_string(number) + " (" + std::to_string(l.shape.width) + " x " +
                    std::to_string(l.shape.height) + " " + l.spaceName + " " + std::to_string(l.bitsPerColor) +
                    "-bit, " + std::to_string(l.copies) + (l.copies == 1 ? " copy)" : " copies)"));
    copiesOut_ = 0;
    try {
        line_.assign(lineIsRow(l) ? 0 : l.lineBytes, 0);
        row_.assign(rowBytes(l.shape.format, l.shape.width), 0);
    } catch (const std::bad_alloc &) {
        return fail(where + ": no memory for a raster line");
    }

    std::unique_ptr<Spool> planes, rows;
    if (l.order == CUPS_ORDER_PLANAR && l.colors > 1) {
        // Every colour of the page arrives before the next line's first can
        // be printed: keep them in a file.
        planes = std::make_unique<Spool>();
        if (!planes->open(err))
            return fail(where + ": " + err);
        for (int c = 0; c < l.colors; ++c)
            for (int y = 0; y < l.shape.height; ++y) {
                if (cancelled())
                    return cancelJob();
                if (cupsRasterReadPixels(raster_, line_.data(), unsigned(l.bytesPerLine)) != l.bytesPerLine)
                    return cancelled() ? cancelJob()
                                       : fail(where + ": the raster ends at line " + std::to_string(y) + " of " +
                                              std::to_string(l.shape.height) + " of colour " + std::to_string(c + 1) +
                                              " of " + std::to_string(l.colors));
                if (!planes->write(line_.data(), l.bytesPerLine, err))
                    return fail(where + ": " + err);
            }
    }
    if (l.copies > 1) {
        rows = std::make_unique<Spool>();
        if (!rows->open(err))
            return fail(where + ": " + err);
    }
    for (int copy = 1; copy <= l.copies; ++copy)
        if (printCopy(l, copy, planes.get(), rows.get()) == Step::Stop)
            return Step::Stop;
    if (!flushOutput())
        return fail(where + ": " + outputWords());
    ++pages_;
    copiesOut_ = 0;
    say("PAGE", std::to_string(number) + " " + std::to_string(l.copies));
    return Step::Next;
}

int Filter::run() {
    if (run_.argc < 6 || run_.argc > 7 || !run_.argv) {
        say("ERROR", "Usage: rastertoqx316 job-id user title copies options [file]");
        return 1;
    }
    std::string err, unused;
    if (!jobOptions(run_.argv[5], jobRequest_, err, &unused)) {
        say("ERROR", err);
        return 1;
    }
    if (!unused.empty())
        say("DEBUG", "rastertoqx316: job options without effect on the printer stream: " + unused);
    in_.fd = run_.inputFd;
    if (run_.argc == 7) {
        ownFd_ = ::open(run_.argv[6], O_RDONLY | O_CLOEXEC);
        if (ownFd_ < 0) {
            say("ERROR", std::string("cannot open ") + run_.argv[6] + ": " + std::strerror(errno));
            return 1;
        }
        in_.fd = ownFd_;
    }
    in_.cancel = run_.cancel;
    in_.ahead.resize(kInputBlock);
    raster_ = cupsRasterOpenIO(readInput, &in_, CUPS_RASTER_READ);
    if (!raster_) {
        if (cancelled()) {
            say("INFO", "Job cancelled before its first page");
            return 0;
        }
        say("ERROR", in_.total == 0 ? std::string("no raster input (empty stream)")
                                    : "the input is not a CUPS raster stream");
        return 1;
    }
    for (;;) {
        if (cancelled()) {
            cancelJob();
            return status_;
        }
        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        const uint64_t before = in_.total;
        if (!cupsRasterReadHeader2(raster_, &h)) {
            if (cancelled()) {
                cancelJob();
                return status_;
            }
            // libcups says the same for the end of the input and for a
            // header it refuses. Bytes read for this header, or input left
            // unread, mean a bad header rather than the end.
            if (in_.error || !in_.eof || in_.total != before) {
                fail("page " + std::to_string(pages_ + 1) + ": the page header is truncated or not valid" +
                     (in_.error ? std::string(" (") + std::strerror(in_.error) + ")" : std::string()));
                return status_;
            }
            break;
        }
        if (page(h) == Step::Stop)
            return status_;
    }
    if (pages_ == 0) {
        say("ERROR", "no pages found in the raster input");
        return 1;
    }
    if (job_->end() != kOk) {
        kitFail("job end");
        return status_;
    }
    if (!flushOutput()) {
        fail("job end: " + outputWords());
        return status_;
    }
    say("INFO", "Ready to print " + std::to_string(pages_) + (pages_ == 1 ? " page" : " pages"));
    return 0;
}

// Every way out of run() sends the output on; this catches bytes one might
// have left held back.
int Filter::finish(int status) {
    if (flushOutput() || status != 0)
        return status;
    say("ERROR", outputWords());
    return 1;
}

} // namespace

int runFilter(const FilterRun &run) {
    Filter f(run);
    return f.finish(f.run());
}

} // namespace qx316::cupsfilter
