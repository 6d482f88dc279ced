// The push API every host drives: options and an output sink at the start of
// a job, then pages row by row. It separates and quantises rows into the
// library's input planes, hands inked lines to the library and passes every
// chunk of the printer stream to the sink. No file I/O of its own.
//
//   qx316::Job job(options);
//   job.begin(sink);
//   per page: job.beginPage(shape); job.writeRow(row, bytes) ...; job.endPage();
//   job.end();            (or job.cancel() at any point: the page is ended
//                          at the current line, so the stream stays valid)
//
// Every call returns kOk or a negative code with words in error(): the
// library's codes (QXDRO_ERR_*) as they come, or the kit's own below. After a
// failure the job is closed and every later call returns the same code.
#ifndef QX316_FRONTEND_JOB_H
#define QX316_FRONTEND_JOB_H

#include "mode.h"
#include "options.h"
#include "rows.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qx316 {

constexpr int kOk = 0;
constexpr int kErrOptions = -1001;   // the library refuses this combination of options
constexpr int kErrOrder = -1002;     // call out of order (a row outside a page, a page outside a job)
constexpr int kErrPage = -1003;      // page size, offsets or row format out of range
constexpr int kErrTooWide = -1004;   // the page is wider than the print mode's band buffers hold
constexpr int kErrRow = -1005;       // a row of the wrong size, or more rows than the page has
constexpr int kErrSink = -1006;      // the output sink refused bytes
constexpr int kErrCancelled = -1007; // the job was cancelled
constexpr int kErrMemory = -1008;    // the host has no memory for the page's buffers

// Library and kit result codes in words.
std::string codeWords(int code);

// Where and how a page's rows arrive. The page's pixel (0, 0) lands on the
// printer's raster at (leftOffset, topOffset): pixels left of it and lines
// above it are blank.
struct PageShape {
    int width = 0;
    int height = 0;
    RowFormat format = RowFormat::Rgb8;
    int leftOffset = 0;
    int topOffset = 0;
};

constexpr int kMaxPageHeight = 1 << 21;  // raster lines, top offset included

struct JobStats {
    int pages = 0;
    uint64_t inputBytes = 0;   // packed plane bytes of every line of every page
    uint64_t outputBytes = 0;  // printer stream bytes
    int64_t linesSent = 0;     // lines handed to the library
};

// Writes bytes of the printer stream; false stops the job with kErrSink.
using Sink = std::function<bool(const uint8_t *data, size_t size)>;
// Called now and then: page (1-based), rows written of the page, rows of the page.
using Progress = std::function<void(int page, int row, int rows)>;
// Called for every row with the packed line and the levels of each input plane
// (a test and preview aid; costs a call per plane and row).
using LineTap = std::function<void(int page, int line, int plane, const std::vector<uint8_t> &packed,
                                   const std::vector<uint8_t> &levels)>;

class Job {
public:
    explicit Job(const PrintOptions &o);
    ~Job();
    Job(const Job &) = delete;
    Job &operator=(const Job &) = delete;

    // Checks the options against the library, opens the job and binds it to
    // model 316. kErrOptions (with the reason) when the library refuses them.
    int begin(Sink sink);
    // Sets up the next page: kErrPage, kErrTooWide (with the limit in words)
    // or a library code; nothing is sent before the first inked row.
    int beginPage(const PageShape &shape);
    // The next row of the page, rowBytes(format, width) bytes.
    int writeRow(const void *row, size_t bytes);
    // n blank rows (cheaper than writing white rows).
    int skipRows(int n);
    // Ends the page: rows not written are blank. Cut sheets: the page end;
    // banner paper: a form feed of the form length (or the page's height).
    int endPage();
    // Ends the job (banner paper: the job end) and closes it.
    int end();
    // Ends the page being printed at the current row with the page end (or
    // form feed), then the job; later calls return kErrCancelled. kOk when
    // the stream was closed cleanly.
    int cancel();

    // The colour-managed separation of the pages begun from now on (null:
    // the kit's own separation). Any time; the Job keeps it while it needs it.
    void setInkConverter(std::shared_ptr<const InkConverter> c) { nextConverter_ = std::move(c); }

    const ModeInfo &mode() const { return mode_; }
    const JobStats &stats() const { return stats_; }
    const std::string &error() const { return error_; }
    int code() const { return code_; }
    bool inPage() const { return inPage_; }
    int rowsWritten() const { return row_; }

    Progress progress;
    int progressEvery = 64;  // rows between progress calls
    LineTap tap;
    // How pages begun from now on quantise multi-level rows.
    Diffusion diffusion = Diffusion::BlueNoise;

private:
    int fail(int code, const std::string &what);
    int call(int rc, const char *what);
    int send(QXVSHandle listHandle);
    int produce(int line);
    void rowDone(bool inked);
    int finishPage(bool cancelled);
    int endJob();
    void close();

    PrintOptions opt_;
    PrintParams params_;
    ModeInfo mode_;
    Sink sink_;
    QXVSHandle job_ = nullptr;
    bool open_ = false;
    bool inPage_ = false;
    bool partReady_ = false; // the next page is set up already (by begin)
    PageShape page_;
    RasterLineRecord rec_;
    int row_ = 0;
    int64_t pageLinesSent_ = 0;
    uint64_t lineInputBytes_ = 0; // packed bytes of one line of every input plane
    std::shared_ptr<const InkConverter> converter_, nextConverter_; // the page's, the next pages'
    std::unique_ptr<class RowQuantiser> quant_;
    JobStats stats_;
    std::string error_;
    int code_ = kOk;
};

// Prints one page whose rows a host draws on demand: row(y, out) fills row y
// (rowBytes(shape.format, shape.width) bytes). Stops at the first failure.
int printPage(Job &job, const PageShape &shape, const std::function<void(int y, uint8_t *out)> &row);

} // namespace qx316

#endif
