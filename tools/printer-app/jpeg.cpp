// JPEG jobs, read with libjpeg: gray pictures print as gray, YCbCr and RGB
// ones as RGB, CMYK and YCCK ones are turned into RGB (Adobe's inverted
// samples too); the picture's own ICC profile goes to the colour transform
// as a PNG's does. A damaged file, a file that ends early, a file that is
// not a JPEG and a picture too large to print end the job with the reason;
// the picture is placed on the page by PAPPL's image code.
#include "app.h"
#include "colour.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace qx316::app {

namespace {

// A progressive file is decoded scan by scan: encoders write about ten, a
// hostile file could hold thousands of tiny ones, each a pass over the
// whole picture.
constexpr int kMaxScans = 500;

// libjpeg's error manager: an error jumps back to decodeJpeg() with its
// message; warnings (damaged data libjpeg works around) are counted and
// the first kept. The end of the file before the picture's is an error:
// libjpeg would fill the rest with gray, which is not the picture, and a
// large picture would take long to fill.
struct JpegErrors {
    jpeg_error_mgr mgr; // first: libjpeg's pointer to it is a pointer to this
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char warning[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegError(j_common_ptr cinfo) {
    auto *e = reinterpret_cast<JpegErrors *>(cinfo->err);
    e->mgr.format_message(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

void jpegMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) // trace messages
        return;
    auto *e = reinterpret_cast<JpegErrors *>(cinfo->err);
    if (e->mgr.msg_code == JWRN_JPEG_EOF) {
        std::snprintf(e->message, sizeof e->message, "the file ends before the picture does");
        std::longjmp(e->jump, 1);
    }
    if (e->mgr.num_warnings++ == 0)
        e->mgr.format_message(cinfo, e->warning);
}

void jpegProgress(j_common_ptr cinfo) {
    auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto *e = reinterpret_cast<JpegErrors *>(cinfo->err);
        std::snprintf(e->message, sizeof e->message, "more than %d scans", kMaxScans);
        std::longjmp(e->jump, 1);
    }
}

// A decoded picture; its buffers are malloc'd (the ICC profile by libjpeg).
struct JpegPicture {
    int width = 0;
    int height = 0;
    int channels = 0; // 1 gray, 3 RGB
    int ppi = 0;      // from a JFIF header with square pixels, else 0
    bool cmyk = false;
    unsigned warnings = 0;
    char warning[JMSG_LENGTH_MAX] = {};
    char why[JMSG_LENGTH_MAX + 64] = {};
    uint8_t *pixels = nullptr; // width * height * channels
    uint8_t *cmykRow = nullptr;
    JOCTET *icc = nullptr;
    unsigned iccBytes = 0;

    JpegPicture() = default;
    JpegPicture(const JpegPicture &) = delete;
    JpegPicture &operator=(const JpegPicture &) = delete;
    ~JpegPicture() {
        std::free(pixels);
        std::free(cmykRow);
        std::free(icc);
    }
};

enum class Decoded { Ok, Failed, TooManyPixels };

uint8_t times255(unsigned a, unsigned b) { return uint8_t((a * b + 127) / 255); }

// One row of CMYK samples to RGB, simply: each ink takes its share of the
// light its key leaves. Adobe's files store 255 - ink.
void cmykToRgb(const uint8_t *cmyk, uint8_t *rgb, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned c = inverted ? cmyk[0] : 255u - cmyk[0], m = inverted ? cmyk[1] : 255u - cmyk[1],
                       y = inverted ? cmyk[2] : 255u - cmyk[2], k = inverted ? cmyk[3] : 255u - cmyk[3];
        rgb[0] = times255(c, k);
        rgb[1] = times255(m, k);
        rgb[2] = times255(y, k);
    }
}

// Decodes size bytes of a JPEG into pic. Failed: pic.why says why;
// TooManyPixels: pic.width x pic.height is more than kMaxPicturePixels, and
// nothing was decoded. Everything that lives across the setjmp frame is
// plain data: pic's buffers are freed by its owner.
Decoded decodeJpeg(const uint8_t *data, size_t size, JpegPicture &pic) {
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    std::memset(&errors, 0, sizeof errors);
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = jpegError;
    errors.mgr.emit_message = jpegMessage;
    jpeg_progress_mgr progress;
    std::memset(&progress, 0, sizeof progress);
    progress.progress_monitor = jpegProgress;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(pic.why, sizeof pic.why, "damaged JPEG: %s", errors.message);
        return Decoded::Failed;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    pic.width = int(cinfo.image_width);
    pic.height = int(cinfo.image_height);
    if (int64_t(cinfo.image_width) * cinfo.image_height > kMaxPicturePixels) {
        jpeg_destroy_decompress(&cinfo);
        return Decoded::TooManyPixels;
    }
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        pic.channels = 1;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo.out_color_space = JCS_RGB;
        pic.channels = 3;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        pic.channels = 3;
        pic.cmyk = true;
        break;
    default:
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(pic.why, sizeof pic.why, "the JPEG picture's %d colour components are not gray, RGB or CMYK",
                      cinfo.num_components);
        return Decoded::Failed;
    }
    jpeg_read_icc_profile(&cinfo, &pic.icc, &pic.iccBytes);
    if (cinfo.saw_JFIF_marker && cinfo.X_density == cinfo.Y_density) {
        if (cinfo.density_unit == 1)
            pic.ppi = cinfo.X_density;
        else if (cinfo.density_unit == 2)
            pic.ppi = int(cinfo.X_density * 2.54 + 0.5);
    }
    jpeg_start_decompress(&cinfo);
    const size_t rowBytes = size_t(cinfo.output_width) * size_t(pic.channels);
    pic.width = int(cinfo.output_width);
    pic.height = int(cinfo.output_height);
    pic.pixels = static_cast<uint8_t *>(std::malloc(rowBytes * cinfo.output_height));
    if (pic.cmyk)
        pic.cmykRow = static_cast<uint8_t *>(std::malloc(size_t(cinfo.output_width) * 4));
    if (!pic.pixels || (pic.cmyk && !pic.cmykRow)) {
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(pic.why, sizeof pic.why, "no memory for a %d x %d picture", pic.width, pic.height);
        return Decoded::Failed;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t *row = pic.pixels + rowBytes * cinfo.output_scanline;
        JSAMPROW target = pic.cmyk ? pic.cmykRow : row;
        // The memory source never suspends: no row means libjpeg is stuck.
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
            jpeg_destroy_decompress(&cinfo);
            std::snprintf(pic.why, sizeof pic.why, "damaged JPEG: no picture data from row %d",
                          int(cinfo.output_scanline));
            return Decoded::Failed;
        }
        if (pic.cmyk)
            cmykToRgb(pic.cmykRow, row, cinfo.output_width, cinfo.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    pic.warnings = unsigned(errors.mgr.num_warnings);
    std::memcpy(pic.warning, errors.warning, sizeof pic.warning);
    return Decoded::Ok;
}

} // namespace

bool jpegFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    return printClaimed(job, [&] {
        std::vector<uint8_t> bytes;
        if (!readPictureFile(job, "JPEG", bytes))
            return false;
        if (bytes.size() < 3 || bytes[0] != 0xff || bytes[1] != 0xd8 || bytes[2] != 0xff)
            return failDocument(job, "the document is not a JPEG file");
        JpegPicture pic;
        switch (decodeJpeg(bytes.data(), bytes.size(), pic)) {
        case Decoded::Failed:
            return failDocument(job, pic.why);
        case Decoded::TooManyPixels:
            return picturePixelsFit(job, "JPEG", pic.width, pic.height);
        case Decoded::Ok:
            break;
        }
        bytes = std::vector<uint8_t>();
        if (pic.warnings)
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Damaged JPEG data, printed as libjpeg recovers it (%u warnings): %s",
                        pic.warnings, pic.warning);
        // The picture's own ICC profile, if it has one, for the colour transform.
        std::vector<uint8_t> profile;
        if (pic.icc && pic.cmyk)
            papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                        "The CMYK picture's own ICC profile is left out: its colours are turned into RGB simply");
        else if (pic.icc && pic.iccBytes > kMaxEmbeddedProfileBytes)
            papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                        "The picture's own ICC profile (%u bytes) is larger than %u MiB; it is left out",
                        pic.iccBytes, unsigned(kMaxEmbeddedProfileBytes >> 20));
        else if (pic.icc)
            profile.assign(pic.icc, pic.icc + pic.iccBytes);
        return printPicture(job, device, pic.pixels, pic.width, pic.height, pic.channels, pic.ppi,
                            std::move(profile));
    });
}

} // namespace qx316::app
