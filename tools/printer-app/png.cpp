// PNG jobs, read with libpng through the qx316 tool's reader: a damaged
// file, a file that is not a PNG and a picture too large to print end the
// job with the reason; the picture is placed on the page by PAPPL's image
// code, as PAPPL's own PNG filter does.
#include "app.h"
#include "image.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace qx316::app {

namespace {

constexpr off_t kMaxPngFile = off_t(128) << 20;
constexpr int64_t kMaxPngPixels = 40000000; // an A4 page at 600 dpi and a little more

uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The picture's size from its header chunk, and its resolution in pixels
// per inch from a pHYs chunk before the image data (0 when it has none or
// when it is not square). False when the file does not start as a PNG.
bool pngShape(const std::vector<uint8_t> &d, uint32_t &w, uint32_t &h, int &ppi) {
    static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (d.size() < 33 || !std::equal(sig, sig + 8, d.begin()) || std::string(d.begin() + 12, d.begin() + 16) != "IHDR")
        return false;
    w = be32(&d[16]);
    h = be32(&d[20]);
    ppi = 0;
    for (size_t pos = 8; pos + 12 <= d.size();) {
        const uint32_t len = be32(&d[pos]);
        const std::string type(d.begin() + long(pos) + 4, d.begin() + long(pos) + 8);
        if (type == "IDAT" || len > d.size() - pos - 12)
            break;
        if (type == "pHYs" && len == 9 && d[pos + 16] == 1) {
            const uint32_t x = be32(&d[pos + 8]), y = be32(&d[pos + 12]);
            if (x == y)
                ppi = int(x * 0.0254 + 0.5);
        }
        pos += 12 + len;
    }
    return true;
}

} // namespace

bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    return printClaimed(job, [&] {
        auto fail = [job](const std::string &why) {
            papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
            papplJobSetMessage(job, "%s", why.c_str());
            papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
            return false;
        };
        bool ok = false;
        const char *name = papplJobGetFilename(job);
        struct stat st;
        std::vector<uint8_t> bytes;
        std::string err;
        uint32_t w = 0, h = 0;
        int ppi = 0;
        Image image;
        if (!name || ::stat(name, &st) != 0)
            fail("the job's file is gone");
        else if (st.st_size > kMaxPngFile)
            fail("the PNG file is larger than 128 MiB");
        else if (!readFileBytes(name, bytes, err))
            fail(err);
        else if (!pngShape(bytes, w, h, ppi))
            fail("the document is not a PNG file");
        else if (int64_t(w) * int64_t(h) > kMaxPngPixels)
            fail("the PNG picture has " + std::to_string(w) + " x " + std::to_string(h) +
                 " pixels; at most 40 million print");
        else if (!readImage(bytes.data(), bytes.size(), image, err))
            fail(err);
        else {
            bytes = std::vector<uint8_t>();
            // The picture's own ICC profile, if it has one, for the colour transform.
            setDocumentProfile(job, std::move(image.iccProfile));
            pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, image.channels == 3);
            ok = options && papplJobFilterImage(job, device, options, image.pixels.data(), image.width, image.height,
                                                image.channels, ppi, false);
            if (options)
                papplJobDeletePrintOptions(options);
            setDocumentProfile(job, {});
        }
        return ok;
    });
}

} // namespace qx316::app
