// Print options for the kit's tests, by their codes.
#ifndef QX316_TESTS_KIT_OPTIONS_H
#define QX316_TESTS_KIT_OPTIONS_H

#include "options.h"

namespace qx316test {

inline qx316::PrintOptions opts(int quality, int media, int head = 0, int colorMode = 0, bool composite = false,
                                bool banner = false) {
    qx316::PrintOptions o;
    o.quality = quality;
    o.media = media;
    o.head = head;
    o.colorMode = colorMode;
    o.composite = composite;
    o.banner = banner;
    return o;
}

} // namespace qx316test

#endif
