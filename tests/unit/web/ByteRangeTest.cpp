// The choice of a download's part from a Range header, against a file of 1000
// bytes unless a case says otherwise: forms, clamping, the unsatisfiable ones, and
// the values that are ignored.
#include <gtest/gtest.h>

#include "web/ByteRange.h"

namespace corvel {
namespace {

using Kind = RangeChoice::Kind;

struct Case {
    const char* value;
    std::int64_t size;
    RangeChoice expected;
};

void expectChoices(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(chooseRange(c.value, c.size), c.expected) << '"' << c.value << "\" of " << c.size;
}

TEST(ChooseRange, TheThreeFormsOfOneRange) {
    expectChoices({
        {"bytes=100-199", 1000, {Kind::Part, 100, 199}},
        {"bytes=0-0", 1000, {Kind::Part, 0, 0}},
        {"bytes=999-999", 1000, {Kind::Part, 999, 999}},
        {"bytes=500-", 1000, {Kind::Part, 500, 999}},
        {"bytes=0-", 1000, {Kind::Part, 0, 999}},
        {"bytes=-1", 1000, {Kind::Part, 999, 999}},
        {"bytes=-300", 1000, {Kind::Part, 700, 999}},
        {"BYTES=1-2", 1000, {Kind::Part, 1, 2}},  // the unit is case-insensitive
        {"bytes= 7-8 ", 1000, {Kind::Part, 7, 8}},
        {"bytes=,7-8,", 1000, {Kind::Part, 7, 8}},  // empty list elements are skipped
    });
}

TEST(ChooseRange, PositionsPastTheEndAreCut) {
    expectChoices({
        {"bytes=900-5000", 1000, {Kind::Part, 900, 999}},
        {"bytes=0-99999999999999999999999999", 1000, {Kind::Part, 0, 999}},  // saturates, never wraps
        {"bytes=-1000", 1000, {Kind::Part, 0, 999}},
        {"bytes=-5000", 1000, {Kind::Part, 0, 999}},
        {"bytes=-99999999999999999999999999", 1000, {Kind::Part, 0, 999}},
    });
}

TEST(ChooseRange, RangesWithoutAnyExistingByteAreUnsatisfiable) {
    expectChoices({
        {"bytes=1000-", 1000, {Kind::Unsatisfiable}},
        {"bytes=1000-2000", 1000, {Kind::Unsatisfiable}},
        {"bytes=99999999999999999999999999-", 1000, {Kind::Unsatisfiable}},
        {"bytes=-0", 1000, {Kind::Unsatisfiable}},
        {"bytes=1000-,2000-3000,-0", 1000, {Kind::Unsatisfiable}},
        {"bytes=0-", 0, {Kind::Unsatisfiable}},
        {"bytes=0-0", 0, {Kind::Unsatisfiable}},
    });
}

TEST(ChooseRange, SeveralRangesAndEmptyFilesGetTheWholeFile) {
    expectChoices({
        {"bytes=0-1,5-6", 1000, {}},
        {"bytes=0-1, 2000-", 1000, {}},  // one of them is satisfiable
        {"bytes=5000-, -1", 1000, {}},
        {"bytes=-5", 0, {}},  // a suffix of an empty file is all of it: nothing
    });
}

TEST(ChooseRange, InvalidValuesAreIgnored) {
    expectChoices({
        {"", 1000, {}},
        {"bytes", 1000, {}},
        {"bytes=", 1000, {}},
        {"bytes=,", 1000, {}},
        {"bytes=-", 1000, {}},
        {"bytes=5-1", 1000, {}},  // last before first
        {"bytes=0-1,5-1", 1000, {}},  // one invalid element spoils the set
        {"bytes=5000-1", 1000, {}},
        {"bytes=a-b", 1000, {}},
        {"bytes=1-2x", 1000, {}},
        {"bytes=1 -2", 1000, {}},
        {"bytes=+1-2", 1000, {}},
        {"bytes=--1", 1000, {}},
        {"bytes=1-2-3", 1000, {}},
        {"bytes =1-2", 1000, {}},
        {"items=1-2", 1000, {}},
        {"bytesx=1-2", 1000, {}},
        {"byte=1-2", 1000, {}},
        {"1-2", 1000, {}},
    });
}

}  // namespace
}  // namespace corvel
