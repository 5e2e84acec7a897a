#include "platform/Cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// ---- Windows-1252 bytes and their UTF-8, both ways -----------------------------------

struct RoundTripCase {
    const char* name;
    std::string cp1252;
    std::string utf8;
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ConvertsBothWays) {
    EXPECT_EQ(Cp1252::toUtf8(GetParam().cp1252), GetParam().utf8);
    EXPECT_EQ(Cp1252::fromUtf8(GetParam().utf8), GetParam().cp1252);
}

const RoundTripCase RoundTripCases[] = {
    {"plain_ascii", "Track 01", "Track 01"},
    {"latin1_letter", "Caf\xE9", "Caf\xC3\xA9"},       // U+00E9
    {"euro_sign", "\x80", "\xE2\x82\xAC"},             // U+20AC
    {"y_diaeresis_last_of_block", "\x9F", "\xC5\xB8"}, // U+0178
    {"unassigned_byte_as_c1_control", "\x81\x9D", "\xC2\x81\xC2\x9D"},
    {"trademark_and_dash", "\x99\x96", "\xE2\x84\xA2\xE2\x80\x93"}, // U+2122, U+2013
};

INSTANTIATE_TEST_SUITE_P(Cases, RoundTrip, testing::ValuesIn(RoundTripCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The 0x80-0x9F block as published for the code page; the five bytes it leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control of the same value.
TEST(Cp1252, EveryByteOfTheHighBlockHasItsCodePoint) {
    const char32_t expected[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80-0x87
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88-0x8F
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90-0x97
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98-0x9F
    };
    for (int b = 0x80; b <= 0x9F; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(Cp1252::toUnicode(static_cast<unsigned char>(b)), expected[b - 0x80]);
        EXPECT_EQ(static_cast<unsigned char>(Cp1252::fromUnicode(expected[b - 0x80])), b);
    }
    // The same bytes through the UTF-8 conversion: a left and a right single quote.
    EXPECT_EQ(Cp1252::toUtf8("\x91\x92"), "\xE2\x80\x98\xE2\x80\x99");
}

TEST(Cp1252, EveryByteOfTheHighBlockSurvivesARoundTrip) {
    std::string bytes;
    for (int b = 0x80; b <= 0x9F; ++b)
        bytes += static_cast<char>(b);
    const std::string utf8 = Cp1252::toUtf8(bytes);
    EXPECT_TRUE(Cp1252::isValidUtf8(utf8));
    EXPECT_EQ(Cp1252::fromUtf8(utf8), bytes);
}

// ---- UTF-8 the code page cannot hold ------------------------------------------------

struct LossyCase {
    const char* name;
    std::string utf8;
    std::string cp1252;
};

class Lossy : public testing::TestWithParam<LossyCase> {};

TEST_P(Lossy, BecomesQuestionMarks) {
    EXPECT_EQ(Cp1252::fromUtf8(GetParam().utf8), GetParam().cp1252);
}

const LossyCase LossyCases[] = {
    {"cyrillic_letter",
     "A\xD0\x96"
     "B",
     "A?B"},                                       // U+0416, one '?'
    {"emoji_four_bytes", "\xF0\x9F\x8E\xB5", "?"}, // U+1F3B5
    {"stray_continuation_byte", "x\x80y", "x?y"},
    {"truncated_sequence", "ab\xE2\x82", "ab??"}, // every byte that starts none
    {"latin1_bytes_not_utf8", "Caf\xE9!", "Caf?!"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Lossy, testing::ValuesIn(LossyCases),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- well-formed UTF-8 ----------------------------------------------------------------

struct ValidityCase {
    const char* name;
    std::string text;
    bool valid;
};

class Validity : public testing::TestWithParam<ValidityCase> {};

TEST_P(Validity, TellsWellFormedText) {
    EXPECT_EQ(Cp1252::isValidUtf8(GetParam().text), GetParam().valid);
}

const ValidityCase ValidityCases[] = {
    {"empty", "", true},
    {"two_three_and_four_bytes", "\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF", true},
    {"overlong_slash", "\xE0\x80\xAF", false}, // '/' in three bytes
    {"surrogate", "\xED\xA0\x80", false},      // U+D800
    {"above_u10ffff", "\xF4\x90\x80\x80", false},
    {"truncated", "\xC3", false},
};

INSTANTIATE_TEST_SUITE_P(Cases, Validity, testing::ValuesIn(ValidityCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
