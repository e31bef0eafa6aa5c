// The choice of a download's part from a Range header, by table: the three forms
// of one range and their clamping, what is unsatisfiable, and what is ignored.
#include <gtest/gtest.h>

#include "web/ByteRange.h"

namespace corvel {
namespace {

using Kind = RangeChoice::Kind;
constexpr RangeChoice kWhole{};
constexpr RangeChoice kNone{Kind::Unsatisfiable};

struct Case {
    const char* value;
    std::int64_t size;
    RangeChoice expected;
};

void expectChoices(std::initializer_list<Case> cases) {
    for (const Case& c : cases)
        EXPECT_EQ(chooseRange(c.value, c.size), c.expected) << '"' << c.value << "\" of " << c.size;
}

TEST(ChooseRange, OneRangeGivesAPartWithinTheFile) {
    expectChoices({
        {"bytes=100-199", 1000, {Kind::Part, 100, 199}}, {"bytes=999-999", 1000, {Kind::Part, 999, 999}},
        {"bytes=500-", 1000, {Kind::Part, 500, 999}},    {"bytes=-300", 1000, {Kind::Part, 700, 999}},
        {"BYTES=1-2", 1000, {Kind::Part, 1, 2}},         {"bytes= 7-8 ,", 1000, {Kind::Part, 7, 8}},
        // Past the end: cut to the last byte; the digits saturate instead of wrapping.
        {"bytes=900-5000", 1000, {Kind::Part, 900, 999}}, {"bytes=-5000", 1000, {Kind::Part, 0, 999}},
        {"bytes=0-99999999999999999999999999", 1000, {Kind::Part, 0, 999}},
        {"bytes=-99999999999999999999999999", 1000, {Kind::Part, 0, 999}},
    });
}

TEST(ChooseRange, NoExistingByteIsUnsatisfiableAndSeveralRangesGetTheWholeFile) {
    expectChoices({
        {"bytes=1000-", 1000, kNone}, {"bytes=99999999999999999999999999-", 1000, kNone},
        {"bytes=-0", 1000, kNone},    {"bytes=1000-,2000-3000,-0", 1000, kNone},
        {"bytes=0-", 0, kNone},       {"bytes=-5", 0, kWhole},  // a suffix of an empty file is all of it
        {"bytes=0-1,5-6", 1000, kWhole}, {"bytes=5000-, -1", 1000, kWhole},
    });
}

TEST(ChooseRange, InvalidValuesAreIgnored) {
    expectChoices({
        {"", 1000, kWhole},           {"bytes=", 1000, kWhole},       {"bytes=-", 1000, kWhole},
        {"bytes=5-1", 1000, kWhole},  {"bytes=0-1,5-1", 1000, kWhole}, {"bytes=1-2x", 1000, kWhole},
        {"bytes=1 -2", 1000, kWhole}, {"bytes=+1-2", 1000, kWhole},   {"bytes=1-2-3", 1000, kWhole},
        {"bytes =1-2", 1000, kWhole}, {"items=1-2", 1000, kWhole},    {"bytesx=1-2", 1000, kWhole},
    });
}

}  // namespace
}  // namespace corvel
