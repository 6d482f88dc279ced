// The qx316 front end: print options to PrintParams, the print mode the
// library chooses for them, colour separation and quantisation of a page
// into the packed input planes, and the job call sequence.
#ifndef QX316_FRONTEND_H
#define QX316_FRONTEND_H

#include "image.h"

#include "qxdro316.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx316 {

struct PrintOptions {
    int quality = 5;       // printQuality code
    int media = 0;         // mediaType code
    int head = 0;          // headCode
    int colorMode = 0;
    bool composite = false;
    bool banner = false;
    int formLength = 0;    // banner form length in raster lines; 0 = each page's height
    bool sendBlankLines = false; // deliver lines without ink too
};

PrintParams makeParams(const PrintOptions &o);

// What the library makes of a set of options, asked through its print-mode
// functions. Input plane d is output plane d.
struct ModeInfo {
    int planeMode = 0;
    int inPlanes = 0;
    int outPlanes = 0;
    int basePlane = 0;
    int bandHeight = 0;
    int bits[QXDRO_MAX_PLANES] = {};  // bits per pixel of each output plane
    int tgl[QXDRO_MAX_PLANES] = {};   // pattern type of each output plane
    uint8_t letters[QXDRO_MAX_PLANES] = {};
    int kIndex = -1;                  // input plane that carries K, -1 = none
    std::string problem;              // empty when the library accepts the options
};

ModeInfo queryMode(const PrintOptions &o);

// Largest value a quantised pixel of a plane takes.
int maxLevel(int bits, int tgl);

// Stream bits per input pixel of a plane, and bits per printed dot: pattern
// planes send one bit per dot, plain planes their pixels as they are.
int streamBitsPerPixel(int bits, int tgl);
int bitsPerDot(int bits, int tgl);

// Library result codes in words.
std::string codeWords(int code);

// A page delivered row by row: 8-bit gray (1 channel) or RGB (3).
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int channels() const = 0;
    virtual void row(int y, uint8_t *out) = 0; // width * channels bytes
};

class ImagePage : public PageSource {
public:
    explicit ImagePage(const Image &img) : img_(img) {}
    int width() const override { return img_.width; }
    int height() const override { return img_.height; }
    int channels() const override { return img_.channels; }
    void row(int y, uint8_t *out) override;

private:
    const Image &img_;
};

// Turns rows of a page into the packed lines of every input plane: ink
// separation (with under-colour removal where the mode has K), error
// diffusion to each plane's levels, packing most significant pixel first.
class Rasteriser {
public:
    Rasteriser(const ModeInfo &mode, PageSource &page);
    // Fills levels (one per pixel) and packed bytes of every input plane for
    // row y; rows must come in order from 0.
    void next(int y);
    const std::vector<uint8_t> &levels(int plane) const { return levels_[size_t(plane)]; }
    const std::vector<uint8_t> &packed(int plane) const { return packed_[size_t(plane)]; }
    bool blank() const; // no ink in any plane of the current row

private:
    const ModeInfo &mode_;
    PageSource &page_;
    int width_;
    std::vector<uint8_t> rgb_;
    std::vector<std::vector<uint8_t>> ink_, levels_, packed_;
    std::vector<std::vector<int>> err_, errNext_;
};

// Separates one pixel into the inks of the input planes (0 = none, 255 = full).
void separatePixel(const ModeInfo &mode, const uint8_t *px, int channels, uint8_t *ink);

struct JobStats {
    int pages = 0;
    uint64_t inputBytes = 0;   // packed plane bytes of every line of every page
    uint64_t outputBytes = 0;  // printer stream bytes
    int64_t linesSent = 0;
};

// Called for every packed input-plane line (sent or not) of every page.
using LineTap = std::function<void(int page, int line, int plane, const std::vector<uint8_t> &packed,
                                   const std::vector<uint8_t> &levels)>;
using Sink = std::function<bool(const uint8_t *data, size_t size)>;
using Progress = std::function<void(int page, int line, int lines)>;

// Drives one job through the library: open, bind to the model, pages, close.
class PrintJob {
public:
    PrintJob(const PrintOptions &o, Sink sink);
    ~PrintJob();
    PrintJob(const PrintJob &) = delete;
    PrintJob &operator=(const PrintJob &) = delete;

    bool begin();
    bool page(PageSource &page);
    bool end();

    const ModeInfo &mode() const { return mode_; }
    const JobStats &stats() const { return stats_; }
    const std::string &error() const { return error_; }
    int code() const { return code_; }

    LineTap tap;
    Progress progress;

private:
    bool fail(const std::string &what, int code);
    bool send(QXVSHandle listHandle);
    bool call(int rc, const char *what);

    PrintOptions opt_;
    PrintParams params_;
    ModeInfo mode_;
    Sink sink_;
    QXVSHandle job_ = nullptr;
    JobStats stats_;
    std::string error_;
    int code_ = 0;
    bool open_ = false;
};

} // namespace qx316

#endif
