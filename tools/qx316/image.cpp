#include "image.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

struct MemoryReader {
    const uint8_t *data;
    size_t size;
    size_t pos;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t n) {
    MemoryReader *r = static_cast<MemoryReader *>(png_get_io_ptr(png));
    if (r->size - r->pos < n)
        png_error(png, "file truncated");
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

void pngError(png_structp png, png_const_charp msg) {
    std::snprintf(static_cast<char *>(png_get_error_ptr(png)), 200, "%s", msg);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Decodes with libpng's error jumps; no object with a destructor lives
// across the jump, so the samples go to a plain buffer first.
bool readPng(const uint8_t *data, size_t size, Image &out, std::string &err) {
    char msg[200] = "unknown fault";
    MemoryReader reader{data, size, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, msg, pngError, pngWarning);
    if (!png) {
        err = "cannot start the PNG reader";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    uint8_t *volatile samples = nullptr;
    png_bytep *volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(samples);
        std::free(rows);
        err = std::string("damaged PNG: ") + msg;
        return false;
    }
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const int type = png_get_color_type(png, info);
    const bool colour = (type & PNG_COLOR_MASK_COLOR) != 0;
    if (!checkSize(w, h, colour ? 4 : 2, err)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Everything to 8-bit gray or RGB, with an alpha channel where the file has one.
    png_set_scale_16(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_tRNS_to_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int ch = png_get_channels(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    samples = static_cast<uint8_t *>(std::malloc(rowBytes * h));
    rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * h));
    if (!samples || !rows)
        png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = samples + size_t(y) * rowBytes;
    png_read_image(png, rows);
    png_destroy_read_struct(&png, &info, nullptr);

    out.width = int(w);
    out.height = int(h);
    out.channels = colour ? 3 : 1;
    out.pixels.resize(size_t(w) * h * size_t(out.channels));
    const bool alpha = ch == 2 || ch == 4;
    for (png_uint_32 y = 0; y < h; ++y)
        for (png_uint_32 x = 0; x < w; ++x) {
            const uint8_t *in = samples + size_t(y) * rowBytes + size_t(x) * size_t(ch);
            uint8_t *o = out.pixels.data() + (size_t(y) * w + x) * size_t(out.channels);
            const int a = alpha ? in[ch - 1] : 255;
            // Transparent pixels fall on white paper.
            for (int c = 0; c < out.channels; ++c)
                o[c] = uint8_t((in[c] * a + 255 * (255 - a) + 127) / 255);
        }
    std::free(samples);
    std::free(rows);
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

bool readFileBytes(const std::string &path, std::vector<uint8_t> &bytes, std::string &err) {
    FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        err = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    const bool bad = std::ferror(f) != 0;
    if (f != stdin)
        std::fclose(f);
    if (bad)
        err = "cannot read " + path;
    return !bad;
}

bool readImageFile(const std::string &path, Image &out, std::string &err) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, err))
        return false;
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
