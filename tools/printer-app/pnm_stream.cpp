#include "pnm_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace qx316::app {

PnmReader::Result PnmReader::fail(const std::string &what) {
    if (error_.empty())
        error_ = what;
    return Result::Error;
}

int PnmReader::get() {
    if (pos_ < len_)
        return buf_[pos_++];
    if (eof_)
        return -1;
    for (;;) {
        if (stop_ && stop_()) {
            error_ = "stopped";
            return -2;
        }
        pollfd p = {fd_, POLLIN, 0};
        const int n = ::poll(&p, 1, 200);
        if (n < 0 && errno != EINTR) {
            error_ = std::string("cannot read the rendered pages: ") + std::strerror(errno);
            return -2;
        }
        if (n <= 0)
            continue;
        const ssize_t r = ::read(fd_, buf_, sizeof buf_);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            error_ = std::string("cannot read the rendered pages: ") + std::strerror(errno);
            return -2;
        }
        if (r == 0) {
            eof_ = true;
            return -1;
        }
        pos_ = 1;
        len_ = size_t(r);
        return buf_[0];
    }
}

bool PnmReader::number(int &v, const char *what) {
    int c = get();
    for (;;) {
        if (c == '#') {
            while (c >= 0 && c != '\n' && c != '\r')
                c = get();
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            c = get();
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') {
        fail(std::string("the rendered page has no ") + what);
        return false;
    }
    int64_t n = 0;
    while (c >= '0' && c <= '9') {
        n = n * 10 + (c - '0');
        if (n > kPnmMaxSide) {
            fail(std::string("the rendered page's ") + what + " is too large");
            return false;
        }
        c = get();
    }
    // One whitespace byte ends the number (after maxval: the last header byte).
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') {
        fail(std::string("the rendered page's ") + what + " is not followed by white space");
        return false;
    }
    v = int(n);
    return true;
}

PnmReader::Result PnmReader::header(PnmHeader &h) {
    if (!error_.empty())
        return Result::Error;
    if (rowsLeft_ > 0)
        return fail("a new page was asked for before the last one's rows were read");
    const int p = get();
    if (p == -1)
        return Result::End;
    const int kind = p == 'P' ? get() : -3;
    if (kind != '5' && kind != '6')
        return fail("the renderer's output is not a PGM or PPM picture");
    int maxval = 0;
    if (!number(h.width, "width") || !number(h.height, "height") || !number(maxval, "maximum value"))
        return Result::Error;
    if (h.width < 1 || h.height < 1)
        return fail("the rendered page is empty");
    if (maxval != 255)
        return fail("the rendered page has " + std::to_string(maxval) + " as its largest sample, not 255");
    h.channels = kind == '5' ? 1 : 3;
    rowsLeft_ = h.height;
    rowBytes_ = size_t(h.width) * size_t(h.channels);
    return Result::Ok;
}

PnmReader::Result PnmReader::row(uint8_t *out, size_t bytes) {
    if (!error_.empty())
        return Result::Error;
    if (rowsLeft_ <= 0 || bytes != rowBytes_)
        return fail("a row was asked for outside a page or with the wrong size");
    size_t done = 0;
    while (done < bytes) {
        if (pos_ < len_) {
            const size_t n = std::min(bytes - done, len_ - pos_);
            std::memcpy(out + done, buf_ + pos_, n);
            pos_ += n;
            done += n;
            continue;
        }
        const int c = get();
        if (c < 0)
            return fail(c == -1 ? "the rendered page ends early" : error_);
        out[done++] = uint8_t(c);
    }
    --rowsLeft_;
    return Result::Ok;
}

} // namespace qx316::app
