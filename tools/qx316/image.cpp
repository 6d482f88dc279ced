#include "image.h"

#include "colour.h"

#include <png.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qx316 {

namespace {

bool checkSize(int64_t w, int64_t h, int channels, int maxWidth, std::string &err) {
    if (w < 1 || h < 1 || w > kMaxImageWidth || h > kMaxImageHeight || w * h * channels > kMaxImageSamples) {
        err = "image size " + std::to_string(w) + " x " + std::to_string(h) + " is outside 1..32767 x 1..2097152";
        return false;
    }
    if (w > maxWidth) {
        err = "image is " + std::to_string(w) + " pixels wide; this print mode takes at most " +
              std::to_string(maxWidth);
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
bool readPng(const uint8_t *data, size_t size, Image &out, std::string &err, int maxWidth) {
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
    // An embedded profile larger than the bound is skipped, not inflated.
    png_set_chunk_malloc_max(png, kMaxEmbeddedProfileBytes + 4096);
    png_read_info(png, info);
    out.iccProfile.clear();
    png_charp iccName = nullptr;
    png_bytep icc = nullptr;
    png_uint_32 iccBytes = 0;
    int iccCompression = 0;
    if (png_get_iCCP(png, info, &iccName, &iccCompression, &icc, &iccBytes) == PNG_INFO_iCCP && icc &&
        iccBytes <= kMaxEmbeddedProfileBytes)
        out.iccProfile.assign(icc, icc + iccBytes);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const int type = png_get_color_type(png, info);
    const bool colour = (type & PNG_COLOR_MASK_COLOR) != 0;
    if (!checkSize(w, h, colour ? 4 : 2, maxWidth, err)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Deflate expands at most about 1032 times: a file too small to hold its
    // pixels is refused before memory is taken for them.
    if (png_get_rowbytes(png, info) * h / 1032 > size + 1024) {
        png_destroy_read_struct(&png, &info, nullptr);
        err = "damaged PNG: the file is too small for a " + std::to_string(w) + " x " + std::to_string(h) + " image";
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
    // The file must end with its end chunk and nothing after it.
    png_read_end(png, nullptr);
    if (reader.pos != size)
        png_error(png, "bytes after the end chunk");
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

bool readPnm(const uint8_t *data, size_t size, Image &out, std::string &err, int maxWidth) {
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
    const int channels = kind == '6' ? 3 : 1;
    if (!checkSize(w, h, channels, maxWidth, err))
        return false;
    // The samples must all be there before any memory is taken for them.
    // Bytes after them (a second image, a trailing newline) are ignored.
    const size_t samples = size_t(w) * size_t(h) * size_t(channels);
    const size_t bytesPer = maxval > 255 ? 2 : 1;
    const size_t rowBytes = (size_t(w) + 7) / 8;
    const size_t need = kind == '4' ? rowBytes * size_t(h) : samples * bytesPer;
    const uint8_t *p = data + r.pos;
    const size_t left = size - r.pos;
    if (left < need) {
        err = "PNM data truncated: " + std::to_string(left) + " bytes of " + std::to_string(need);
        return false;
    }
    out.channels = channels;
    out.width = int(w);
    out.height = int(h);
    out.pixels.assign(samples, 0);
    if (kind == '4') {
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x) {
                bool black = (p[size_t(y) * rowBytes + size_t(x) / 8] >> (7 - x % 8)) & 1;
                out.pixels[size_t(y) * size_t(w) + size_t(x)] = black ? 0 : 255;
            }
        return true;
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

bool readImage(const uint8_t *data, size_t size, Image &out, std::string &err, int maxWidth) {
    out = Image{};
    static const uint8_t pngSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(data, pngSig, 8) == 0)
        return readPng(data, size, out, err, maxWidth);
    if (size >= 3 && data[0] == 'P' && (data[1] == '4' || data[1] == '5' || data[1] == '6'))
        return readPnm(data, size, out, err, maxWidth);
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
    bool tooLarge = false;
    while (!tooLarge && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        tooLarge = bytes.size() + n > kMaxInputBytes;
        if (!tooLarge)
            bytes.insert(bytes.end(), buf, buf + n);
    }
    const int readErrno = errno;
    const bool bad = !tooLarge && std::ferror(f) != 0;
    if (f != stdin)
        std::fclose(f);
    if (tooLarge) {
        err = (path == "-" ? std::string("standard input") : path) + " is larger than the " +
              std::to_string(kMaxInputBytes >> 20) + " MiB the tool reads";
        bytes.clear();
        bytes.shrink_to_fit();
        return false;
    }
    if (bad)
        err = "cannot read " + path + ": " + std::strerror(readErrno);
    return !bad;
}

bool readImageFile(const std::string &path, Image &out, std::string &err, int maxWidth) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes, err))
        return false;
    if (!readImage(bytes.data(), bytes.size(), out, err, maxWidth)) {
        err = path + ": " + err;
        return false;
    }
    return true;
}

namespace {

// Rows out through libpng's error jumps: no object with a destructor lives
// across the jump.
bool encodePng(FILE *f, int width, int height, int channels, const uint8_t *pixels,
               const volatile std::sig_atomic_t *cancel, char *msg) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, msg, pngError, pngWarning);
    if (!png) {
        std::snprintf(msg, 200, "cannot start the PNG writer");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    // Pictures for the eye: the fastest compression keeps large planes quick.
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
                 channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t rowBytes = size_t(width) * size_t(channels);
    for (int y = 0; y < height; ++y) {
        if (cancel && *cancel)
            png_error(png, "cancelled");
        png_write_row(png, pixels + size_t(y) * rowBytes);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(const std::string &path, int width, int height, int channels, const uint8_t *pixels,
              std::string &err, const volatile std::sig_atomic_t *cancel) {
    // Written beside its name and renamed when whole.
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    FILE *f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!f) {
        err = "cannot create " + path + ": " + std::strerror(errno);
        if (fd >= 0) {
            close(fd);
            std::remove(temp.c_str());
        }
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    char msg[200] = "unknown fault";
    const bool written = encodePng(f, width, height, channels, pixels, cancel, msg);
    const bool closed = std::fclose(f) == 0;
    if (written && closed && std::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    const std::string why = written ? std::string(std::strerror(errno)) : std::string(msg);
    err = why == "cancelled" ? why : "cannot write " + path + ": " + why;
    std::remove(temp.c_str());
    return false;
}

} // namespace qx316
