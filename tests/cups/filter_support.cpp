#include "filter_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qxtest {

bool isAsan() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

int spaceColors(cups_cspace_t cs) {
    switch (cs) {
    case CUPS_CSPACE_RGB: case CUPS_CSPACE_SRGB: case CUPS_CSPACE_ADOBERGB:
    case CUPS_CSPACE_CMY: case CUPS_CSPACE_YMC: return 3;
    case CUPS_CSPACE_CMYK: case CUPS_CSPACE_KCMY: case CUPS_CSPACE_YMCK: case CUPS_CSPACE_RGBA: return 4;
    default: return 1;
    }
}

cups_page_header2_t pageHeader(cups_cspace_t cs, int bpc, cups_order_t order, int width, int height) {
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    const int colors = spaceColors(cs);
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.NumCopies = 1;
    h.cupsWidth = unsigned(width);
    h.cupsHeight = unsigned(height);
    h.cupsBitsPerColor = unsigned(bpc);
    h.cupsColorSpace = cs;
    h.cupsColorOrder = order;
    h.cupsNumColors = unsigned(colors);
    const int padded = (colors == 3 && bpc < 8) ? 4 : colors;
    h.cupsBitsPerPixel = unsigned(order == CUPS_ORDER_CHUNKED ? bpc * padded : bpc);
    const unsigned band = unsigned((width * bpc + 7) / 8);
    h.cupsBytesPerLine = order == CUPS_ORDER_CHUNKED ? unsigned((width * int(h.cupsBitsPerPixel) + 7) / 8)
                         : order == CUPS_ORDER_BANDED ? band * unsigned(colors)
                                                      : band;
    return h;
}

namespace {

void putSample(uint8_t *line, size_t bitPos, int bpc, unsigned v) {
    if (bpc == 16) {
        const uint16_t s = uint16_t(v);
        std::memcpy(line + bitPos / 8, &s, 2);
    } else if (bpc == 8) {
        line[bitPos / 8] = uint8_t(v);
    } else if (v & 1) {
        line[bitPos / 8] |= uint8_t(0x80 >> (bitPos % 8));
    }
}

} // namespace

std::vector<uint8_t> pageBytes(const cups_page_header2_t &h, const Sampler &s) {
    const int colors = spaceColors(cups_cspace_t(h.cupsColorSpace));
    const int w = int(h.cupsWidth), hh = int(h.cupsHeight), bpc = int(h.cupsBitsPerColor);
    const size_t bpl = h.cupsBytesPerLine;
    const size_t lines = size_t(hh) * (h.cupsColorOrder == CUPS_ORDER_PLANAR ? size_t(colors) : 1);
    std::vector<uint8_t> out(bpl * lines, 0);
    const size_t band = size_t((w * bpc + 7) / 8);
    for (int y = 0; y < hh; ++y)
        for (int c = 0; c < colors; ++c)
            for (int x = 0; x < w; ++x) {
                const unsigned v = s(c, x, y);
                switch (h.cupsColorOrder) {
                case CUPS_ORDER_CHUNKED: {
                    const size_t bpp = h.cupsBitsPerPixel;
                    putSample(out.data() + size_t(y) * bpl, size_t(x) * bpp + (bpp - size_t(colors * bpc)) +
                                                                size_t(c * bpc), bpc, v);
                    break;
                }
                case CUPS_ORDER_BANDED:
                    putSample(out.data() + size_t(y) * bpl + size_t(c) * band, size_t(x * bpc), bpc, v);
                    break;
                default:
                    putSample(out.data() + (size_t(c) * size_t(hh) + size_t(y)) * bpl, size_t(x * bpc), bpc, v);
                }
            }
    return out;
}

namespace {

std::string tempPath() {
    char name[] = "/tmp/qx316_filter_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        std::abort();
    close(fd);
    return name;
}

std::vector<uint8_t> readAll(const std::string &path) {
    std::vector<uint8_t> v;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return v;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

} // namespace

std::string writeRaster(const std::vector<RasterPage> &pages, cups_mode_t mode) {
    const std::string path = tempPath();
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    cups_raster_t *r = cupsRasterOpen(fd, mode);
    for (const RasterPage &p : pages) {
        cups_page_header2_t h = p.header;
        cupsRasterWriteHeader2(r, &h);
        if (mode == CUPS_RASTER_WRITE) {
            // Uncompressed streams take the bytes as they are, valid or not.
            if (!p.bytes.empty() && write(fd, p.bytes.data(), p.bytes.size()) != ssize_t(p.bytes.size()))
                std::abort();
        } else if (!p.bytes.empty()) {
            cupsRasterWritePixels(r, const_cast<uint8_t *>(p.bytes.data()), unsigned(p.bytes.size()));
        }
    }
    cupsRasterClose(r);
    close(fd);
    return path;
}

std::string writeBytes(const std::vector<uint8_t> &bytes) {
    const std::string path = tempPath();
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

int FilterResult::count(const std::string &prefix) const {
    int n = 0;
    for (const std::string &m : messages)
        n += m.rfind(prefix, 0) == 0;
    return n;
}

std::string FilterResult::first(const std::string &prefix) const {
    for (const std::string &m : messages)
        if (m.rfind(prefix, 0) == 0)
            return m;
    return {};
}

FilterResult runFilterArgs(const std::vector<std::string> &args, const std::string &input) {
    const std::string outPath = tempPath(), errPath = tempPath();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!isAsan()) {
            const rlimit as{rlim_t(512) << 20, rlim_t(512) << 20};
            setrlimit(RLIMIT_AS, &as);
        }
        alarm(60);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(QX_FILTER_PATH));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(QX_FILTER_PATH, argv.data());
        _exit(127);
    }
    FilterResult r;
    int st = 0;
    rusage ru{};
    wait4(pid, &st, 0, &ru);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.maxRssKiB = ru.ru_maxrss;
    r.exited = WIFEXITED(st);
    r.status = r.exited ? WEXITSTATUS(st) : -1;
    r.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    r.out = readAll(outPath);
    const std::vector<uint8_t> err = readAll(errPath);
    std::string line;
    for (uint8_t c : err) {
        if (c == '\n') {
            r.messages.push_back(line);
            line.clear();
        } else {
            line += char(c);
        }
    }
    if (!line.empty())
        r.messages.push_back(line);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

FilterResult runFilterProgram(const std::string &input, const std::string &options, bool asFile) {
    std::vector<std::string> args{"1", "user", "title", "1", options};
    if (asFile)
        args.push_back(input);
    return runFilterArgs(args, asFile ? std::string() : input);
}

std::vector<uint8_t> decodedLine(const qx316::DecodedPage &p, uint8_t letter, int64_t line, size_t bytes) {
    std::vector<uint8_t> v(bytes, 0);
    const qx316::DecodedPlane *pl = p.plane(letter);
    if (!pl)
        return v;
    const auto it = pl->rows.find(line);
    if (it == pl->rows.end())
        return v;
    // Bytes past the expected length stay in, unless blank: ink outside the
    // page shows up as a mismatch.
    v = it->second;
    while (v.size() > bytes && v.back() == 0)
        v.pop_back();
    if (v.size() < bytes)
        v.resize(bytes, 0);
    return v;
}

} // namespace qxtest
