// The dot-pattern types a plane can be printed with: 0 codes the levels as
// they come; 1..7 expand every 4-bit level into a dot pattern drawn from one
// of the constant tables. Everything that depends on a pattern type (line
// lengths, plane pairs, the expander chosen) takes it from here.
#pragma once

#include <cstdint>

namespace qxraster {

enum class DotTable : int8_t {
    kNone,
    kPtr2bit3_2,     // 16 levels, 4-bit patterns
    kPtr4bit5_1,     // 5 levels, 4-bit patterns
    kPtr4bit5_2,     // 5 levels, 4-bit patterns
    kPtr44bit9_1,    // 9 levels, 4-bit patterns for a plane and its pair
    kPtr8bit9_1,     // 9 levels, byte patterns
    kTable8bit9,     // 9 levels, byte patterns
};

struct PatternType {
    DotTable table;
    bool doubled;  // a byte per level: two output bytes per input byte
    bool paired;   // also fills the output plane paired with the input plane
};

constexpr PatternType kPatternTypes[8] = {
    {DotTable::kNone, false, false},         // 0
    {DotTable::kPtr2bit3_2, false, false},   // 1
    {DotTable::kPtr4bit5_1, false, false},   // 2
    {DotTable::kPtr4bit5_2, false, false},   // 3
    {DotTable::kPtr44bit9_1, false, true},   // 4
    {DotTable::kPtr8bit9_1, true, false},    // 5
    {DotTable::kTable8bit9, true, false},    // 6
    {DotTable::kPtr8bit9_1, true, false},    // 7
};

// Any other type value expands nothing, as type 0.
constexpr const PatternType &patternType(int type) { return kPatternTypes[type >= 0 && type <= 7 ? type : 0]; }

// Input levels of each table (its rows); the tables are checked against these.
constexpr int tableLevels(DotTable t) {
    switch (t) {
        case DotTable::kPtr2bit3_2: return 16;
        case DotTable::kPtr4bit5_1:
        case DotTable::kPtr4bit5_2: return 5;
        case DotTable::kNone: return 0;
        default: return 9;
    }
}

}  // namespace qxraster
