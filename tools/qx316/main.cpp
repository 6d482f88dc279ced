// qx316: print pages through the library, decode a printer stream into
// pictures, or list its commands.
#include "colour.h"
#include "device.h"
#include "image.h"
#include "job.h"
#include "preview.h"
#include "qx316_stream.h"
#include "qxdro316.h"
#include "testpage.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gCancelled = 0;

void onSignal(int) { gCancelled = 1; }

struct Tool {
    std::string command;
    qx316::PrintOptions opt;
    bool modeGiven = false;   // decode: print options were given
    int dpi = qx316::kDpi;
    bool quiet = false;
    bool allPages = false;    // decode: pictures of every page, not only the first 50
    bool progress = false;    // stderr is a terminal and not quiet
    std::string out;
    std::string planesDir;
    std::string iccProfile;   // print: the ink profile file; "none" = the kit's own separation
    qx316::Intent intent = qx316::Intent::Auto;
    std::vector<std::string> inputs;
};

void error(const std::string &what) { std::fprintf(stderr, "ERROR: %s\n", what.c_str()); }

void usage(FILE *f) {
    std::fputs("usage: qx316 print [options] [PAGE ...] -o OUT.prn   (PAGE: PNG, PNM or - for stdin)\n"
               "       qx316 decode IN.prn -o PREVIEW.png [--planes DIR] [print options]\n"
               "       qx316 dump IN.prn\n"
               "       qx316 --version\n"
               "print options (a choice's keyword or its code):\n",
               f);
    for (const qx316::OptionInfo &o : qx316::optionTable()) {
        std::string line = std::string("  --") + o.cliName;
        if (o.choices.empty()) {
            line += " N";
        } else {
            line += " ";
            for (size_t i = 0; i < o.choices.size(); ++i)
                line += (i ? "|" : "") + std::string(o.choices[i].keyword);
        }
        if (o.flag)
            line += std::string("  (or --") + o.flag + ")";
        std::fprintf(f, "%-58s %s\n", line.c_str(), o.name);
    }
    std::string intents;
    for (const qx316::IntentInfo &i : qx316::intentTable())
        intents += (intents.empty() ? "" : "|") + std::string(i.keyword);
    std::fprintf(f, "colour:\n  --icc-profile FILE|none%35s Ink profile (default: the built-in ink model's)\n"
                    "  --intent %-49s Rendering intent\n",
                 "", intents.c_str());
    std::fputs("other options: --dpi N (built-in test page, default 600)  --send-blank  --quiet\n"
               "See docs/qx316.md.\n",
               f);
}

bool parseInt(const char *s, int lo, int hi, int &v) {
    char *end = nullptr;
    errno = 0;
    long x = std::strtol(s, &end, 10);
    if (errno || !end || *end || end == s || x < lo || x > hi)
        return false;
    v = int(x);
    return true;
}

bool parseArgs(Tool &t, int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return false;
    }
    t.command = argv[1];
    if (t.command == "-h" || t.command == "--help") {
        usage(stdout);
        std::exit(0);
    }
    if (t.command == "--version") {
        std::printf("qx316 %s (library %s)\n", QX316_VERSION, QXOUTPUTversion);
        std::exit(0);
    }
    if (t.command != "print" && t.command != "decode" && t.command != "dump") {
        error("unknown command " + t.command);
        usage(stderr);
        return false;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        bool done = false;
        for (const qx316::OptionInfo &o : qx316::optionTable()) {
            // A flag that shares its option's name takes a choice when one follows.
            const bool choiceFollows = i + 1 < argc && qx316::findChoice(o.id, argv[i + 1]);
            if (o.flag && a == std::string("--") + o.flag && !(o.flag == std::string(o.cliName) && choiceFollows)) {
                qx316::setOptionCode(t.opt, o.id, 1);
            } else if (a == std::string("--") + o.cliName) {
                std::string err;
                if (i + 1 >= argc || !qx316::setOption(t.opt, o.id, argv[i + 1], err)) {
                    error(i + 1 >= argc ? a + " needs a value" : err);
                    return false;
                }
                ++i;
            } else {
                continue;
            }
            t.modeGiven = true;
            done = true;
            break;
        }
        if (done)
            continue;
        if (a == "--dpi") {
            if (i + 1 >= argc || !parseInt(argv[i + 1], 36, qx316::kDpi, t.dpi)) {
                error("--dpi needs a number from 36 to 600");
                return false;
            }
            ++i;
            continue;
        }
        if (a == "--intent") {
            if (i + 1 >= argc || !qx316::findIntent(argv[i + 1], t.intent)) {
                std::string all;
                for (const qx316::IntentInfo &in : qx316::intentTable())
                    all += std::string(" ") + in.keyword;
                error("--intent needs one of:" + all);
                return false;
            }
            ++i;
            continue;
        }
        if (a == "--icc-profile") {
            if (i + 1 >= argc) {
                error("--icc-profile needs a file (or none)");
                return false;
            }
            t.iccProfile = argv[++i];
            continue;
        }
        if (a == "--all-pages") {
            t.allPages = true;
        } else if (a == "--send-blank") {
            t.opt.sendBlankLines = true;
        } else if (a == "--quiet" || a == "-q") {
            t.quiet = true;
        } else if (a == "-o" || a == "--planes") {
            if (i + 1 >= argc) {
                error(a + " needs a path");
                return false;
            }
            (a == "-o" ? t.out : t.planesDir) = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            error("unknown option " + a);
            return false;
        } else {
            t.inputs.push_back(a);
        }
    }
    t.progress = !t.quiet && isatty(2);
    return true;
}

// Where a job's output goes. A regular file (or a symbolic link to one, or a
// new name) is written beside its final name and renamed over it when
// complete, so a failed job leaves nothing behind and a reader never sees
// half a stream. Anything else that exists (a FIFO, a device such as a
// printer port, a terminal) is written in place: replacing it by a file
// would send nothing to the printer.
struct OutFile {
    std::string path;   // the name written, symbolic links resolved
    std::string temp;   // the temporary beside it; empty when written in place
    FILE *f = nullptr;

    bool open(const std::string &p) {
        path = p;
        if (p == "-") {
            f = stdout;
            return true;
        }
        struct stat st;
        if (stat(p.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                error("cannot write " + p + ": " + std::strerror(EISDIR));
                return false;
            }
            if (!S_ISREG(st.st_mode)) {
                if (!(f = std::fopen(p.c_str(), "wb"))) {
                    error("cannot write " + p + ": " + std::strerror(errno));
                    return false;
                }
                return true;
            }
            // The link's target is the file to replace, in its own folder.
            if (char *real = realpath(p.c_str(), nullptr)) {
                path = real;
                std::free(real);
            }
            // A file the job may not write is reported as such, before a
            // temporary file is made beside it.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) {
                error("cannot write " + p + ": " + std::strerror(errno));
                return false;
            }
            ::close(fd);
        }
        temp = path + ".XXXXXX";
        const int fd = mkstemp(temp.data());
        if (fd >= 0) {
            // mkstemp makes the file private; give it the mode a plain create would.
            const mode_t mask = umask(0);
            umask(mask);
            fchmod(fd, 0666 & ~mask);
        }
        if (fd < 0 || !(f = fdopen(fd, "wb"))) {
            const int why = errno;
            const size_t slash = path.rfind('/');
            const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
            struct stat ds;
            // A folder that exists but answers "no such file" to a new name
            // (a kernel's pseudo file system) takes no new files.
            if (why == ENOENT && stat(dir.c_str(), &ds) == 0 && S_ISDIR(ds.st_mode))
                error("cannot write " + p + ": the folder " + dir + " takes no new files");
            else
                error("cannot write " + p + ": " + std::strerror(why) + " (making a file in " + dir + ")");
            if (fd >= 0) {
                ::close(fd);
                std::remove(temp.c_str());
            }
            temp.clear();
            return false;
        }
        return true;
    }
    bool commit() {
        if (f == stdout)
            return std::fflush(stdout) == 0;
        bool ok = std::fclose(f) == 0;
        const int closeErrno = errno;
        f = nullptr;
        if (temp.empty()) {
            if (!ok)
                error("cannot write " + path + ": " + std::strerror(closeErrno));
            return ok;
        }
        if (ok && std::rename(temp.c_str(), path.c_str()) == 0)
            return true;
        error("cannot write " + path + ": " + std::strerror(ok ? errno : closeErrno));
        std::remove(temp.c_str());
        return false;
    }
    ~OutFile() {
        if (f && f != stdout) {
            std::fclose(f);
            if (!temp.empty())
                std::remove(temp.c_str());
        }
    }
};

int runPrint(Tool &t) {
    if (t.out.empty()) {
        error("print needs -o OUT.prn (or -o - for standard output)");
        return 1;
    }
    if (t.out == "-" && isatty(1)) {
        error("refusing to write a printer stream to a terminal");
        return 1;
    }
    // Read every page first: a bad file must not leave a half-written job.
    // A page wider than the print mode takes is refused before it is decoded.
    const qx316::ModeInfo mode = qx316::queryMode(t.opt);
    const int maxWidth = mode.problem.empty() ? mode.maxWidth : qx316::kMaxImageWidth;
    std::vector<qx316::Image> images(t.inputs.size());
    for (size_t i = 0; i < t.inputs.size(); ++i) {
        std::string err;
        if (!qx316::readImageFile(t.inputs[i], images[i], err, maxWidth)) {
            error(err);
            return 1;
        }
    }
    // The colour transform: sRGB (or a page's embedded profile) to the ink
    // profile. A bad ink profile stops the job; a bad embedded profile is
    // reported and the page printed as sRGB.
    qx316::ColourSettings colour;
    colour.intent = t.intent;
    const bool managed = t.iccProfile != "none";
    if (managed && !t.iccProfile.empty()) {
        std::string err;
        if (!qx316::readProfileFile(t.iccProfile, colour.inkProfile, err)) {
            error(err);
            return 1;
        }
        colour.inkProfileName = t.iccProfile;
    }
    std::shared_ptr<const qx316::InkConverter> plain;
    if (managed && mode.problem.empty()) {
        std::string err;
        plain = qx316::makeInkConverter(colour, mode, t.opt.media, err);
        if (!err.empty()) {
            error(err);
            return 1;
        }
    }
    const auto converterFor = [&](const qx316::Image &img, const std::string &name) {
        if (!plain || img.iccProfile.empty())
            return plain;
        qx316::ColourSettings s = colour;
        s.pageProfile = img.iccProfile;
        std::string err;
        auto c = qx316::makeInkConverter(s, mode, t.opt.media, err);
        if (!c) {
            std::fprintf(stderr, "WARNING: %s: %s; printed as sRGB\n", name.c_str(), err.c_str());
            return plain;
        }
        return c;
    };
    OutFile out;
    if (!out.open(t.out))
        return 1;
    const auto t0 = std::chrono::steady_clock::now();
    qx316::Job job(t.opt);
    if (t.progress)
        job.progress = [](int page, int line, int lines) {
            std::fprintf(stderr, "\rpage %d line %d of %d ", page, line, lines);
        };
    int rc = job.begin([&](const uint8_t *d, size_t n) { return !gCancelled && std::fwrite(d, 1, n, out.f) == n; });
    job.setInkConverter(plain);
    if (rc == qx316::kOk && images.empty()) {
        const qx316::TestPage page(t.dpi);
        rc = qx316::printPage(job, {page.width(), page.height(), qx316::RowFormat::Rgb8},
                              [&](int y, uint8_t *row) { page.row(y, row); });
    }
    for (size_t i = 0; rc == qx316::kOk && i < images.size(); ++i) {
        const qx316::Image &img = images[i];
        job.setInkConverter(converterFor(img, t.inputs[i]));
        const size_t rowBytes = size_t(img.width) * size_t(img.channels);
        rc = qx316::printPage(job,
                              {img.width, img.height, img.channels == 1 ? qx316::RowFormat::Gray8
                                                                        : qx316::RowFormat::Rgb8},
                              [&](int y, uint8_t *row) {
                                  std::memcpy(row, img.pixels.data() + size_t(y) * rowBytes, rowBytes);
                              });
    }
    if (rc == qx316::kOk)
        rc = job.end();
    if (t.progress)
        std::fputs("\r\033[K", stderr);
    if (rc != qx316::kOk) {
        error(gCancelled ? "cancelled" : job.error());
        return 1;
    }
    if (!out.commit())
        return 1;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const qx316::JobStats &s = job.stats();
    if (!t.quiet)
        std::fprintf(stderr, "qx316: %d page%s, %llu input bytes, %llu output bytes, ratio %.3f, %.2f s\n", s.pages,
                     s.pages == 1 ? "" : "s", (unsigned long long)s.inputBytes, (unsigned long long)s.outputBytes,
                     s.inputBytes ? double(s.outputBytes) / double(s.inputBytes) : 0.0, secs);
    return 0;
}

bool readAll(const std::string &path, std::vector<uint8_t> &bytes) {
    std::string err;
    if (!qx316::readFileBytes(path, bytes, err)) {
        error(err);
        return false;
    }
    return true;
}

bool decodeInput(const Tool &t, qx316::DecodeResult &r, size_t maxCommands) {
    if (t.inputs.size() != 1) {
        error(t.command + " needs exactly one input stream");
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!readAll(t.inputs[0], bytes))
        return false;
    qx316::StreamLimits lim;
    lim.maxCommands = maxCommands;
    r = qx316::decodeStream(bytes.data(), bytes.size(), lim);
    if (!r.ok) {
        char where[64];
        std::snprintf(where, sizeof where, "at offset %zu (0x%zX): ", r.errorOffset, r.errorOffset);
        error(t.inputs[0] + ": stream broken " + where + r.error);
    }
    return r.ok;
}

int runDecode(Tool &t) {
    if (t.out.empty()) {
        error("decode needs -o PREVIEW.png");
        return 1;
    }
    qx316::ModeInfo mode;
    if (t.modeGiven) {
        mode = qx316::queryMode(t.opt);
        if (!mode.problem.empty()) {
            error(mode.problem);
            return 1;
        }
    }
    qx316::DecodeResult r;
    if (!decodeInput(t, r, 0))
        return 1;
    std::string err;
    qx316::PictureRun run;
    run.cancel = &gCancelled;
    if (t.allPages)
        run.maxPages = SIZE_MAX;
    if (!qx316::writeDecodePictures(r, t.modeGiven ? &mode : nullptr, t.out, t.planesDir, run, err)) {
        error(err);
        return 1;
    }
    if (run.written < r.pages.size())
        std::fprintf(stderr, "qx316: pictures of the first %zu of %zu pages written; --all-pages writes every page\n",
                     run.written, r.pages.size());
    if (!t.quiet)
        for (size_t i = 0; i < r.pages.size(); ++i) {
            const qx316::DecodedPage &p = r.pages[i];
            std::fprintf(stderr, "page %zu: band height %d, %lld bands, %lld inked, planes", i + 1, p.bandHeight,
                         (long long)p.bands, (long long)p.inkedBands);
            for (const auto &pl : p.planes)
                std::fprintf(stderr, " %s", qx316::planeName(pl.letter).c_str());
            std::fputc('\n', stderr);
        }
    return 0;
}

int runDump(Tool &t) {
    qx316::DecodeResult r;
    const bool ok = decodeInput(t, r, SIZE_MAX);
    for (const qx316::StreamCommand &c : r.commands)
        std::printf("%10zu %5u  %s\n", c.offset, c.length, c.meaning.c_str());
    // Per band: bytes of each plane's raster-line command (header included).
    std::map<std::pair<int, int64_t>, std::vector<std::pair<uint8_t, uint64_t>>> bands;
    std::map<std::pair<int, uint8_t>, std::pair<uint64_t, uint64_t>> planes;
    for (const qx316::StreamCommand &c : r.commands)
        if (c.letter == 'F') {
            bands[{c.page, c.band}].push_back({c.plane, c.length + 5});
            auto &pl = planes[{c.page, c.plane}];
            pl.first += c.length + 5;
            pl.second += 1;
        }
    for (const auto &[key, list] : bands) {
        std::printf("page %d band %lld:", key.first + 1, (long long)key.second);
        uint64_t sum = 0;
        for (const auto &[letter, bytes] : list) {
            std::printf(" %s %llu", qx316::planeName(letter).c_str(), (unsigned long long)bytes);
            sum += bytes;
        }
        std::printf("  total %llu\n", (unsigned long long)sum);
    }
    for (const auto &[key, v] : planes)
        std::printf("page %d plane %s: %llu bytes in %llu commands\n", key.first + 1,
                    qx316::planeName(key.second).c_str(), (unsigned long long)v.first,
                    (unsigned long long)v.second);
    return ok ? 0 : 1;
}

int run(int argc, char **argv) {
    Tool t;
    if (!parseArgs(t, argc, argv))
        return 1;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    if (t.command == "print")
        return runPrint(t);
    if (t.command == "decode")
        return runDecode(t);
    return runDump(t);
}

} // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        error("out of memory");
        return 1;
    }
}
