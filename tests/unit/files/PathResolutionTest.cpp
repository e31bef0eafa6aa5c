// Path resolution: the documented examples, the length limits, and containment of
// every resolved path inside the home directory.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "files/PathResolution.h"

namespace corvel {
namespace {

const std::string kHome = "/srv/ftp/alice";

TEST(PathResolution, EmptyArgumentNamesTheCurrentDirectory) {
    ResolvedPath r = resolvePath(kHome, "pub", "", '/');
    ASSERT_EQ(r.status, PathStatus::Resolved);
    EXPECT_EQ(r.normalised, "pub");
    EXPECT_EQ(r.localPath, "/srv/ftp/alice/pub");
}

TEST(PathResolution, BothRootFormsResolveToTheHomeDirectory) {
    for (const char* current : {"/", ""}) {
        ResolvedPath r = resolvePath(kHome, current, "", '/');
        ASSERT_EQ(r.status, PathStatus::Resolved);
        EXPECT_EQ(r.normalised, "");
        EXPECT_EQ(r.localPath, kHome);
    }
}

TEST(PathResolution, RelativeArgumentsJoinTheCurrentDirectory) {
    ResolvedPath r = resolvePath(kHome, "x", "a\\b/../c", '/');
    ASSERT_EQ(r.status, PathStatus::Resolved);
    EXPECT_EQ(r.normalised, "x/a/c");
    EXPECT_EQ(r.localPath, "/srv/ftp/alice/x/a/c");
}

TEST(PathResolution, AbsoluteArgumentsIgnoreTheCurrentDirectory) {
    ResolvedPath r = resolvePath(kHome, "x", "/a/./b//c/", '/');
    ASSERT_EQ(r.status, PathStatus::Resolved);
    EXPECT_EQ(r.normalised, "a/b/c");
    EXPECT_EQ(r.localPath, "/srv/ftp/alice/a/b/c");
}

TEST(PathResolution, TheSeparatorShapesOnlyTheNormalisedText) {
    ResolvedPath r = resolvePath(kHome, "a", "b", '\\');
    ASSERT_EQ(r.status, PathStatus::Resolved);
    EXPECT_EQ(r.normalised, "a\\b");
    EXPECT_EQ(r.localPath, "/srv/ftp/alice/a/b");
}

TEST(PathResolution, ClimbingAboveTheRootIsEscapedEvenWhenTheEndIsInside) {
    ResolvedPath r = resolvePath(kHome, "/", "/a/../../b", '/');
    EXPECT_EQ(r.status, PathStatus::Escaped);
    EXPECT_EQ(r.normalised, "b");
    EXPECT_EQ(r.localPath, "");

    ResolvedPath up = resolvePath(kHome, "", "..", '/');
    EXPECT_EQ(up.status, PathStatus::Escaped);
    EXPECT_EQ(up.normalised, "");

    ResolvedPath listUp = resolvePath(kHome, "pub", "../..", '/');
    EXPECT_EQ(listUp.status, PathStatus::Escaped);
}

TEST(PathResolution, HomeTrailingSeparatorsAndTheSystemRootJoinCleanly) {
    EXPECT_EQ(resolvePath("/srv/ftp/alice/", "", "a", '/').localPath, "/srv/ftp/alice/a");
    EXPECT_EQ(resolvePath("/srv//ftp/./alice//", "", "a", '/').localPath, "/srv/ftp/alice/a");
    EXPECT_EQ(resolvePath("/", "", "a/b", '/').localPath, "/a/b");
    EXPECT_EQ(resolvePath("/", "", "", '/').localPath, "/");
}

TEST(PathResolution, RefusesAVirtualTextOver4095Characters) {
    ResolvedPath r = resolvePath("/h", "", "/" + std::string(4095, 'a'), '/');
    EXPECT_EQ(r.status, PathStatus::Invalid);
    EXPECT_EQ(r.normalised, "");
    // The current directory + "\" counts too.
    EXPECT_EQ(resolvePath("/h", std::string(4000, 'c'), std::string(95, 'a'), '/').status, PathStatus::Invalid);
    // Too long comes before climbing above the root.
    EXPECT_EQ(resolvePath("/h", "", "/.." + std::string(4093, '/'), '/').status, PathStatus::Invalid);
    EXPECT_EQ(resolvePath("/h", "", "/.." + std::string(4092, '/'), '/').status, PathStatus::Escaped);
}

TEST(PathResolution, RefusesHomePlusTextOver4095Characters) {
    std::string home = "/" + std::string(99, 'h');  // 100 characters
    std::string fits = "/" + std::string(4095 - 100 - 1 - 1, 'a');  // home + "\" + text = 4095
    EXPECT_EQ(resolvePath(home, "", fits, '/').status, PathStatus::Resolved);
    ResolvedPath r = resolvePath(home, "", fits + "a", '/');
    EXPECT_EQ(r.status, PathStatus::Invalid);
    EXPECT_EQ(r.normalised, "");
}

TEST(PathResolution, EscapeIsReportedBeforeTheHomeLengthLimit) {
    // RNTO's order: "climbs above the root" comes before "home + text too long".
    std::string home = "/" + std::string(3000, 'h');
    EXPECT_EQ(resolvePath(home, "", "/../" + std::string(2000, 'a'), '/').status, PathStatus::Escaped);
}

TEST(PathResolution, RefusesNulBytes) {
    EXPECT_EQ(resolvePath(kHome, "", std::string("a\0/../../x", 10), '/').status, PathStatus::Invalid);
    EXPECT_EQ(resolvePath(kHome, std::string("d\0", 2), "a", '/').status, PathStatus::Invalid);
    EXPECT_EQ(resolvePath(std::string("/srv\0/x", 7), "", "a", '/').status, PathStatus::Invalid);
}

TEST(PathResolution, RefusesAHomeThatIsNotAnAbsolutePath) {
    EXPECT_EQ(resolvePath("", "", "a", '/').status, PathStatus::Invalid);
    EXPECT_EQ(resolvePath("srv/ftp", "", "a", '/').status, PathStatus::Invalid);
    EXPECT_EQ(resolvePath("C:\\ftp", "", "a", '/').status, PathStatus::Invalid);
}

TEST(PathResolution, LocalPathOfServesTheWebBrowserToo) {
    EXPECT_EQ(localPathOf(kHome, VirtualPath::parse("docs\\a b", '\\')), "/srv/ftp/alice/docs/a b");
    EXPECT_EQ(localPathOf(kHome, VirtualPath::parse("..", '\\')), std::nullopt);
    EXPECT_EQ(localPathOf(kHome, VirtualPath::parse(std::string(4096, 'a'), '\\')), std::nullopt);
}

bool isInside(const std::string& local, const std::string& home) {
    if (local == home) return true;
    if (local.compare(0, home.size(), home) != 0 || local[home.size()] != '/') return false;
    std::string rest = local.substr(home.size());  // "/name/name"
    // No name of the rest may be empty, "." or "..".
    std::size_t start = 1;
    while (start <= rest.size()) {
        std::size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        std::string name = rest.substr(start, end - start);
        if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos) return false;
        start = end + 1;
    }
    return true;
}

TEST(PathResolution, NeverResolvesOutsideTheHomeDirectoryOnHostileInput) {
    const char* pieces[] = {"..", ".", "...", "", "a", "b.", "..a", "\\", "/", "//", "\\..\\", "/../", " ", "%2e%2e"};
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> count(0, 12);
    int resolved = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string current, argument;
        for (int n = count(random); n > 0; --n) current += pieces[pick(random)];
        for (int n = count(random); n > 0; --n) argument += pieces[pick(random)];
        // The session only ever holds a normalised current directory.
        VirtualPath cwd = VirtualPath::parse(current, '/');
        std::string held = cwd.escaped() ? std::string("/") : cwd.joined();
        for (char separator : {'/', '\\'}) {
            ResolvedPath r = resolvePath(kHome, held, argument, separator);
            if (r.status != PathStatus::Resolved) continue;
            ++resolved;
            ASSERT_TRUE(isInside(r.localPath, kHome)) << "current=" << held << " argument=" << argument;
        }
    }
    EXPECT_GT(resolved, 1000);
}

}  // namespace
}  // namespace corvel
