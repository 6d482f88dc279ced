// qx316's decode pictures: the colour preview of a printed test page.
#include "job.h"
#include "preview.h"
#include "qx316_stream.h"
#include "testpage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct Printed {
    bool ok = false;
    std::string error;
    qx316::ModeInfo mode;
    std::vector<uint8_t> stream;
    qx316::DecodeResult decoded;
};

Printed print(const qx316::PrintOptions &o, const qx316::TestPage &page) {
    Printed p;
    qx316::Job job(o);
    p.mode = job.mode();
    int rc = job.begin([&](const uint8_t *d, size_t n) {
        p.stream.insert(p.stream.end(), d, d + n);
        return true;
    });
    rc = rc ? rc
            : qx316::printPage(job, {page.width(), page.height(), qx316::RowFormat::Rgb8},
                               [&](int y, uint8_t *row) { page.row(y, row); });
    rc = rc ? rc : job.end();
    p.ok = rc == qx316::kOk;
    p.error = job.error();
    if (p.ok)
        p.decoded = qx316::decodeStream(p.stream.data(), p.stream.size());
    return p;
}

qx316::PrintOptions opts(int quality, int media) {
    qx316::PrintOptions o;
    o.quality = quality;
    o.media = media;
    return o;
}

TEST(Preview, BoundedAndInked) {
    qx316::TestPage page(100);
    Printed p = print(opts(5, 0), page);
    ASSERT_TRUE(p.ok) << p.error;
    qx316::ModeInfo mode = p.mode;
    const qx316::DecodedPage &dp = p.decoded.pages[0];
    qx316::Preview pv = qx316::composite(dp, &mode, 300);
    // The stream reaches to its last inked band; the page's right margin
    // and bottom were never sent.
    const int lines = int(dp.bands * dp.bandHeight);
    size_t widest = 0;
    for (const auto &[y, row] : dp.plane('C')->rows)
        widest = std::max(widest, row.size());
    const int pixels = int(widest) * 2; // 4-bit pixels
    EXPECT_EQ(pv.height, 300);
    EXPECT_NEAR(pv.width, 300.0 * pixels / lines, 1.0);
    // The solid black patch is dark, the blank stretch white.
    const int blankRow = (page.blankFrom() + page.blankTo()) / 2 * 300 / lines;
    for (int x = 0; x < pv.width; ++x)
        ASSERT_EQ(pv.rgb[size_t(blankRow * pv.width + x) * 3], 255) << "x " << x;
    const int patchRow = int(1.9 * 100) * 300 / lines;
    const int patchCol = int(0.3 * 100 + 3.5 * (page.width() - 60) / 9.0) * pv.width / pixels;
    const uint8_t *px = &pv.rgb[size_t(patchRow * pv.width + patchCol) * 3];
    EXPECT_LT(px[0] + px[1] + px[2], 30) << "patch pixel " << int(px[0]) << " " << int(px[1]) << " " << int(px[2]);
}

} // namespace
