#include "image.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qx316 {

namespace {

bool checkSize(int64_t w, int64_t h, int channels, std::string &err) {
    if (w < 1 || h < 1 || w > kMaxImageWidth || h > kMaxImageHeight || w * h * channels > kMaxImageSamples) {
        err = "image size " + std::to_string(w) + " x " + std::to_string(h) + " is outside 1..32767 x 1..2097152";
        return false;
    }
    return true;
}

bool readPng(const uint8_t *data, size_t size, Image &out, std::string &err) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, data, size)) {
        err = std::string("damaged PNG: ") + img.message;
        return false;
    }
    const bool colour = (img.format & PNG_FORMAT_FLAG_COLOR) != 0;
    img.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    out.channels = colour ? 3 : 1;
    if (!checkSize(img.width, img.height, out.channels, err)) {
        png_image_free(&img);
        return false;
    }
    out.width = int(img.width);
    out.height = int(img.height);
    out.pixels.assign(size_t(out.width) * size_t(out.height) * size_t(out.channels), 0);
    // Transparent pixels fall on white paper.
    png_color white = {255, 255, 255};
    if (!png_image_finish_read(&img, &white, out.pixels.data(), 0, nullptr)) {
        err = std::string("damaged PNG: ") + img.message;
        png_image_free(&img);
        return false;
    }
    return true;
}

// PNM header reader: magic, then width, height and (except P4) maxval,
// separated by white space and # comments.
struct PnmReader {
    const uint8_t *d;
    size_t size;
    size_t pos = 2;

    bool number(int64_t &v) {
        for (;;) {
            while (pos < size && (d[pos] == ' ' || d[pos] == '\t' || d[pos] == '\n' || d[pos] == '\r'))
                ++pos;
            if (pos < size && d[pos] == '#') {
                while (pos < size && d[pos] != '\n')
                    ++pos;
                continue;
            }
            break;
        }
        if (pos >= size || d[pos] < '0' || d[pos] > '9')
            return false;
        v = 0;
        while (pos < size && d[pos] >= '0' && d[pos] <= '9') {
            v = v * 10 + (d[pos] - '0');
            if (v > (int64_t(1) << 31))
                return false;
            ++pos;
        }
        return true;
    }
};

bool readPnm(const uint8_t *data, size_t size, Image &out, std::string &err) {
    const char kind = char(data[1]);
    PnmReader r{data, size};
    int64_t w = 0, h = 0, maxval = 1;
    if (!r.number(w) || !r.number(h) || (kind != '4' && !r.number(maxval))) {
        err = "damaged PNM header";
        return false;
    }
    if (maxval < 1 || maxval > 65535) {
        err = "PNM maximum value " + std::to_string(maxval) + " is outside 1..65535";
        return false;
    }
    // Exactly one white-space byte separates the header from the samples.
    if (r.pos >= size) {
        err = "PNM data missing";
        return false;
    }
    ++r.pos;
    out.channels = kind == '6' ? 3 : 1;
    if (!checkSize(w, h, out.channels, err))
        return false;
    out.width = int(w);
    out.height = int(h);
    const size_t samples = size_t(w) * size_t(h) * size_t(out.channels);
    const uint8_t *p = data + r.pos;
    const size_t left = size - r.pos;
    out.pixels.assign(samples, 0);
    if (kind == '4') {
        const size_t rowBytes = (size_t(w) + 7) / 8;
        if (left < rowBytes * size_t(h)) {
            err = "PNM data truncated";
            return false;
        }
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x) {
                bool black = (p[size_t(y) * rowBytes + size_t(x) / 8] >> (7 - x % 8)) & 1;
                out.pixels[size_t(y) * size_t(w) + size_t(x)] = black ? 0 : 255;
            }
        return true;
    }
    const size_t bytesPer = maxval > 255 ? 2 : 1;
    if (left / bytesPer < samples) {
        err = "PNM data truncated";
        return false;
    }
    for (size_t i = 0; i < samples; ++i) {
        uint32_t v = bytesPer == 2 ? uint32_t(p[2 * i] << 8 | p[2 * i + 1]) : p[i];
        if (v > maxval)
            v = uint32_t(maxval);
        out.pixels[i] = uint8_t((v * 255 + uint32_t(maxval) / 2) / uint32_t(maxval));
    }
    return true;
}

} // namespace

bool readImage(const uint8_t *data, size_t size, Image &out, std::string &err) {
    out = Image{};
    static const uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(data, pngSig, 8) == 0)
        return readPng(data, size, out, err);
    if (size >= 3 && data[0] == 'P' && (data[1] == '4' || data[1] == '5' || data[1] == '6'))
        return readPnm(data, size, out, err);
    err = "not a PNG or PNM (P4, P5, P6) image";
    return false;
}

bool readImageFile(const std::string &path, Image &out, std::string &err) {
    FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        err = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    bool bad = std::ferror(f) != 0;
    if (f != stdin)
        std::fclose(f);
    if (bad) {
        err = "cannot read " + path;
        return false;
    }
    if (!readImage(bytes.data(), bytes.size(), out, err)) {
        err = path + ": " + err;
        return false;
    }
    return true;
}

bool writePng(const std::string &path, int width, int height, int channels, const uint8_t *pixels,
              std::string &err) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = png_uint_32(width);
    img.height = png_uint_32(height);
    img.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&img, path.c_str(), 0, pixels, 0, nullptr)) {
        err = "cannot write " + path + ": " + img.message;
        png_image_free(&img);
        return false;
    }
    return true;
}

} // namespace qx316
