// PNG jobs, read with libpng through the qx316 tool's reader: a damaged
// file, a file that is not a PNG and a picture too large to print end the
// job with the reason; the picture is placed on the page by PAPPL's image
// code, as PAPPL's own PNG filter does.
#include "app.h"
#include "image.h"

#include <cstdint>
#include <string>

namespace qx316::app {

namespace {

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
        std::vector<uint8_t> bytes;
        std::string err;
        uint32_t w = 0, h = 0;
        int ppi = 0;
        Image image;
        if (!readPictureFile(job, "PNG", bytes))
            return false;
        if (!pngShape(bytes, w, h, ppi))
            return failDocument(job, "the document is not a PNG file");
        if (!picturePixelsFit(job, "PNG", w, h))
            return false;
        if (!readImage(bytes.data(), bytes.size(), image, err))
            return failDocument(job, err);
        bytes = std::vector<uint8_t>();
        // The picture's own ICC profile, if it has one, for the colour transform.
        return printPicture(job, device, image.pixels.data(), image.width, image.height, image.channels, ppi,
                            std::move(image.iccProfile));
    });
}

} // namespace qx316::app
