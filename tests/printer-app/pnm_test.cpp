// The reader of the renderer's output: pages one after another through a
// pipe, read a row at a time, with every malformed header refused.
#include "pnm_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <unistd.h>

using namespace qx316::app;

namespace {

// A pipe whose write end is fed by a thread, like a renderer's output.
struct Feed {
    int fds[2] = {-1, -1};
    std::thread writer;
    explicit Feed(std::string bytes, bool keepOpen = false) {
        EXPECT_EQ(pipe(fds), 0);
        writer = std::thread([this, bytes = std::move(bytes), keepOpen] {
            size_t off = 0;
            while (off < bytes.size()) {
                const ssize_t n = ::write(fds[1], bytes.data() + off, bytes.size() - off);
                if (n <= 0)
                    break;
                off += size_t(n);
            }
            if (!keepOpen) {
                ::close(fds[1]);
                fds[1] = -1;
            }
        });
    }
    ~Feed() {
        writer.join();
        if (fds[1] >= 0)
            ::close(fds[1]);
        ::close(fds[0]);
    }
};

std::string ppm(int w, int h, uint8_t r, uint8_t g, uint8_t b, const char *comment = "") {
    std::string s = "P6\n" + std::string(comment) + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int i = 0; i < w * h; ++i) {
        s += char(r);
        s += char(g);
        s += char(b);
    }
    return s;
}

} // namespace

TEST(PnmStream, PagesOneAfterAnother) {
    std::string pgm = "P5 3 2 255\n";
    pgm += std::string("\x00\x80\xff\x10\x20\x30", 6);
    Feed f(ppm(4, 3, 0, 255, 255, "# page 1\n") + pgm + ppm(70000 / 3, 2, 1, 2, 3));
    PnmReader r(f.fds[0], nullptr);
    PnmHeader h;
    ASSERT_EQ(r.header(h), PnmReader::Result::Ok);
    EXPECT_EQ(h.width, 4);
    EXPECT_EQ(h.height, 3);
    EXPECT_EQ(h.channels, 3);
    std::vector<uint8_t> row(12);
    for (int y = 0; y < 3; ++y) {
        ASSERT_EQ(r.row(row.data(), row.size()), PnmReader::Result::Ok);
        EXPECT_EQ(row[0], 0);
        EXPECT_EQ(row[11], 255);
    }
    ASSERT_EQ(r.header(h), PnmReader::Result::Ok);
    EXPECT_EQ(h.channels, 1);
    row.resize(3);
    ASSERT_EQ(r.row(row.data(), 3), PnmReader::Result::Ok);
    EXPECT_EQ(row, (std::vector<uint8_t>{0x00, 0x80, 0xff}));
    ASSERT_EQ(r.row(row.data(), 3), PnmReader::Result::Ok);
    EXPECT_EQ(row, (std::vector<uint8_t>{0x10, 0x20, 0x30}));
    // A row wider than the read buffer.
    ASSERT_EQ(r.header(h), PnmReader::Result::Ok);
    row.resize(size_t(h.width) * 3);
    for (int y = 0; y < 2; ++y) {
        ASSERT_EQ(r.row(row.data(), row.size()), PnmReader::Result::Ok);
        EXPECT_EQ(row.back(), 3);
    }
    EXPECT_EQ(r.header(h), PnmReader::Result::End);
}

TEST(PnmStream, MalformedHeadersAreRefused) {
    const char *bad[] = {
        "P3\n1 1\n255\n000",          // plain-text PPM
        "P6\n1 1\n65535\n\0\0\0\0\0\0", // 16-bit samples
        "P6\n0 1\n255\n",             // no pixels
        "P6\n-1 1\n255\n",
        "P6\n99999999 1\n255\n",      // beyond any page
        "P6\n1",                      // cut in the header
        "GIF89a",
    };
    for (const char *b : bad) {
        Feed f(std::string(b, b == bad[1] ? 19 : std::char_traits<char>::length(b)));
        PnmReader r(f.fds[0], nullptr);
        PnmHeader h;
        EXPECT_EQ(r.header(h), PnmReader::Result::Error) << b;
        EXPECT_FALSE(r.error().empty());
    }
}

TEST(PnmStream, ShortPageIsAnError) {
    std::string s = ppm(4, 3, 9, 9, 9);
    s.resize(s.size() - 5);
    Feed f(s);
    PnmReader r(f.fds[0], nullptr);
    PnmHeader h;
    ASSERT_EQ(r.header(h), PnmReader::Result::Ok);
    std::vector<uint8_t> row(12);
    EXPECT_EQ(r.row(row.data(), 12), PnmReader::Result::Ok);
    EXPECT_EQ(r.row(row.data(), 12), PnmReader::Result::Ok);
    EXPECT_EQ(r.row(row.data(), 12), PnmReader::Result::Error);
    EXPECT_NE(r.error().find("ends early"), std::string::npos);
}

TEST(PnmStream, WrongCallsAreRefused) {
    Feed f(ppm(2, 2, 1, 1, 1) + ppm(2, 2, 1, 1, 1));
    PnmReader r(f.fds[0], nullptr);
    PnmHeader h;
    std::vector<uint8_t> row(6);
    EXPECT_EQ(r.row(row.data(), 6), PnmReader::Result::Error); // no page yet
}

TEST(PnmStream, NextHeaderBeforeRowsAreReadIsRefused) {
    Feed f(ppm(2, 2, 1, 1, 1) + ppm(2, 2, 1, 1, 1));
    PnmReader r(f.fds[0], nullptr);
    PnmHeader h;
    ASSERT_EQ(r.header(h), PnmReader::Result::Ok);
    EXPECT_EQ(r.header(h), PnmReader::Result::Error);
}

// A renderer that stops sending does not hold the reader once the stop test
// says so (a cancelled job).
TEST(PnmStream, WaitEndsWhenStopped) {
    std::string part = ppm(4, 4, 5, 5, 5);
    part.resize(part.size() / 2);
    Feed f(part, /*keepOpen=*/true);
    int calls = 0;
    PnmReader r(f.fds[0], [&calls] { return ++calls > 3; });
    PnmHeader h;
    ASSERT_EQ(r.header(h), PnmReader::Result::Ok);
    std::vector<uint8_t> row(12);
    PnmReader::Result res = PnmReader::Result::Ok;
    for (int y = 0; y < 4 && res == PnmReader::Result::Ok; ++y)
        res = r.row(row.data(), row.size());
    EXPECT_EQ(res, PnmReader::Result::Error);
    EXPECT_GT(calls, 3);
}
