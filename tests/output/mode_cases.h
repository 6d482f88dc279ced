// Print parameters that reach every plane mode and dot-pattern type a page
// setup can choose, with the plane mode each gives: the one table the job,
// thread, golden and trace tests run through.
#pragma once

namespace qxtest {

struct ModeCase {
    const char *name;
    int quality, media, head, colorMode, composite;
    int planeMode;
};

inline constexpr ModeCase kModeCases[] = {
    {"mode9_type4_pairs", 5, 0, 0, 0, 0, 9},     {"mode7_head1_pairs", 5, 0, 1, 0, 0, 7},
    {"mode7_type4_media16", 10, 16, 0, 0, 0, 7}, {"mode5_2bit", 10, 0, 0, 0, 0, 5},
    {"mode5_type1", 10, 1, 0, 0, 0, 5},          {"mode5_1bit_band8", 3, 0, 0, 0, 0, 5},
    {"mode2_type2", 10, 18, 0, 0, 0, 2},         {"mode2_type3_composite", 10, 7, 0, 0, 1, 2},
    {"mode2_type4_unpaired", 5, 0, 0, 0, 1, 2},  {"mode4_type7_doubled", 5, 26, 0, 0, 0, 4},
    {"mode4_type1", 0, 26, 0, 0, 0, 4},          {"mode1_single_plane", 5, 0, 0, 1, 0, 1},
};

}  // namespace qxtest
