// The built-in test page: an A4 sheet drawn row by row at any resolution.
#ifndef QX316_FRONTEND_TESTPAGE_H
#define QX316_FRONTEND_TESTPAGE_H

#include <cstdint>

namespace qx316 {

// Gradients and solid patches of every ink, fine lines on byte edges, a
// text-like block, a blank stretch of several bands and a patch whose ink
// starts late in a band (on line 15 of 16, line 7 of 8), all in RGB.
class TestPage {
public:
    explicit TestPage(int dpi);
    int width() const { return width_; }
    int height() const { return height_; }
    // Row y as RGB (width() * 3 bytes).
    void row(int y, uint8_t *out) const;

    int blankFrom() const { return blankFrom_; } // first line of the blank stretch
    int blankTo() const { return blankTo_; }     // first line after it
    int lateStart() const { return lateStart_; } // first inked line of the late patch

private:
    int in(double inches) const { return int(inches * dpi_ + 0.5); }
    int dpi_, width_, height_;
    int blankFrom_, blankTo_, lateStart_;
};

} // namespace qx316

#endif
