#include "job.h"

#include <cstring>
#include <new>

namespace qx316 {

std::string codeWords(int code) {
    switch (code) {
    case QXDRO_OK: return "success";
    case QXDRO_OPENED: return "job opened";
    case QXDRO_ERR_MEMORY: return "memory exhausted";
    case QXDRO_ERR_ARGUMENT: return "not supported or bad argument";
    case QXDRO_ERR_MODE: return "print mode, bit depth or raster span not supported";
    case QXDRO_ERR_STATE: return "call not allowed in the job's current state";
    case QXDRO_ERR_OPEN: return "job context could not be created";
    case kErrOptions: return "print options refused";
    case kErrOrder: return "call out of order";
    case kErrPage: return "page size, offset or row format out of range";
    case kErrTooWide: return "page too wide for the print mode";
    case kErrRow: return "row of the wrong size or beyond the page";
    case kErrSink: return "cannot write the printer stream";
    case kErrCancelled: return "job cancelled";
    case kErrMemory: return "out of memory for the page";
    default: return "unknown result";
    }
}

Job::Job(const PrintOptions &o) : opt_(o), params_(makeParams(o)), mode_(queryMode(o)) {}

Job::~Job() { close(); }

void Job::close() {
    if (open_)
        OutputClose(&job_);
    open_ = false;
    inPage_ = false;
    quant_.reset();
}

int Job::fail(int code, const std::string &what) {
    // A library call that fails changes nothing, so a page in progress can
    // still be ended cleanly, and a banner job with its job end: the stream
    // then stops at a page end. After a sink failure the stream is already
    // broken and nothing more is sent.
    if (open_ && code != kErrSink && code_ == kOk) {
        code_ = code; // keeps finishPage from failing over again
        if (!inPage_ || finishPage(true) == kOk)
            endJob();
    }
    close();
    code_ = code;
    error_ = what;
    return code;
}

int Job::call(int rc, const char *what) {
    if (rc == QXDRO_OK)
        return kOk;
    return fail(rc, std::string(what) + ": " + codeWords(rc) + " (" + std::to_string(rc) + ")");
}

int Job::send(QXVSHandle listHandle) {
    const OutputList *list = static_cast<const OutputList *>(listHandle);
    if (!list)
        return fail(kErrSink, "the library returned no chunk list");
    const ListItem *items = list->items ? list->items : static_cast<const ListItem *>(list->itemsHandle);
    if (list->count < 0 || list->count > QXDRO_LIST_ITEMS || (list->count > 0 && !items))
        return fail(kErrSink,
                    "the library returned a damaged chunk list (" + std::to_string(list->count) + " chunks)");
    for (int i = 0; i < list->count; ++i) {
        if (items[i].length == 0)
            continue;
        if (!items[i].data || !sink_(items[i].data, items[i].length))
            return fail(kErrSink, "cannot write the printer stream");
        stats_.outputBytes += items[i].length;
    }
    return kOk;
}

int Job::begin(Sink sink) {
    if (code_ != kOk)
        return code_;
    if (open_)
        return fail(kErrOrder, "the job has already begun");
    if (!sink)
        return fail(kErrOrder, "no output sink");
    if (opt_.formLength < 0 || opt_.formLength > kMaxFormLength)
        return fail(kErrOptions, "form length " + std::to_string(opt_.formLength) + " lines is outside 0 to " +
                                     std::to_string(kMaxFormLength));
    sink_ = std::move(sink);
    const int rc = OutputOpen(&job_);
    if (rc != QXDRO_OPENED)
        return fail(rc, "cannot open a job: " + codeWords(rc) + " (" + std::to_string(rc) + ")");
    open_ = true;
    if (const int r = call(OutputInitTwo(&job_, &params_, QXDRO_MODEL_CODE), "cannot bind the job to model 316"))
        return r;
    // The first page's set-up, done here so that options the library refuses
    // are reported before any page is read. It sends nothing.
    const int part = OutputInitPart(&job_, &params_);
    if (part != QXDRO_OK) {
        if (!mode_.problem.empty())
            return fail(part, mode_.problem + " (" + std::to_string(part) + ")");
        return call(part, "cannot set up the page");
    }
    if (!mode_.problem.empty())
        return fail(kErrOptions, mode_.problem + " (the library accepted it)");
    partReady_ = true;
    return kOk;
}

int Job::beginPage(const PageShape &shape) {
    if (code_ != kOk)
        return code_;
    if (!open_ || inPage_)
        return fail(kErrOrder, inPage_ ? "a page is already open" : "no job is open");
    const int page = stats_.pages + 1;
    const std::string where = "page " + std::to_string(page);
    if (rowBytes(shape.format, shape.width) == 0 || shape.height < 1 || shape.leftOffset < 0 || shape.topOffset < 0 ||
        int64_t(shape.height) + shape.topOffset > kMaxPageHeight)
        return fail(kErrPage, where + ": " + std::to_string(shape.width) + " x " + std::to_string(shape.height) +
                                  " pixels at offset " + std::to_string(shape.leftOffset) + ", " +
                                  std::to_string(shape.topOffset) + " in " + rowFormatName(shape.format) +
                                  " is out of range (width 1 to 32767, height up to " +
                                  std::to_string(kMaxPageHeight) + " lines with the top offset)");
    const int64_t lineWidth = int64_t(shape.leftOffset) + shape.width;
    if (lineWidth > mode_.maxWidth)
        return fail(kErrTooWide,
                    where + " is too wide for this print mode: " + std::to_string(lineWidth) +
                        " pixels (left offset included); " + describeMode(mode_) + " takes at most " +
                        std::to_string(mode_.maxWidth) + " pixels, what one band fits in the library's plane buffers");
    if (opt_.banner && opt_.formLength > 0 && int64_t(shape.topOffset) + shape.height > opt_.formLength)
        return fail(kErrPage, where + " has " + std::to_string(int64_t(shape.topOffset) + shape.height) +
                                  " lines, more than the banner form length of " + std::to_string(opt_.formLength) +
                                  " lines");
    if (!partReady_) {
        if (const int r = call(OutputInitPart(&job_, &params_), "cannot set up the page"))
            return r;
    }
    partReady_ = false;
    try {
        converter_ = nextConverter_;
        quant_ = std::make_unique<RowQuantiser>(mode_, shape.format, shape.width, shape.leftOffset, bool(tap),
                                                diffusion, converter_.get());
        quant_->setLine(uint32_t(shape.topOffset));
    } catch (const std::bad_alloc &) {
        return fail(kErrMemory, where + ": no memory for the page's line buffers");
    }
    page_ = shape;
    row_ = 0;
    pageLinesSent_ = 0;
    inPage_ = true;
    std::memset(&rec_, 0, sizeof rec_);
    lineInputBytes_ = 0;
    for (int d = 0; d < mode_.inPlanes; ++d) {
        rec_.planes[d].width = int16_t(lineWidth);
        lineInputBytes_ += quant_->packed(d).size();
    }
    return kOk;
}

int Job::produce(int line) {
    QXVSHandle list = nullptr;
    rec_.lineNumber = page_.topOffset + line;
    // A plane without ink in this line is handed over as no data: the
    // library then need not search it for ink.
    for (int d = 0; d < mode_.inPlanes; ++d)
        rec_.planes[d].data = quant_->line(d);
    // The words are built only for a failure: this runs for every inked line.
    if (const int rc = OutputProduceTwo(&job_, &rec_, &list); rc != QXDRO_OK)
        return call(rc, ("line " + std::to_string(line)).c_str());
    if (const int r = send(list))
        return r;
    if (const int r = call(OutputComplete(&job_), "completing a line"))
        return r;
    ++stats_.linesSent;
    ++pageLinesSent_;
    return kOk;
}

void Job::rowDone(bool inked) {
    const int y = row_;
    stats_.inputBytes += lineInputBytes_;
    if (tap) {
        if (!inked)
            quant_->zero();
        for (int d = 0; d < mode_.inPlanes; ++d)
            tap(stats_.pages, y, d, quant_->packed(d), quant_->levels(d));
    }
    if (progress && progressEvery > 0 && (y % progressEvery == 0 || y == page_.height - 1))
        progress(stats_.pages + 1, y + 1, page_.height);
}

int Job::writeRow(const void *row, size_t bytes) {
    if (code_ != kOk)
        return code_;
    if (!inPage_)
        return fail(kErrOrder, "a row outside a page");
    if (!row || bytes != rowBytes(page_.format, page_.width) || row_ >= page_.height)
        return fail(kErrRow, "page " + std::to_string(stats_.pages + 1) + " row " + std::to_string(row_) + ": " +
                                 (row_ >= page_.height ? "more rows than the page's " + std::to_string(page_.height)
                                                       : std::to_string(bytes) + " bytes where " +
                                                             rowFormatName(page_.format) + " rows of " +
                                                             std::to_string(page_.width) + " pixels have " +
                                                             std::to_string(rowBytes(page_.format, page_.width))));
    const bool inked = quant_->next(static_cast<const uint8_t *>(row));
    rowDone(inked);
    if (inked || opt_.sendBlankLines) {
        if (!inked)
            quant_->zero();
        if (const int r = produce(row_))
            return r;
    }
    ++row_;
    return kOk;
}

int Job::skipRows(int n) {
    if (code_ != kOk)
        return code_;
    if (!inPage_)
        return fail(kErrOrder, "rows outside a page");
    if (n < 0 || n > page_.height - row_)
        return fail(kErrRow, "page " + std::to_string(stats_.pages + 1) + ": " + std::to_string(n) +
                                 " blank rows after row " + std::to_string(row_) + " pass the page's " +
                                 std::to_string(page_.height));
    for (int i = 0; i < n; ++i) {
        quant_->blank();
        rowDone(false);
        if (opt_.sendBlankLines) {
            quant_->zero();
            if (const int r = produce(row_))
                return r;
        }
        ++row_;
    }
    return kOk;
}

int Job::finishPage(bool cancelled) {
    QXVSHandle list = nullptr;
    int r;
    // A page without ink still sends one blank line: the library sends a
    // page's set-up and header with its first line, and a page without them
    // would vanish from the stream instead of coming out as a blank sheet.
    if (pageLinesSent_ == 0) {
        quant_->zero();
        if ((r = produce(0)))
            return r;
    }
    if (opt_.banner) {
        // A form is whole bands: the library drains the form length's whole
        // bands only, so a partial last band would meet the next form's first.
        const int lines = opt_.formLength > 0 ? opt_.formLength : page_.topOffset + page_.height;
        const int form = (lines + mode_.bandHeight - 1) / mode_.bandHeight * mode_.bandHeight;
        r = call(OutputFormFeed(&job_, &list, form), cancelled ? "form feed after cancel" : "form feed");
        r = r ? r : send(list);
        r = r ? r : call(OutputComplete(&job_), "completing the form feed");
    } else {
        r = call(OutputFlush(&job_, &list), cancelled ? "page end after cancel" : "page end");
        r = r ? r : send(list);
        r = r ? r : call(OutputComplete(&job_), "completing the page end");
    }
    if (r)
        return r;
    inPage_ = false;
    quant_.reset();
    ++stats_.pages;
    return kOk;
}

int Job::endPage() {
    if (code_ != kOk)
        return code_;
    if (!inPage_)
        return fail(kErrOrder, "no page is open");
    if (const int r = skipRows(page_.height - row_))
        return r;
    return finishPage(false);
}

int Job::endJob() {
    if (opt_.banner) {
        QXVSHandle list = nullptr;
        int r = call(OutputFlush(&job_, &list), "job end");
        r = r ? r : send(list);
        r = r ? r : call(OutputComplete(&job_), "completing the job end");
        if (r)
            return r;
    }
    close();
    return kOk;
}

int Job::end() {
    if (code_ != kOk)
        return code_;
    if (!open_ || inPage_)
        return fail(kErrOrder, inPage_ ? "the job ends inside a page" : "no job is open");
    return endJob();
}

int Job::cancel() {
    if (code_ != kOk) {
        close();
        return code_ == kErrCancelled ? kOk : code_;
    }
    int r = kOk;
    if (inPage_)
        r = finishPage(true);
    if (r == kOk && open_)
        r = endJob();
    close();
    if (r != kOk)
        return r;
    code_ = kErrCancelled;
    error_ = "the job was cancelled";
    return kOk;
}

int printPage(Job &job, const PageShape &shape, const std::function<void(int y, uint8_t *out)> &row) {
    if (const int r = job.beginPage(shape))
        return r;
    std::vector<uint8_t> buf(rowBytes(shape.format, shape.width));
    for (int y = 0; y < shape.height; ++y) {
        row(y, buf.data());
        if (const int r = job.writeRow(buf.data(), buf.size()))
            return r;
    }
    return job.endPage();
}

} // namespace qx316
