// rastertoqx316 on rasters it must refuse, on cancel and on a closed output:
// one ERROR: line and exit 1 (0 for a cancel), bounded memory and time, and
// whatever reached standard output is a stream the printer reads to a page end.
#include "filter_loop.h"
#include "filter_support.h"

#include "mode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qxtest;

namespace {

const char *const kOneBitMode = "QXQuality=q3 MediaType=m0";

void expectRefused(const FilterResult &r, const std::string &words) {
    EXPECT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.count("ERROR:"), 1);
    EXPECT_NE(r.first("ERROR:").find(words), std::string::npos) << r.first("ERROR:");
    EXPECT_LT(r.maxRssKiB, 256 * 1024);
    EXPECT_LT(r.seconds, 30);
    if (!r.out.empty()) {
        const qx316::DecodeResult d = qx316::decodeStream(r.out.data(), r.out.size());
        EXPECT_TRUE(d.ok) << d.error;
    }
}

struct HeaderFault {
    const char *name;
    std::function<void(cups_page_header2_t &)> change;
    std::string words; // in the ERROR: line
};

// A mode whose band buffers take fewer than 32767 pixels, as job options,
// and its widest page.
std::pair<std::string, int> narrowMode() {
    for (const qx316::Choice &q : qx316::optionInfo(qx316::OptionId::Quality).choices)
        for (const qx316::Choice &m : qx316::optionInfo(qx316::OptionId::Media).choices) {
            qx316::PrintOptions o;
            qx316::setOptionCode(o, qx316::OptionId::Quality, q.code);
            qx316::setOptionCode(o, qx316::OptionId::Media, m.code);
            const qx316::ModeInfo info = qx316::queryMode(o);
            if (info.problem.empty() && info.maxWidth < 32767)
                return {std::string("QXQuality=") + q.keyword + " MediaType=" + m.keyword, info.maxWidth};
        }
    return {"", 0};
}

} // namespace

// Each header fault on the second page: page 1 prints, the stream ends at
// its page end, and the bad page gets one ERROR: line with the reason.
TEST(FilterHostile, HeaderFaultsAreRefusedWithWords) {
    const auto [narrow, maxWidth] = narrowMode();
    ASSERT_GT(maxWidth, 0) << "no mode narrower than 32767 pixels";
    const float nan = std::nanf("");
    const HeaderFault faults[] = {
        {"resolution 300", [](auto &h) { h.HWResolution[0] = h.HWResolution[1] = 300; }, "600x600"},
        {"resolution 600x1200", [](auto &h) { h.HWResolution[1] = 1200; }, "600x1200"},
        {"bytes per line short", [](auto &h) { h.cupsBytesPerLine -= 3; }, "cupsBytesPerLine"},
        // libcups itself refuses a line that is not whole pixels.
        {"bytes per line not whole pixels", [](auto &h) { h.cupsBytesPerLine -= 1; }, "page header is truncated or not valid"},
        {"bytes per line long", [](auto &h) { h.cupsBytesPerLine += 3; }, "cupsBytesPerLine"},
        {"bits per pixel", [](auto &h) { h.cupsBitsPerPixel = 32; h.cupsBytesPerLine = h.cupsWidth * 4; },
         "cupsBitsPerPixel"},
        {"colour space RGBA", [](auto &h) { h.cupsColorSpace = CUPS_CSPACE_RGBA; }, "colour space 2"},
        {"colour space Lab", [](auto &h) { h.cupsColorSpace = CUPS_CSPACE_CIELab; }, "colour space 16"},
        {"colour order", [](auto &h) { h.cupsColorOrder = cups_order_t(3); }, "colour order 3"},
        {"2 bits per colour",
         [](auto &h) { h.cupsBitsPerColor = 2; h.cupsBitsPerPixel = 6; h.cupsBytesPerLine = (h.cupsWidth * 6 + 7) / 8; },
         "2 bits per colour"},
        {"RGB 1-bit",
         [](auto &h) { h.cupsBitsPerColor = 1; h.cupsBitsPerPixel = 4; h.cupsBytesPerLine = (h.cupsWidth * 4 + 7) / 8; },
         "1 bits per colour"},
        {"width 40000", [](auto &h) { h.cupsWidth = 40000; h.cupsBytesPerLine = 120000; }, "out of range"},
        {"width past the mode",
         [maxWidth](auto &h) { h.cupsWidth = unsigned(maxWidth + 1); h.cupsBytesPerLine = h.cupsWidth * 3; },
         std::to_string(maxWidth)},
        {"height past the page limit", [](auto &h) { h.cupsHeight = (1u << 21) + 1; }, "out of range"},
        {"copies", [](auto &h) { h.NumCopies = 100000; }, "copies"},
        {"imaging box not a number", [nan](auto &h) { h.cupsImagingBBox[0] = nan; h.cupsPageSize[0] = 612; },
         "imaging box"},
        {"header option out of range",
         [](auto &h) { h.cupsInteger[0] = 316; h.cupsInteger[1] = 77777; }, "QXQuality"},
    };
    const int w = 64, hh = 12;
    const cups_page_header2_t good = pageHeader(CUPS_CSPACE_RGB, 8, CUPS_ORDER_CHUNKED, w, hh);
    const std::vector<uint8_t> black(good.cupsBytesPerLine * hh, 0);
    for (const HeaderFault &f : faults) {
        SCOPED_TRACE(f.name);
        const std::string &words = f.words;
        cups_page_header2_t bad = good;
        f.change(bad);
        const std::string in = writeRaster({{good, black}, {bad, black}});
        const FilterResult r = runFilterProgram(in, narrow);
        unlink(in.c_str());
        expectRefused(r, words);
        EXPECT_NE(r.first("ERROR:").find("page 2"), std::string::npos);
        EXPECT_EQ(r.count("PAGE:"), 1);
        const qx316::DecodeResult d = qx316::decodeStream(r.out.data(), r.out.size());
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.pages.size(), 1u);
    }
}

// Streams that are not rasters, hold no page, or end early.
TEST(FilterHostile, BrokenStreamsAreRefused) {
    const cups_page_header2_t h = pageHeader(CUPS_CSPACE_K, 8, CUPS_ORDER_CHUNKED, 100, 40);
    const std::vector<uint8_t> ink(h.cupsBytesPerLine * 40, 255);
    std::vector<uint8_t> garbage{'R', 'a', 'S', 't'};
    for (int i = 0; i < 1796 + 500; ++i)
        garbage.push_back(uint8_t(i * 131 + 7));
    // A page that claims 2^21 lines of 32767 16-bit RGB pixels (about 400 GB)
    // with a few lines behind it.
    cups_page_header2_t huge = pageHeader(CUPS_CSPACE_RGB, 16, CUPS_ORDER_CHUNKED, 32767, 1 << 21);
    struct Case {
        const char *name;
        std::string input;
        const char *words;
    } cases[] = {
        {"empty input", writeBytes({}), "empty"},
        {"not a raster", writeBytes({'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'}), "not a CUPS raster"},
        {"sync word alone", writeRaster({}), "no pages"},
        {"garbage after the sync word", writeBytes(garbage), "page 1"},
        {"truncated page", writeRaster({{h, std::vector<uint8_t>(ink.begin(), ink.begin() + 1000)}}), "line 10 of 40"},
        {"truncated planar page",
         writeRaster({{pageHeader(CUPS_CSPACE_CMYK, 8, CUPS_ORDER_PLANAR, 100, 40), std::vector<uint8_t>(5000, 9)}}),
         "colour 2 of 4"},
        {"truncated second header", "", "page 2"},
        {"gigabytes claimed", writeRaster({{huge, std::vector<uint8_t>(huge.cupsBytesPerLine * 3, 0x40)}}),
         "line 3 of 2097152"},
    };
    {
        // A whole page, then half a header.
        std::string whole = writeRaster({{h, ink}});
        std::vector<uint8_t> bytes;
        FILE *f = std::fopen(whole.c_str(), "rb");
        int c;
        while ((c = std::fgetc(f)) != EOF)
            bytes.push_back(uint8_t(c));
        std::fclose(f);
        unlink(whole.c_str());
        bytes.insert(bytes.end(), bytes.begin() + 4, bytes.begin() + 4 + 900);
        cases[6].input = writeBytes(bytes);
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const FilterResult r = runFilterProgram(c.input, kOneBitMode);
        unlink(c.input.c_str());
        expectRefused(r, c.words);
    }
}

// Usage errors, and values of the driver's own options that are none of
// their choices: the ERROR: line names the option and its choices.
TEST(FilterHostile, ArgumentsAreChecked) {
    const FilterResult few = runFilterArgs({"1", "user", "title", "1"}, "");
    expectRefused(few, "Usage: rastertoqx316 job-id user title copies options [file]");
    const FilterResult many = runFilterArgs({"1", "u", "t", "1", "", "a", "b"}, "");
    expectRefused(many, "Usage:");
    const FilterResult missing = runFilterArgs({"1", "u", "t", "1", "", "/nonexistent/raster"}, "");
    expectRefused(missing, "/nonexistent/raster");
    const cups_page_header2_t h = pageHeader(CUPS_CSPACE_K, 1, CUPS_ORDER_CHUNKED, 8, 1);
    const std::string in = writeRaster({{h, {0xFF}}});
    expectRefused(runFilterProgram(in, "QXPaper=roll"), "QXPaper=roll");
    expectRefused(runFilterProgram(in, "QXQuality=q99"), "job option QXQuality=q99: unknown choice");
    expectRefused(runFilterProgram(in, "MediaType=A4"), "choices: m0 m1");
    expectRefused(runFilterProgram(in, "ColorModel=CMYK"), "ColorModel=CMYK: unknown choice \"CMYK\" (choices: RGB Gray");
    expectRefused(runFilterProgram(in, "QXQuality=q0 MediaType=m50 QXPrintHead=h2"), "page 1");
    unlink(in.c_str());
}

namespace {

struct Child {
    pid_t pid;
    int in;  // write end of the filter's standard input
    int out; // read end of its standard output
};

Child startFilter() {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        alarm(60);
        execl(QX_FILTER_PATH, "rastertoqx316", "1", "u", "t", "1", kOneBitMode, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    return {pid, in[1], out[0]};
}

} // namespace

// SIGTERM while the filter waits for more lines of a page on a pipe: it
// ends the page and the job at once, exits 0, and its output decodes.
TEST(FilterHostile, SigtermEndsThePageCleanly) {
    const int w = 2400, h = 6000;
    const cups_page_header2_t hd = pageHeader(CUPS_CSPACE_RGB, 8, CUPS_ORDER_CHUNKED, w, h);
    Child c = startFilter();
    std::vector<uint8_t> stream;
    std::thread reader([&] {
        uint8_t buf[65536];
        ssize_t n;
        while ((n = read(c.out, buf, sizeof buf)) > 0)
            stream.insert(stream.end(), buf, buf + n);
    });
    // Header and 700 lines of a diagonal grey ramp, through libcups.
    cups_raster_t *r = cupsRasterOpen(c.in, CUPS_RASTER_WRITE);
    cups_page_header2_t hh = hd;
    ASSERT_TRUE(cupsRasterWriteHeader2(r, &hh));
    std::vector<uint8_t> line(hd.cupsBytesPerLine);
    for (int y = 0; y < 700; ++y) {
        for (size_t i = 0; i < line.size(); ++i)
            line[i] = uint8_t((i / 3 + size_t(y)) & 0xFF);
        ASSERT_EQ(cupsRasterWritePixels(r, line.data(), unsigned(line.size())), line.size());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    kill(c.pid, SIGTERM);
    int st = 0;
    waitpid(c.pid, &st, 0);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cupsRasterClose(r);
    close(c.in);
    reader.join();
    close(c.out);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_LT(took, 5.0);
    const qx316::DecodeResult d = qx316::decodeStream(stream.data(), stream.size());
    ASSERT_TRUE(d.ok) << d.error << " at " << d.errorOffset;
    ASSERT_EQ(d.pages.size(), 1u);
    // The lines that arrived were printed; none past them.
    int64_t last = -1;
    for (const qx316::DecodedPlane &p : d.pages[0].planes)
        if (!p.rows.empty())
            last = std::max(last, p.rows.rbegin()->first);
    EXPECT_GT(last, 300);
    EXPECT_LT(last, 700);
}

// A closed standard output ends the job with one ERROR: line and exit 1
// (the filter ignores SIGPIPE).
TEST(FilterHostile, ClosedOutputIsAnError) {
    const cups_page_header2_t hd = pageHeader(CUPS_CSPACE_K, 8, CUPS_ORDER_CHUNKED, 600, 200);
    const std::string in = writeRaster({{hd, std::vector<uint8_t>(600 * 200, 255)}});
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    close(out[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(in.c_str(), O_RDONLY);
        dup2(fd, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(err[0]);
        alarm(60);
        execl(QX_FILTER_PATH, "rastertoqx316", "1", "u", "t", "1", kOneBitMode, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    std::string messages;
    char buf[4096];
    ssize_t n;
    while ((n = read(err[0], buf, sizeof buf)) > 0)
        messages.append(buf, size_t(n));
    close(err[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    unlink(in.c_str());
    ASSERT_TRUE(WIFEXITED(st)) << "signal " << WTERMSIG(st);
    EXPECT_EQ(WEXITSTATUS(st), 1);
    size_t errors = 0;
    for (size_t at = 0; (at = messages.find("ERROR:", at)) != std::string::npos; ++at)
        ++errors;
    EXPECT_EQ(errors, 1u);
    EXPECT_NE(messages.find("cannot write the printer stream"), std::string::npos) << messages;
    EXPECT_NE(messages.find("Broken pipe"), std::string::npos) << messages;
}

// The page loop called directly on a raster file in the one-bit mode, its
// messages gathered in a temporary file. The caller sets output (and flush,
// cancel) before running it.
struct DirectRun {
    const char *argv[6] = {"rastertoqx316", "1", "u", "t", "1", kOneBitMode};
    int fd;
    FILE *messages = tmpfile();
    qx316::cupsfilter::FilterRun run;

    explicit DirectRun(const std::string &raster) : fd(open(raster.c_str(), O_RDONLY)) {
        run.argc = 6;
        run.argv = argv;
        run.inputFd = fd;
        run.messages = messages;
    }
    ~DirectRun() {
        close(fd);
        std::fclose(messages);
    }
    int operator()() { return qx316::cupsfilter::runFilter(run); }
    // Everything the run said.
    std::string said() {
        std::rewind(messages);
        std::string all;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, messages)) > 0;) all.append(buf, n);
        return all;
    }
};

// The page loop called directly: a cancel that arrives between lines (not in
// a read) ends the page at that line; the stream decodes and the run says 0.
TEST(FilterHostile, CancelFlagBetweenLinesEndsAtAPageEnd) {
    const int w = 300, h = 2000;
    const cups_page_header2_t hd = pageHeader(CUPS_CSPACE_K, 8, CUPS_ORDER_BANDED, w, h);
    const std::string in = writeRaster({{hd, std::vector<uint8_t>(size_t(w) * h, 200)}, {hd, std::vector<uint8_t>(size_t(w) * h, 200)}});
    volatile std::sig_atomic_t cancel = 0;
    std::vector<uint8_t> stream;
    DirectRun filter(in);
    filter.run.output = [&](const uint8_t *p, size_t n) {
        stream.insert(stream.end(), p, p + n);
        if (stream.size() > 20000)
            cancel = 1;
        return true;
    };
    filter.run.cancel = &cancel;
    EXPECT_EQ(filter(), 0);
    unlink(in.c_str());
    const std::string all = filter.said();
    EXPECT_NE(all.find("PAGE: 1 1"), std::string::npos) << all;
    EXPECT_EQ(all.find("ERROR:"), std::string::npos) << all;
    const qx316::DecodeResult d = qx316::decodeStream(stream.data(), stream.size());
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.pages.size(), 1u);
    const qx316::DecodedPlane *k = d.pages[0].plane('K');
    ASSERT_NE(k, nullptr);
    EXPECT_LT(k->rows.rbegin()->first, h - 1);
}

// An output that holds bytes back until flushed: every byte is sent on
// before the run returns, page by page; a refused flush ends the run with
// one ERROR: line in the output's words and 1, and no PAGE: line for the
// page that was not sent.
TEST(FilterHostile, HeldBackOutputIsSentOrItsRefusalIsAnError) {
    const int w = 300, h = 100;
    const cups_page_header2_t hd = pageHeader(CUPS_CSPACE_K, 8, CUPS_ORDER_CHUNKED, w, h);
    const std::vector<uint8_t> grey(size_t(w) * h, 200);
    const std::string in = writeRaster({{hd, grey}, {hd, grey}});
    for (bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused" : "sent");
        std::vector<uint8_t> held, sent;
        int flushes = 0;
        DirectRun filter(in);
        filter.run.output = [&](const uint8_t *p, size_t n) {
            held.insert(held.end(), p, p + n);
            return true;
        };
        filter.run.flush = [&] {
            ++flushes;
            if (refuse)
                return false;
            sent.insert(sent.end(), held.begin(), held.end());
            held.clear();
            return true;
        };
        filter.run.outputError = [] { return std::string("disk full"); };
        const int rc = filter();
        const std::string all = filter.said();
        size_t errors = 0;
        for (size_t at = 0; (at = all.find("ERROR:", at)) != std::string::npos; ++at)
            ++errors;
        if (refuse) {
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(errors, 1u) << all;
            EXPECT_NE(all.find("cannot write the printer stream (disk full)"), std::string::npos) << all;
            EXPECT_EQ(all.find("PAGE:"), std::string::npos) << all;
            continue;
        }
        EXPECT_EQ(rc, 0) << all;
        EXPECT_EQ(errors, 0u) << all;
        EXPECT_TRUE(held.empty()) << held.size() << " bytes held back";
        EXPECT_GE(flushes, 2);
        const qx316::DecodeResult d = qx316::decodeStream(sent.data(), sent.size());
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.pages.size(), 2u);
    }
    unlink(in.c_str());
}
