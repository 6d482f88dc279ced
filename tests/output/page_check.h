// Test pages and their check against what the printer decodes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "job_driver.h"
#include "qx316_stream.h"

namespace qxtest {

// What page setup chose, read back from the job.
struct PlaneSetup {
    int planeMode = 0;
    int inPlanes = 0;
    int outPlanes = 0;
    int bandHeight = 0;
    int bits[QXDRO_MAX_PLANES] = {};
    int tgl[QXDRO_MAX_PLANES] = {};
    int paired[QXDRO_MAX_PLANES] = {};  // output plane fed by input plane p, or -1
};

PlaneSetup readSetup(const OutputContext *ctx);

// The letters of a plane mode's output planes, in plane order.
std::vector<uint8_t> planeLetters(int planeMode);

// Lines of a page: some blank, some skipped, a gap of several bands, ink
// late in a band; pixel values fit each plane's pattern type.
std::vector<Line> makePage(const PlaneSetup &setup, int widthPixels, int lines, std::mt19937 &rng);

// Checks one decoded page against the lines that made it, with the page's
// printer lines starting at `lineOffset`. Returns "" or what differs.
std::string checkPage(const PlaneSetup &setup, const std::vector<Line> &lines, const qx316::DecodedPage &page,
                      int64_t lineOffset = 0);

// Inked input lines of plane p (the printer must show exactly these).
int inkedLines(const std::vector<Line> &lines, int p);

}  // namespace qxtest
