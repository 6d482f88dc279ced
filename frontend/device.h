// What the model 316 prints on, for every host: its one resolution and the
// unprintable margin on every side of a sheet.
#ifndef QX316_FRONTEND_DEVICE_H
#define QX316_FRONTEND_DEVICE_H

namespace qx316 {

constexpr int kDpi = 600;          // dots per inch, across and down
constexpr int kMarginPt = 9;       // 0.125 in on every side, in points
constexpr int kMarginHmm = 318;    // the same margin in hundredths of a millimetre (IPP's unit), rounded up
static_assert(kMarginHmm * 72 >= kMarginPt * 2540 && (kMarginHmm - 1) * 72 < kMarginPt * 2540,
              "the two margins name the same distance");

} // namespace qx316

#endif
