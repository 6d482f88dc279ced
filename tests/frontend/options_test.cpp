// The option table: keywords and codes, parsing, and the names that say what
// each choice prints.
#include "mode.h"
#include "options.h"

#include "qxdro316_inner.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(OptionTable, KeywordsAndCodesAreUniqueAndDefaultsAreChoices) {
    std::set<std::string> keywords, cliNames, fields;
    for (const qx316::OptionInfo &o : qx316::optionTable()) {
        EXPECT_TRUE(keywords.insert(o.keyword).second) << o.keyword;
        EXPECT_TRUE(cliNames.insert(o.cliName).second) << o.cliName;
        EXPECT_TRUE(fields.insert(o.rasterField).second) << o.rasterField;
        std::set<std::string> choiceWords;
        std::set<int> codes;
        for (const qx316::Choice &c : o.choices) {
            EXPECT_TRUE(choiceWords.insert(c.keyword).second) << o.keyword << " " << c.keyword;
            EXPECT_TRUE(codes.insert(c.code).second) << o.keyword << " " << c.code;
        }
        if (!o.choices.empty()) {
            EXPECT_NE(qx316::choiceByCode(o.id, o.defaultCode), nullptr) << o.keyword;
        }
        EXPECT_EQ(qx316::getOption(qx316::PrintOptions{}, o.id), o.defaultCode) << o.keyword;
    }
    EXPECT_EQ(fields.count(qx316::kRasterMarkerField), 0u);
}

// Every quality and media choice prints with some choice of the other, and
// the table's media codes fall in distinct media classes (two codes of one
// class would be the same choice twice).
TEST(OptionTable, EveryQualityAndMediaChoicePrintsSomewhere) {
    std::set<int> classes;
    for (const qx316::Choice &m : qx316::optionInfo(qx316::OptionId::Media).choices) {
        bool prints = false;
        for (const qx316::Choice &q : qx316::optionInfo(qx316::OptionId::Quality).choices) {
            qx316::PrintOptions o;
            o.quality = q.code;
            o.media = m.code;
            prints = prints || qx316::queryMode(o).problem.empty();
        }
        EXPECT_TRUE(prints) << m.keyword;
        EXPECT_TRUE(classes.insert(GetIndexMediaType(m.code)).second) << m.keyword << " repeats a media class";
    }
    for (const qx316::Choice &q : qx316::optionInfo(qx316::OptionId::Quality).choices) {
        bool prints = false;
        for (const qx316::Choice &m : qx316::optionInfo(qx316::OptionId::Media).choices) {
            qx316::PrintOptions o;
            o.quality = q.code;
            o.media = m.code;
            prints = prints || qx316::queryMode(o).problem.empty();
        }
        EXPECT_TRUE(prints) << q.keyword;
    }
}

TEST(OptionTable, SetOptionTakesKeywordsAndCodes) {
    struct Case { qx316::OptionId id; const char *value; bool ok; int code; };
    const Case cases[] = {
        {qx316::OptionId::Quality, "q10", true, 10},   {qx316::OptionId::Quality, "15", true, 15},
        {qx316::OptionId::Quality, "7", true, 7},      {qx316::OptionId::Quality, "q7", false, 5},
        {qx316::OptionId::Quality, "40000", false, 5}, {qx316::OptionId::Media, "m26", true, 26},
        {qx316::OptionId::Media, "22", true, 22},      {qx316::OptionId::Head, "h1", true, 1},
        {qx316::OptionId::ColorMode, "Gray", true, 1}, {qx316::OptionId::ColorMode, "2", true, 2},
        {qx316::OptionId::Composite, "on", true, 1},   {qx316::OptionId::Composite, "yes please", false, 0},
        {qx316::OptionId::Paper, "banner", true, 1},   {qx316::OptionId::Paper, "2", false, 0},
        {qx316::OptionId::FormLength, "7016", true, 7016}, {qx316::OptionId::FormLength, "-1", false, 0},
        {qx316::OptionId::FormLength, "99999999", false, 0}, {qx316::OptionId::Quality, "", false, 5},
    };
    for (const Case &c : cases) {
        qx316::PrintOptions o;
        std::string err;
        EXPECT_EQ(qx316::setOption(o, c.id, c.value, err), c.ok) << c.value;
        EXPECT_EQ(qx316::getOption(o, c.id), c.code) << c.value;
        if (!c.ok) {
            EXPECT_NE(err.find(qx316::optionInfo(c.id).cliName), std::string::npos) << err;
        }
    }
}

TEST(OptionTable, ParamsCarryTheCodes) {
    qx316::PrintOptions o;
    o.quality = 10;
    o.media = 26;
    o.head = 1;
    o.colorMode = 2;
    o.composite = true;
    o.banner = true;
    const PrintParams p = qx316::makeParams(o);
    EXPECT_EQ(p.printQuality, 10);
    EXPECT_EQ(p.mediaType, 26);
    EXPECT_EQ(p.headCode, 1);
    EXPECT_EQ(p.colorMode, 2);
    EXPECT_EQ(p.compositeMode, 1);
    EXPECT_EQ(p.bannerPaper, 1);
    EXPECT_EQ(p.reserved0, 0);
}

TEST(ChoiceNames, SayWhatEachChoicePrintsWithinEightyBytes) {
    const qx316::PrintOptions context;
    for (const qx316::OptionInfo &o : qx316::optionTable())
        for (const qx316::Choice &c : o.choices) {
            const std::string name = qx316::choiceName(o.id, c, context);
            EXPECT_LE(name.size(), 80u) << name;
            EXPECT_EQ(name.rfind(c.label, 0), 0u) << name;
        }
    using qx316::OptionId;
    EXPECT_EQ(qx316::choiceName(OptionId::Quality, *qx316::findChoice(OptionId::Quality, "q5"), context),
              "Quality code 5: mode 9: CMY 4-bit paired, K 1-bit, 16-line bands");
    // Quality 0 prints only on media 26: its name says so.
    EXPECT_EQ(qx316::choiceName(OptionId::Quality, *qx316::findChoice(OptionId::Quality, "q0"), context),
              "Quality code 0: with Media code 26, mode 4: C3CDD9 2-bit patterns, 16-line bands");
}

} // namespace
