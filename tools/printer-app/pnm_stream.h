// Reads a stream of binary PGM (P5) and PPM (P6) pictures with 8-bit
// samples from a file descriptor, one header and one row at a time, as a
// renderer writes them page after page. Reads only what it needs, never
// more than a row is kept, and a wait for data gives up when the stop test
// says so.
#ifndef QX316_PRINTER_APP_PNM_STREAM_H
#define QX316_PRINTER_APP_PNM_STREAM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qx316::app {

struct PnmHeader {
    int width = 0;
    int height = 0;
    int channels = 0; // 1 (P5) or 3 (P6)
};

constexpr int kPnmMaxSide = 1 << 21;

class PnmReader {
public:
    enum class Result { Ok, End, Error };
    PnmReader(int fd, std::function<bool()> stop) : fd_(fd), stop_(std::move(stop)) {}

    // The next picture's header; End when the stream ends before one starts.
    Result header(PnmHeader &h);
    // The next row of the current picture: width * channels bytes.
    Result row(uint8_t *out, size_t bytes);
    const std::string &error() const { return error_; }

private:
    int get();  // next byte, -1 at the end, -2 on a failure
    bool number(int &v, const char *what);
    Result fail(const std::string &what);

    int fd_;
    std::function<bool()> stop_;
    uint8_t buf_[65536];
    size_t pos_ = 0, len_ = 0;
    bool eof_ = false;
    std::string error_;
    int rowsLeft_ = 0;
    size_t rowBytes_ = 0;
};

} // namespace qx316::app

#endif
